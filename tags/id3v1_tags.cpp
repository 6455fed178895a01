#include "tags/id3v1_tags.h"

#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "tags/tag_file_io.h"

const std::array<const char*, kId3v1GenreCount> kId3v1Genres = {
    "Blues", "Classic Rock", "Country", "Dance", "Disco", "Funk", "Grunge", "Hip-Hop", "Jazz", "Metal",
    "New Age", "Oldies", "Other", "Pop", "R&B", "Rap", "Reggae", "Rock", "Techno", "Industrial",
    "Alternative", "Ska", "Death metal", "Pranks", "Soundtrack", "Euro-Techno", "Ambient", "Trip-Hop",
    "Vocal", "Jazz+Funk", "Fusion", "Trance", "Classical", "Instrumental", "Acid", "House", "Game",
    "Sound Clip", "Gospel", "Noise", "Alt. Rock", "Bass", "Soul", "Punk", "Space", "Meditative",
    "Instrumental pop", "Instrumental rock", "Ethnic", "Gothic", "Darkwave", "Techno-Industrial",
    "Electronic", "Pop-Folk", "Eurodance", "Dream", "Southern Rock", "Comedy", "Cult", "Gangsta",
    "Top 40", "Christian Rap", "Pop/Funk", "Jungle", "Native American", "Cabaret", "New Wave",
    "Psychedelic", "Rave", "Showtunes", "Trailer", "Lo-Fi", "Tribal", "Acid Punk", "Acid Jazz", "Polka",
    "Retro", "Musical", "Rock & Roll", "Hard Rock", "Folk", "Folk-Rock", "National Folk", "Swing",
    "Fast Fusion", "Bebob", "Latin", "Revival", "Celtic", "Bluegrass", "Avantgarde", "Gothic Rock",
    "Progressive Rock", "Psychedelic Rock", "Symphonic Rock", "Slow Rock", "Big Band", "Chorus",
    "Easy Listening", "Acoustic", "Humour", "Speech", "Chanson", "Opera", "Chamber music", "Sonata",
    "Symphony", "Booty Bass", "Primus", "Porn Groove", "Satire", "Slow Jam", "Club", "Tango", "Samba",
    "Folklore", "Ballad", "Power Ballad", "Rhythmic soul", "Freestyle", "Duet", "Punk Rock", "Drum Solo",
    "A Cappella", "Euro-House", "Dance Hall", "Goa", "Drum & Bass", "Club-House", "Hardcore", "Terror",
    "Indie", "BritPop", "Negerpunk", "Polsk Punk", "Beat", "Christian Gangsta Rap", "Heavy Metal",
    "Black Metal", "Crossover", "Contemporary Christian", "Christian Rock", "Merengue", "Salsa",
    "Thrash Metal", "Anime", "JPop", "Synthpop",
};

namespace {

constexpr std::size_t kTitleOffset = 3;
constexpr std::size_t kArtistOffset = 33;
constexpr std::size_t kAlbumOffset = 63;
constexpr std::size_t kYearOffset = 93;
constexpr std::size_t kCommentOffset = 97;
constexpr std::size_t kTrackMarkOffset = 125;
constexpr std::size_t kTrackOffset = 126;
constexpr std::size_t kGenreOffset = 127;
constexpr std::size_t kFieldLength = 30;
constexpr std::size_t kTrackCommentLength = 28;
constexpr std::size_t kYearLength = 4;

// Blanks and control characters, as trimmed from both ends of a field.
bool IsTrimmed(unsigned char c) { return c <= ' '; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsTrimmed(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && IsTrimmed(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return text;
}

// A text field: the bytes before the first zero (writers often leave old
// bytes after the terminator), trimmed.
std::string Field(const std::array<unsigned char, kId3v1BlockSize>& block, std::size_t offset, std::size_t length) {
  std::string_view raw(reinterpret_cast<const char*>(block.data()) + offset, length);
  raw = raw.substr(0, raw.find('\0'));
  return std::string(Trim(raw));
}

void PutField(std::array<unsigned char, kId3v1BlockSize>& block, std::size_t offset, std::size_t length,
              std::string_view text) {
  std::memcpy(block.data() + offset, text.data(), std::min(length, text.size()));
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  return true;
}

// Reads the last 128 bytes; false when the file is shorter or unreadable.
bool ReadLastBlock(int fd, std::array<unsigned char, kId3v1BlockSize>& block) {
  if (::lseek(fd, -static_cast<off_t>(kId3v1BlockSize), SEEK_END) < 0) return false;
  return tagio::ReadAll(fd, block.data(), block.size()) == block.size() && std::memcmp(block.data(), "TAG", 3) == 0;
}

}  // namespace

TId3v1Tags::TId3v1Tags() {
  for (const char* key : {"artist", "album", "year", "track", "title", "comment"}) AddKey(key);
  AddKey("genre", kId3v1DefaultGenreId);
}

std::string TId3v1Tags::Genre() const { return kId3v1Genres[GenreId()]; }

void TId3v1Tags::SetGenre(std::string_view Value) {
  const std::string_view name = Trim(Value);
  for (int id = 0; id < kId3v1GenreCount; ++id) {
    if (SameTextIgnoringCase(name, kId3v1Genres[static_cast<std::size_t>(id)])) {
      SetGenreId(static_cast<TId3v1TagsGenreId>(id));
      return;
    }
  }
}

TId3v1TagsGenreId TId3v1Tags::GenreId() const {
  if (GetValue("genre").IsNull()) return kId3v1DefaultGenreId;
  const std::int64_t id = GetInteger("genre");
  return id >= 0 && id < kId3v1GenreCount ? static_cast<TId3v1TagsGenreId>(id) : kId3v1DefaultGenreId;
}

bool TId3v1Tags::HasTag(int FileHandle) {
  if (!TAuTags::HasTag(FileHandle)) return false;
  const off_t saved = ::lseek(FileHandle, 0, SEEK_CUR);
  if (saved < 0) return false;
  std::array<unsigned char, kId3v1BlockSize> block{};
  const bool found = ReadLastBlock(FileHandle, block);
  ::lseek(FileHandle, saved, SEEK_SET);
  return found;
}

bool TId3v1Tags::ReadFromFile(int FileHandle) {
  if (!TAuTags::ReadFromFile(FileHandle)) return false;
  std::array<unsigned char, kId3v1BlockSize> block{};
  if (!ReadLastBlock(FileHandle, block)) return false;
  ParseBlock(block);
  return true;
}

void TId3v1Tags::ParseBlock(const std::array<unsigned char, kId3v1BlockSize>& Block) {
  SetTitle(Field(Block, kTitleOffset, kFieldLength));
  SetArtist(Field(Block, kArtistOffset, kFieldLength));
  SetAlbum(Field(Block, kAlbumOffset, kFieldLength));

  const std::string year = Field(Block, kYearOffset, kYearLength);
  const bool digits = !year.empty() && std::all_of(year.begin(), year.end(), [](char c) { return c >= '0' && c <= '9'; });
  SetYear(digits ? static_cast<std::uint16_t>(std::stoi(year)) : 0);

  const unsigned char mark = Block[kTrackMarkOffset];
  const unsigned char track = Block[kTrackOffset];
  if ((mark == 0 && track != 0) || (mark == 0x20 && track != 0x20)) {
    SetComment(Field(Block, kCommentOffset, kTrackCommentLength));
    SetTrack(track);
  } else {
    SetComment(Field(Block, kCommentOffset, kFieldLength));
    SetTrack(0);
  }
  SetGenreId(Block[kGenreOffset]);
}

std::array<unsigned char, kId3v1BlockSize> TId3v1Tags::MakeBlock() const {
  std::array<unsigned char, kId3v1BlockSize> block{};
  std::memcpy(block.data(), "TAG", 3);
  PutField(block, kTitleOffset, kFieldLength, Title());
  PutField(block, kArtistOffset, kFieldLength, Artist());
  PutField(block, kAlbumOffset, kFieldLength, Album());
  PutField(block, kYearOffset, kYearLength, std::to_string(Year()));
  if (Track() != 0) {
    PutField(block, kCommentOffset, kTrackCommentLength, Comment());
    block[kTrackMarkOffset] = 0;
    block[kTrackOffset] = Track();
  } else {
    PutField(block, kCommentOffset, kFieldLength, Comment());
  }
  block[kGenreOffset] = GenreId();
  return block;
}

bool TId3v1Tags::WriteToFile(int FileHandle, bool Unicode) {
  if (!TAuTags::WriteToFile(FileHandle, Unicode)) return false;
  if (::lseek(FileHandle, 0, SEEK_END) < 0) return false;
  const auto block = MakeBlock();
  return tagio::WriteAll(FileHandle, block.data(), block.size());
}
