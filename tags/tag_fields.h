// The tag properties every container carries in some form: title, artist,
// album, date (the year), track, genre and comment. Each container maps them
// to its own keys and value kinds, so tags travel between any two formats,
// and from any other source of tags (CD-Text), through one set of fields.
#pragma once

#include <array>
#include <string>
#include <string_view>

class TAuTags;

enum class TTagField { Title, Artist, Album, Date, Track, Genre, Comment };

inline constexpr std::array<TTagField, 7> kTagFields = {
    TTagField::Title, TTagField::Artist, TTagField::Album,  TTagField::Date,
    TTagField::Track, TTagField::Genre,  TTagField::Comment,
};

// The fields as UTF-16 text; an empty text is a field without a value.
struct TTagFields {
  std::u16string Title;
  std::u16string Artist;
  std::u16string Album;
  std::u16string Date;
  std::u16string Track;
  std::u16string Genre;
  std::u16string Comment;

  std::u16string& operator[](TTagField Field);
  const std::u16string& operator[](TTagField Field) const;
  bool operator==(const TTagFields&) const = default;
};

// The container's value of the field as text: narrow text widened from the
// 8-bit code page, numbers in decimal, an ID3v1 genre by its name. Empty
// when the container holds no such value (an ID3v1 year or track of 0, a
// genre id outside the table, a field the format has no key for).
std::u16string ReadTagField(const TAuTags& Tags, TTagField Field);

// Stores Value as the container's field, in the container's own kind:
// narrow fields (every ID3v1 text; Year and Track of ID3v2 and APEv2) are
// converted to the 8-bit code page; ID3v1 Year and Track become integers
// and its Genre a genre id (a name not in the table changes nothing). Text
// fields store Value even when it is empty. An empty Value leaves an
// integer field alone; any other text that is not a decimal integer raises
// std::runtime_error "'text' is not a valid integer value". A field the
// format has no key for is skipped.
void WriteTagField(TAuTags& Tags, TTagField Field, std::u16string_view Value);

TTagFields ReadTagFields(const TAuTags& Tags);
// Writes the fields that are not empty, in the order of kTagFields; the
// container's other values stay.
void WriteTagFields(TAuTags& Tags, const TTagFields& Fields);
