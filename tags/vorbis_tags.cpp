#include "tags/vorbis_tags.h"

#include <array>

#include "platform/text_codec.h"

TVorbisTags::TVorbisTags() {
  for (const char* key : {"album", "artist", "date", "genre", "title", "tracknumber", "discnumber", "replaygain_reference_loudness", "replaygain_track_gain", "replaygain_track_peak", "replaygain_album_gain", "replaygain_album_peak"})
    AddKey(key);
}

std::vector<std::pair<std::string, std::string>> TVorbisTags::CommentFields() const {
  std::vector<std::pair<std::string, std::string>> fields;
  for (int i = 0; i < Count(); ++i) {
    const std::string key = KeyAt(i);
    std::string value = platform::Utf16ToUtf8(GetWideString(key));
    if (!value.empty()) fields.emplace_back(key, std::move(value));
  }
  return fields;
}

void TVorbisTags::ReadComment(std::string_view Comment) {
  static constexpr std::array<const char*, 6> kReadFields = {"artist", "album", "title", "date", "genre", "tracknumber"};
  const std::size_t equals = Comment.find('=');
  std::string name(equals == std::string_view::npos ? std::string_view() : Comment.substr(0, equals));
  const std::string_view value = equals == std::string_view::npos ? Comment : Comment.substr(equals + 1);
  for (char& c : name)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  for (const char* field : kReadFields)
    if (name == field) SetValue(field, platform::Utf8ToUtf16(value));
}
