// The ID3v1 container: the 128-byte block at the end of a file.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "tags/au_tags.h"

using TId3v1TagsGenreId = std::uint8_t;

// The published ID3v1 genre list with its common extension, ids 0..147.
inline constexpr int kId3v1GenreCount = 148;
extern const std::array<const char*, kId3v1GenreCount> kId3v1Genres;

// The genre every container starts with ("Other").
inline constexpr TId3v1TagsGenreId kId3v1DefaultGenreId = 12;

inline constexpr std::size_t kId3v1BlockSize = 128;

class TId3v1Tags : public TAuTags {
 public:
  TId3v1Tags();
  std::string ClassName() const override { return "TId3v1Tags"; }

  std::string Title() const { return GetString("title"); }
  void SetTitle(std::string_view Value) { SetValue("title", std::string(Value)); }
  std::string Artist() const { return GetString("artist"); }
  void SetArtist(std::string_view Value) { SetValue("artist", std::string(Value)); }
  std::string Album() const { return GetString("album"); }
  void SetAlbum(std::string_view Value) { SetValue("album", std::string(Value)); }
  std::uint16_t Year() const { return static_cast<std::uint16_t>(GetInteger("year")); }
  void SetYear(std::uint16_t Value) { SetValue("year", Value); }
  std::string Comment() const { return GetString("comment"); }
  void SetComment(std::string_view Value) { SetValue("comment", std::string(Value)); }
  std::uint8_t Track() const { return static_cast<std::uint8_t>(GetInteger("track")); }
  void SetTrack(std::uint8_t Value) { SetValue("track", Value); }

  // The genre table's name for GenreId.
  std::string Genre() const;
  // Stores the id of the first table name that matches Value, trimmed and
  // compared without regard to case; an unknown name changes nothing.
  void SetGenre(std::string_view Value);
  // The stored genre number; anything outside 0..147, or no genre at all,
  // reads as 12.
  TId3v1TagsGenreId GenreId() const;
  void SetGenreId(TId3v1TagsGenreId Value) { SetValue("genre", Value); }

  bool HasTag(int FileHandle) override;
  bool ReadFromFile(int FileHandle) override;
  // Appends one block at the end of the file; Unicode is not used.
  bool WriteToFile(int FileHandle, bool Unicode) override;

  // The block these values make, as WriteToFile writes it.
  std::array<unsigned char, kId3v1BlockSize> MakeBlock() const;
  // Takes the values of a block (which must start with "TAG").
  void ParseBlock(const std::array<unsigned char, kId3v1BlockSize>& Block);
};
