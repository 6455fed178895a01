// The APEv2 container of Monkey's Audio files. The block itself is read and
// written by the Monkey's Audio library; this class holds the items and the
// values handed to and taken from that library.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "platform/text_codec.h"
#include "tags/au_tags.h"
#include "tags/id3v1_tags.h"

class TAPEv2Tags : public TAuTags {
 public:
  TAPEv2Tags();
  std::string ClassName() const override { return "TAPEv2Tags"; }

  std::u16string Artist() const { return GetWideString("Artist"); }
  void SetArtist(std::u16string_view Value) { SetValue("Artist", std::u16string(Value)); }
  std::u16string Composer() const { return GetWideString("Composer"); }
  void SetComposer(std::u16string_view Value) { SetValue("Composer", std::u16string(Value)); }
  std::u16string Album() const { return GetWideString("Album"); }
  void SetAlbum(std::u16string_view Value) { SetValue("Album", std::u16string(Value)); }
  std::u16string DebutAlbum() const { return GetWideString("Debut album"); }
  void SetDebutAlbum(std::u16string_view Value) { SetValue("Debut album", std::u16string(Value)); }
  std::u16string Publisher() const { return GetWideString("Publisher"); }
  void SetPublisher(std::u16string_view Value) { SetValue("Publisher", std::u16string(Value)); }
  std::u16string Conductor() const { return GetWideString("Conductor"); }
  void SetConductor(std::u16string_view Value) { SetValue("Conductor", std::u16string(Value)); }
  std::u16string Copyright() const { return GetWideString("Copyright"); }
  void SetCopyright(std::u16string_view Value) { SetValue("Copyright", std::u16string(Value)); }
  std::string ISBN() const { return GetString("ISBN"); }
  void SetISBN(std::string_view Value) { SetValue("ISBN", std::string(Value)); }
  std::string ISRC() const { return GetString("ISRC"); }
  void SetISRC(std::string_view Value) { SetValue("ISRC", std::string(Value)); }
  std::string BarCode() const { return GetString("EAN/UPC"); }
  void SetBarCode(std::string_view Value) { SetValue("EAN/UPC", std::string(Value)); }
  std::string LabelCode() const { return GetString("LC"); }
  void SetLabelCode(std::string_view Value) { SetValue("LC", std::string(Value)); }
  std::string Catalog() const { return GetString("Catalog"); }
  void SetCatalog(std::string_view Value) { SetValue("Catalog", std::string(Value)); }
  std::u16string Language() const { return GetWideString("Language"); }
  void SetLanguage(std::u16string_view Value) { SetValue("Language", std::u16string(Value)); }
  std::u16string Genre() const { return GetWideString("Genre"); }
  void SetGenre(std::u16string_view Value) { SetValue("Genre", std::u16string(Value)); }
  // Kept as narrow text; read through its wide form, as the tagging library hands it over.
  std::string Year() const { return platform::Utf16ToCp1252(GetWideString("Year")); }
  void SetYear(std::string_view Value) { SetValue("Year", std::string(Value)); }
  std::string RecordDate() const { return GetString("Record Date"); }
  void SetRecordDate(std::string_view Value) { SetValue("Record Date", std::string(Value)); }
  std::u16string RecordLocation() const { return GetWideString("Record Location"); }
  void SetRecordLocation(std::u16string_view Value) { SetValue("Record Location", std::u16string(Value)); }
  std::u16string File_() const { return GetWideString("File"); }
  void SetFile_(std::u16string_view Value) { SetValue("File", std::u16string(Value)); }
  std::u16string Related() const { return GetWideString("Related"); }
  void SetRelated(std::u16string_view Value) { SetValue("Related", std::u16string(Value)); }
  std::u16string Abstract() const { return GetWideString("Abstract"); }
  void SetAbstract(std::u16string_view Value) { SetValue("Abstract", std::u16string(Value)); }
  std::u16string Bibliography() const { return GetWideString("Bibliography"); }
  void SetBibliography(std::u16string_view Value) { SetValue("Bibliography", std::u16string(Value)); }
  std::string Track() const { return GetString("Track"); }
  void SetTrack(std::string_view Value) { SetValue("Track", std::string(Value)); }
  std::u16string Title() const { return GetWideString("Title"); }
  void SetTitle(std::u16string_view Value) { SetValue("Title", std::u16string(Value)); }
  std::u16string SubTitle() const { return GetWideString("Subtitle"); }
  void SetSubTitle(std::u16string_view Value) { SetValue("Subtitle", std::u16string(Value)); }
  std::u16string Comment() const { return GetWideString("Comment"); }
  void SetComment(std::u16string_view Value) { SetValue("Comment", std::u16string(Value)); }

  // The seven values the library's simple tagging call takes, as UTF-8, in
  // the order it takes them: Artist, Album, Title, Comment, Genre, Year, Track.
  std::array<std::string, 7> SimpleTagValues() const;
  // Clears the container and takes Album, Artist, Title, Year, Comment,
  // Track (the ID3v1.1 track form) and Genre (an id of the genre table) from
  // a tag the library reports in the ID3v1 block layout.
  void ReadId3v1Layout(const std::array<unsigned char, kId3v1BlockSize>& Block);
};
