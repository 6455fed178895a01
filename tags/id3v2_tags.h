// The ID3v2 container: reads tags of versions 2, 3 and 4 at the current file
// position and writes a version-4 tag in front of the whole file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tags/au_tags.h"
#include "tags/tag_file_io.h"

inline constexpr int kId3v2FrameCount = 12;
// Frame ids by property index: version 2, and versions 3 and 4.
extern const std::array<const char*, kId3v2FrameCount> kId3v2FrameIdsV2;
extern const std::array<const char*, kId3v2FrameCount> kId3v2FrameIdsV3;

inline constexpr std::size_t kId3v2HeaderSize = 10;
inline constexpr std::size_t kId3v2FooterSize = 10;

class TId3v2Tags : public TAuTags {
 public:
  enum TFrameIndex {
    fiAlbum, fiArtist, fiGenre, fiTitle, fiTrack, fiYear, fiComment,
    fiComposer, fiEncoder, fiCopyright, fiLanguage, fiLink,
  };

  TId3v2Tags();
  std::string ClassName() const override { return "TId3v2Tags"; }

  // True for the four-letter frame ids of versions 3 and 4, false after a
  // version-2 tag was read; the properties use the ids it selects.
  bool NewFrameIds() const { return FNewFrameIds; }
  // The key a property index stands for under the current NewFrameIds.
  std::string FrameId(TFrameIndex Index) const;

  std::u16string Album() const { return GetWideString(FrameId(fiAlbum)); }
  void SetAlbum(std::u16string_view Value) { SetWide(fiAlbum, Value); }
  std::u16string Artist() const { return GetWideString(FrameId(fiArtist)); }
  void SetArtist(std::u16string_view Value) { SetWide(fiArtist, Value); }
  std::u16string Genre() const { return GetWideString(FrameId(fiGenre)); }
  void SetGenre(std::u16string_view Value) { SetWide(fiGenre, Value); }
  std::u16string Title() const { return GetWideString(FrameId(fiTitle)); }
  void SetTitle(std::u16string_view Value) { SetWide(fiTitle, Value); }
  std::string Track() const { return GetString(FrameId(fiTrack)); }
  void SetTrack(std::string_view Value) { SetValue(FrameId(fiTrack), std::string(Value)); }
  std::string Year() const { return GetString(FrameId(fiYear)); }
  void SetYear(std::string_view Value) { SetValue(FrameId(fiYear), std::string(Value)); }
  std::u16string Comment() const { return GetWideString(FrameId(fiComment)); }
  void SetComment(std::u16string_view Value) { SetWide(fiComment, Value); }
  std::u16string Composer() const { return GetWideString(FrameId(fiComposer)); }
  void SetComposer(std::u16string_view Value) { SetWide(fiComposer, Value); }
  std::u16string Encoder() const { return GetWideString(FrameId(fiEncoder)); }
  void SetEncoder(std::u16string_view Value) { SetWide(fiEncoder, Value); }
  std::u16string Copyright() const { return GetWideString(FrameId(fiCopyright)); }
  void SetCopyright(std::u16string_view Value) { SetWide(fiCopyright, Value); }
  std::u16string Language() const { return GetWideString(FrameId(fiLanguage)); }
  void SetLanguage(std::u16string_view Value) { SetWide(fiLanguage, Value); }
  std::u16string Link() const { return GetWideString(FrameId(fiLink)); }
  void SetLink(std::u16string_view Value) { SetWide(fiLink, Value); }

  // Tests 10 bytes at the current position as a header; the position is kept.
  bool HasTag(int FileHandle) override;
  // Parses a tag that starts at the current position and leaves the position
  // after it. True when the header is valid.
  bool ReadFromFile(int FileHandle) override;
  // Puts a version-4 tag in front of the whole file. With Unicode, wide
  // values are written as UTF-8.
  bool WriteToFile(int FileHandle, bool Unicode) override;

  // The whole length of the tag a header announces (header, frames, padding
  // and a footer when flagged), or nothing when the header is not valid.
  static std::optional<std::int64_t> TagLength(const std::array<unsigned char, kId3v2HeaderSize>& Header);

  // The tag WriteToFile puts in front of the file; nothing when a value is
  // too large for a tag.
  std::optional<std::vector<unsigned char>> MakeTag(bool Unicode) const;

 private:
  void SetWide(TFrameIndex Index, std::u16string_view Value) { SetValue(FrameId(Index), std::u16string(Value)); }
  // Takes the frames of a tag body of the given version; FramesLength is
  // the part of the body before a footer.
  void ParseFrames(int Version, const tagio::TFileRange& Body, std::size_t FramesLength);
  // The property index of a frame id under the current NewFrameIds, or -1.
  int FrameIndex(std::string_view Id) const;
  void TakeFrame(std::string_view Id, const unsigned char* Content, std::size_t Size);

  bool FNewFrameIds = true;
};
