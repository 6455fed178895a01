#include "tags/stream_comment_tags.h"

#include "platform/text_codec.h"

TStreamCommentTags::TStreamCommentTags() {
  // The names the neutral tag fields look for in a container of their own.
  for (const char* key : {"album", "artist", "comment", "date", "genre", "title", "tracknumber"}) AddKey(key);
}

std::vector<std::pair<std::string, std::string>> TStreamCommentTags::CommentFields() const {
  std::vector<std::pair<std::string, std::string>> fields;
  for (int i = 0; i < Count(); ++i) {
    std::string name = KeyAt(i);
    std::string value = platform::Utf16ToUtf8(GetWideString(name));
    if (value.empty()) continue;
    for (char& c : name) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    fields.emplace_back(std::move(name), std::move(value));
  }
  return fields;
}
