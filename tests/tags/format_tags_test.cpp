// APEv2 items, Vorbis comments, and the containers of tagged sources and sinks.
#include <gtest/gtest.h>

#include <cstring>

#include "tags/apev2_tags.h"
#include "tags/au_tagged_file.h"
#include "tags/vorbis_tags.h"

namespace {

using Fields = std::vector<std::pair<std::string, std::string>>;

class TStubTaggedIn : public TAuTaggedFileIn {
 public:
  bool SeekInternal(int64_t&) override { return false; }

 protected:
  bool OpenHeader() override { return true; }
  void DecodeBlock() override {}
};

class TStubTaggedOut : public TAuTaggedFileOut {
 protected:
  void Prepare() override {}
  bool EncodeStep() override { return false; }
};

}  // namespace

TEST(TAPEv2Tags, PropertiesUseTheirItemNamesAndTextKinds) {
  TAPEv2Tags ape;
  EXPECT_TRUE(ape.Empty());
  ape.SetDebutAlbum(u"First \u0416");
  ape.SetBarCode("0123");
  ape.SetLabelCode("LC 1");
  ape.SetFile_(u"f.ape");
  ape.SetSubTitle(u"Sub");
  ape.SetRecordDate("2001-02-03");
  EXPECT_EQ(ape.GetWideString("Debut album"), u"First \u0416");
  EXPECT_EQ(ape.GetValue("EAN/UPC").Kind(), TagValue::TKind::Narrow);
  EXPECT_EQ(ape.GetString("LC"), "LC 1");
  EXPECT_EQ(ape.GetValue("File").Kind(), TagValue::TKind::Wide);
  EXPECT_EQ(ape.GetWideString("subtitle"), u"Sub");
  EXPECT_EQ(ape.GetString("Record Date"), "2001-02-03");
  ape.SetValue("Year", u"\u0416 1999");
  EXPECT_EQ(ape.Year(), "? 1999");
}

TEST(TAPEv2Tags, OnlyPublisherSetStillCountsAsATagWithSevenEmptyValues) {
  TAPEv2Tags ape;
  ape.SetPublisher(u"Label");
  EXPECT_FALSE(ape.Empty());
  for (const std::string& value : ape.SimpleTagValues()) EXPECT_EQ(value, "");
}

TEST(TAPEv2Tags, SimpleTagValuesAreUtf8InLibraryOrder) {
  TAPEv2Tags ape;
  ape.SetArtist(u"Art\u00E9");
  ape.SetAlbum(u"Alb");
  ape.SetTitle(u"\u4E2D");
  ape.SetComment(u"Com");
  ape.SetGenre(u"Gen");
  ape.SetYear("1999");
  ape.SetTrack("\xBD");  // one half, a Windows-1252 character
  const std::array<std::string, 7> expected = {"Art\xC3\xA9", "Alb", "\xE4\xB8\xAD", "Com", "Gen", "1999", "\xC2\xBD"};
  EXPECT_EQ(ape.SimpleTagValues(), expected);
}

TEST(TAPEv2Tags, ReadsTheLibraryTagFromTheId3v1LayoutWithoutPadding) {
  std::array<unsigned char, kId3v1BlockSize> block{};
  std::memcpy(block.data(), "TAG", 3);
  std::memcpy(block.data() + 3, "Title", 5);
  std::memcpy(block.data() + 33, "Art\xE9", 4);
  std::memcpy(block.data() + 63, "Album", 5);
  std::memcpy(block.data() + 93, "1999", 4);
  std::memcpy(block.data() + 97, "Comment", 7);
  block[126] = 4;
  TAPEv2Tags ape;
  ape.SetPublisher(u"stale");
  ape.ReadId3v1Layout(block);
  EXPECT_EQ(ape.Title(), u"Title");
  EXPECT_EQ(ape.Artist(), u"Art\u00E9");
  EXPECT_EQ(ape.Album(), u"Album");
  EXPECT_EQ(ape.Year(), "1999");
  EXPECT_EQ(ape.Comment(), u"Comment");
  EXPECT_TRUE(ape.GetValue("Publisher").IsNull());
  // The track form of the block (byte 125 zero) and a genre id of the table.
  EXPECT_EQ(ape.Track(), "4");
  EXPECT_EQ(ape.Genre(), u"Blues");
  block[125] = 'x';
  block[127] = 255;
  ape.ReadId3v1Layout(block);
  EXPECT_TRUE(ape.GetValue("Track").IsNull());
  EXPECT_TRUE(ape.GetValue("Genre").IsNull());
}

TEST(TVorbisTags, AssignFromApeCarriesOnlyTheSharedKeys) {
  TAPEv2Tags ape;
  ape.SetAlbum(u"Al");
  ape.SetArtist(u"Ar");
  ape.SetGenre(u"Ge");
  ape.SetTitle(u"Ti");
  ape.SetTrack("3");
  ape.SetYear("1999");
  ape.SetComment(u"Co");
  TVorbisTags vorbis;
  vorbis.Assign(&ape);
  EXPECT_EQ(vorbis.CommentFields(), (Fields{{"album", "Al"}, {"artist", "Ar"}, {"genre", "Ge"}, {"title", "Ti"}}));
}

TEST(TVorbisTags, CommentFieldsFollowKeyOrderAndSkipEmptyValues) {
  TVorbisTags vorbis;
  vorbis.SetTitle(u"");
  vorbis.SetTrack(u"7");
  vorbis.SetTrackGain(u"-3.2 dB");
  vorbis.SetAlbum(u"\u00C5");
  EXPECT_FALSE(vorbis.Empty());
  EXPECT_EQ(vorbis.CommentFields(),
            (Fields{{"album", "\xC3\x85"}, {"replaygain_track_gain", "-3.2 dB"}, {"tracknumber", "7"}}));
}

TEST(TVorbisTags, ReadCommentTakesOnlyTheSixKnownFields) {
  TVorbisTags vorbis;
  vorbis.ReadComment("ARTIST=Someone");
  vorbis.ReadComment("artist");             // no "=": no name
  vorbis.ReadComment("tracknumber=3");
  vorbis.ReadComment("DISCNUMBER=2");       // never read
  vorbis.ReadComment("replaygain_track_gain=1 dB");
  vorbis.ReadComment("Title=First");
  vorbis.ReadComment("TITLE=Second=Part \xE2\x82\xAC");  // later wins; only the first "=" splits
  vorbis.ReadComment("date=\xFF");          // malformed UTF-8 is replaced, not trusted
  EXPECT_EQ(vorbis.Artist(), u"Someone");
  EXPECT_EQ(vorbis.Track(), u"3");
  EXPECT_TRUE(vorbis.GetValue("discnumber").IsNull());
  EXPECT_TRUE(vorbis.GetValue("replaygain_track_gain").IsNull());
  EXPECT_EQ(vorbis.Title(), u"Second=Part \u20AC");
  EXPECT_EQ(vorbis.Date(), u"\uFFFD");
}

TEST(TAuTaggedFile, SourceAndSinkOwnThreeEmptyContainers) {
  TStubTaggedIn in;
  TStubTaggedOut out;
  EXPECT_TRUE(in.Id3v1Tags().Empty());
  EXPECT_TRUE(in.Id3v2Tags().Empty());
  EXPECT_TRUE(in.APEv2Tags().Empty());
  EXPECT_EQ(out.Id3v1Tags().Genre(), "Other");
  EXPECT_TRUE(out.Id3v2Tags().NewFrameIds());
  EXPECT_TRUE(out.APEv2Tags().Empty());
}

TEST(TAuTaggedFile, SinkSettersCopyValuesAndKeepNoReference) {
  TStubTaggedOut out;
  {
    TId3v2Tags given;
    given.SetTitle(u"T");
    given.SetTrack("5");
    out.SetId3v2Tags(given);
    given.SetTitle(u"changed later");
  }
  EXPECT_EQ(out.Id3v2Tags().Title(), u"T");
  EXPECT_EQ(out.Id3v2Tags().Track(), "5");

  TAPEv2Tags ape;
  ape.SetTitle(u"Ape title");
  out.SetAPEv2Tags(ape);
  out.SetId3v1Tags(ape);
  EXPECT_EQ(out.APEv2Tags().Title(), u"Ape title");
  EXPECT_EQ(out.Id3v1Tags().Title(), "Ape title");
  EXPECT_EQ(ape.Title(), u"Ape title");
}
