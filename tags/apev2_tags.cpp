#include "tags/apev2_tags.h"

#include <string>
#include <string_view>

TAPEv2Tags::TAPEv2Tags() {
  for (const char* key : {
    "Artist", "Composer", "Album", "Debut album", "Publisher", "Conductor",
    "Copyright", "ISBN", "ISRC", "EAN/UPC", "LC", "Catalog",
    "Language", "Genre", "Year", "Record Date", "Record Location", "File",
    "Related", "Abstract", "Bibliography", "Track", "Title", "Subtitle",
    "Comment"})
    AddKey(key);
}

std::array<std::string, 7> TAPEv2Tags::SimpleTagValues() const {
  return {platform::Utf16ToUtf8(Artist()),  platform::Utf16ToUtf8(Album()),
          platform::Utf16ToUtf8(Title()),   platform::Utf16ToUtf8(Comment()),
          platform::Utf16ToUtf8(Genre()),   platform::Cp1252ToUtf8(Year()),
          platform::Cp1252ToUtf8(Track())};
}

namespace {

// A field of the block: the bytes before the first zero. The block pads
// fields with zeros, which must not travel on as characters of the value.
std::string_view LayoutField(const std::array<unsigned char, kId3v1BlockSize>& block, std::size_t offset,
                             std::size_t length) {
  const std::string_view raw(reinterpret_cast<const char*>(block.data()) + offset, length);
  return raw.substr(0, raw.find('\0'));
}

}  // namespace

void TAPEv2Tags::ReadId3v1Layout(const std::array<unsigned char, kId3v1BlockSize>& Block) {
  Clear();
  SetAlbum(platform::Cp1252ToUtf16(LayoutField(Block, 63, 30)));
  SetArtist(platform::Cp1252ToUtf16(LayoutField(Block, 33, 30)));
  SetTitle(platform::Cp1252ToUtf16(LayoutField(Block, 3, 30)));
  SetYear(LayoutField(Block, 93, 4));
  SetComment(platform::Cp1252ToUtf16(LayoutField(Block, 97, 30)));
  // The library reports the track and the genre in the block too; without
  // them every APE file would convert as untracked and without a genre.
  if (Block[125] == 0 && Block[126] != 0) SetTrack(std::to_string(Block[126]));
  if (Block[127] < kId3v1GenreCount) SetGenre(platform::Cp1252ToUtf16(kId3v1Genres[Block[127]]));
}
