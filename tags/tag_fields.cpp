#include "tags/tag_fields.h"

#include <cstdint>

#include "platform/ini_file.h"
#include "platform/text_codec.h"
#include "tags/apev2_tags.h"
#include "tags/id3v1_tags.h"
#include "tags/id3v2_tags.h"
#include "tags/vorbis_tags.h"

namespace {

constexpr std::size_t Index(TTagField Field) { return static_cast<std::size_t>(Field); }

// Where a keyed container holds a field, and whether as narrow text.
struct TFieldKey {
  const char* Key;
  bool Narrow;
};
using TKeyMap = std::array<TFieldKey, kTagFields.size()>;

constexpr TKeyMap kApeKeys = {{
    {"Title", false}, {"Artist", false}, {"Album", false}, {"Year", true},
    {"Track", true},  {"Genre", false},  {"Comment", false},
}};
// Vorbis comments have no comment field of their own among the keys.
constexpr TKeyMap kVorbisKeys = {{
    {"title", false}, {"artist", false}, {"album", false}, {"date", false},
    {"tracknumber", false}, {"genre", false}, {nullptr, false},
}};

TId3v2Tags::TFrameIndex FrameOf(TTagField Field) {
  switch (Field) {
    case TTagField::Title: return TId3v2Tags::fiTitle;
    case TTagField::Artist: return TId3v2Tags::fiArtist;
    case TTagField::Album: return TId3v2Tags::fiAlbum;
    case TTagField::Date: return TId3v2Tags::fiYear;
    case TTagField::Track: return TId3v2Tags::fiTrack;
    case TTagField::Genre: return TId3v2Tags::fiGenre;
    case TTagField::Comment: return TId3v2Tags::fiComment;
  }
  return TId3v2Tags::fiTitle;
}

// A container of another format: the first of the usual names it has.
std::string GenericKey(const TAuTags& Tags, TTagField Field) {
  static const std::array<std::array<const char*, 2>, kTagFields.size()> names = {{
      {"title", nullptr}, {"artist", nullptr}, {"album", nullptr}, {"date", "year"},
      {"tracknumber", "track"}, {"genre", nullptr}, {"comment", "description"},
  }};
  for (const char* name : names[Index(Field)]) {
    if (name != nullptr && Tags.HasKey(name)) return name;
  }
  return {};
}

// The key and kind of a field in a container other than ID3v1; an empty
// key when the format has none.
TFieldKey KeyOf(const TAuTags& Tags, TTagField Field, std::string& Storage) {
  if (const auto* id3v2 = dynamic_cast<const TId3v2Tags*>(&Tags)) {
    Storage = id3v2->FrameId(FrameOf(Field));
    return {Storage.c_str(), Field == TTagField::Date || Field == TTagField::Track};
  }
  if (dynamic_cast<const TAPEv2Tags*>(&Tags) != nullptr) return kApeKeys[Index(Field)];
  if (dynamic_cast<const TVorbisTags*>(&Tags) != nullptr) {
    const TFieldKey key = kVorbisKeys[Index(Field)];
    return key.Key != nullptr ? key : TFieldKey{"", false};
  }
  Storage = GenericKey(Tags, Field);
  return {Storage.c_str(), false};
}

const char* Id3v1Key(TTagField Field) {
  switch (Field) {
    case TTagField::Title: return "title";
    case TTagField::Artist: return "artist";
    case TTagField::Album: return "album";
    case TTagField::Date: return "year";
    case TTagField::Track: return "track";
    case TTagField::Genre: return "genre";
    case TTagField::Comment: return "comment";
  }
  return "title";
}

std::u16string ReadId3v1(const TId3v1Tags& Tags, TTagField Field) {
  const char* key = Id3v1Key(Field);
  const TagValue value = Tags.GetValue(key);
  if (value.Kind() != TagValue::TKind::Integer) return Tags.GetWideString(key);
  const std::int64_t number = value.AsInteger();
  if (Field == TTagField::Genre) {
    if (number < 0 || number >= kId3v1GenreCount) return {};
    return platform::Cp1252ToUtf16(kId3v1Genres[static_cast<std::size_t>(number)]);
  }
  // A year or track of 0 is the block's "none".
  return number == 0 ? std::u16string() : platform::Cp1252ToUtf16(std::to_string(number));
}

void WriteId3v1(TId3v1Tags& Tags, TTagField Field, std::u16string_view Value) {
  const std::string narrow = platform::Utf16ToCp1252(Value);
  switch (Field) {
    case TTagField::Genre:
      Tags.SetGenre(narrow);
      return;
    case TTagField::Date:
    case TTagField::Track:
      // The number as it is: one the block cannot hold (a year of five
      // digits, a track above 255) is left out of it rather than cut down
      // to a different number.
      if (!narrow.empty()) Tags.SetValue(Id3v1Key(Field), platform::IniTextToInt(narrow));
      return;
    default:
      Tags.SetValue(Id3v1Key(Field), narrow);
      return;
  }
}

}  // namespace

std::u16string& TTagFields::operator[](TTagField Field) {
  return const_cast<std::u16string&>(static_cast<const TTagFields&>(*this)[Field]);
}

const std::u16string& TTagFields::operator[](TTagField Field) const {
  switch (Field) {
    case TTagField::Title: return Title;
    case TTagField::Artist: return Artist;
    case TTagField::Album: return Album;
    case TTagField::Date: return Date;
    case TTagField::Track: return Track;
    case TTagField::Genre: return Genre;
    case TTagField::Comment: return Comment;
  }
  return Title;
}

std::u16string ReadTagField(const TAuTags& Tags, TTagField Field) {
  if (const auto* id3v1 = dynamic_cast<const TId3v1Tags*>(&Tags)) return ReadId3v1(*id3v1, Field);
  std::string storage;
  const TFieldKey key = KeyOf(Tags, Field, storage);
  if (*key.Key == '\0') return {};
  return Tags.GetWideString(key.Key);
}

void WriteTagField(TAuTags& Tags, TTagField Field, std::u16string_view Value) {
  if (auto* id3v1 = dynamic_cast<TId3v1Tags*>(&Tags)) {
    WriteId3v1(*id3v1, Field, Value);
    return;
  }
  std::string storage;
  const TFieldKey key = KeyOf(Tags, Field, storage);
  if (*key.Key == '\0') return;
  if (key.Narrow) {
    Tags.SetValue(key.Key, platform::Utf16ToCp1252(Value));
  } else {
    Tags.SetValue(key.Key, std::u16string(Value));
  }
}

TTagFields ReadTagFields(const TAuTags& Tags) {
  TTagFields fields;
  for (const TTagField field : kTagFields) fields[field] = ReadTagField(Tags, field);
  return fields;
}

void WriteTagFields(TAuTags& Tags, const TTagFields& Fields) {
  for (const TTagField field : kTagFields) {
    if (!Fields[field].empty()) WriteTagField(Tags, field, Fields[field]);
  }
}
