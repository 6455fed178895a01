// The neutral tag fields over every container.
#include "tags/tag_fields.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "tags/apev2_tags.h"
#include "tags/id3v1_tags.h"
#include "tags/id3v2_tags.h"
#include "tags/vorbis_tags.h"

namespace {

TTagFields Sample() {
  TTagFields f;
  f.Title = u"Caf\u00E9 \u0416";
  f.Artist = u"Artist";
  f.Album = u"Album";
  f.Date = u"1999";
  f.Track = u"7";
  f.Genre = u"Synthpop";
  f.Comment = u"Note";
  return f;
}

// A container of a format the map has no table for.
class TOtherTags : public TAuTags {
 public:
  TOtherTags() {
    for (const char* key : {"TITLE", "Year", "track", "description", "label"}) AddKey(key);
  }
};

}  // namespace

TEST(TTagFields, WideContainersKeepEveryFieldTheyHave) {
  const TTagFields in = Sample();
  TId3v2Tags id3v2;
  WriteTagFields(id3v2, in);
  EXPECT_EQ(ReadTagFields(id3v2), in);
  EXPECT_EQ(id3v2.GetValue("TYER").Kind(), TagValue::TKind::Narrow);
  EXPECT_EQ(id3v2.GetValue("TRCK").Kind(), TagValue::TKind::Narrow);
  EXPECT_EQ(id3v2.Title(), in.Title);

  TAPEv2Tags ape;
  WriteTagFields(ape, in);
  EXPECT_EQ(ReadTagFields(ape), in);
  EXPECT_EQ(ape.Year(), "1999");
  EXPECT_EQ(ape.GetValue("Track").Kind(), TagValue::TKind::Narrow);
  EXPECT_EQ(ape.Genre(), u"Synthpop");

  // Vorbis comments hold no comment field.
  TVorbisTags vorbis;
  WriteTagFields(vorbis, in);
  TTagFields expected = in;
  expected.Comment.clear();
  EXPECT_EQ(ReadTagFields(vorbis), expected);
  EXPECT_EQ(vorbis.Date(), u"1999");
  EXPECT_EQ(vorbis.Track(), u"7");
}

TEST(TTagFields, Id3v1TakesNarrowTextNumbersAndGenreIds) {
  TId3v1Tags id3v1;
  WriteTagFields(id3v1, Sample());
  EXPECT_EQ(id3v1.Title(), "Caf\xE9 ?");
  EXPECT_EQ(id3v1.GetValue("year").Kind(), TagValue::TKind::Integer);
  EXPECT_EQ(id3v1.Year(), 1999);
  EXPECT_EQ(id3v1.Track(), 7);
  EXPECT_EQ(id3v1.GenreId(), 147);
  const TTagFields back = ReadTagFields(id3v1);
  EXPECT_EQ(back.Title, u"Caf\u00E9 ?");
  EXPECT_EQ(back.Date, u"1999");
  EXPECT_EQ(back.Track, u"7");
  EXPECT_EQ(back.Genre, u"Synthpop");
  EXPECT_EQ(back.Comment, u"Note");

  // A genre name that is not in the table leaves the genre as it was; an
  // empty year or track leaves the number.
  WriteTagField(id3v1, TTagField::Genre, u"Chiptune");
  WriteTagField(id3v1, TTagField::Date, u"");
  WriteTagField(id3v1, TTagField::Track, u"");
  EXPECT_EQ(id3v1.GenreId(), 147);
  EXPECT_EQ(id3v1.Year(), 1999);
  EXPECT_EQ(id3v1.Track(), 7);
  WriteTagField(id3v1, TTagField::Track, u" +12");
  EXPECT_EQ(id3v1.Track(), 12);
}

TEST(TTagFields, Id3v1NumbersThatAreNoNumbersRaiseAndBigOnesAreNotCutDown) {
  TId3v1Tags id3v1;
  try {
    WriteTagField(id3v1, TTagField::Track, u"7/12");
    FAIL() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "'7/12' is not a valid integer value");
  }
  EXPECT_THROW(WriteTagField(id3v1, TTagField::Date, u"MCMXCIX"), std::runtime_error);
  EXPECT_TRUE(id3v1.GetValue("track").IsNull());
  EXPECT_TRUE(id3v1.GetValue("year").IsNull());

  // 65536 would be year 0 and track 263 track 7 if the number were cut to
  // the property's width.
  WriteTagField(id3v1, TTagField::Date, u"65536");
  WriteTagField(id3v1, TTagField::Track, u"263");
  EXPECT_EQ(id3v1.GetInteger("year"), 65536);
  EXPECT_EQ(id3v1.GetInteger("track"), 263);
}

TEST(TTagFields, EmptyAndMissingValues) {
  // A fresh ID3v1 container holds genre 12 and no year or track.
  TId3v1Tags id3v1;
  TTagFields fresh;
  fresh.Genre = u"Other";
  EXPECT_EQ(ReadTagFields(id3v1), fresh);
  id3v1.SetGenreId(255);
  EXPECT_EQ(ReadTagField(id3v1, TTagField::Genre), u"");
  id3v1.Clear();
  EXPECT_EQ(ReadTagFields(id3v1), TTagFields{});

  // A text field takes an empty value as a value; WriteTagFields leaves
  // the fields it has no text for alone.
  TAPEv2Tags ape;
  WriteTagField(ape, TTagField::Title, u"");
  EXPECT_FALSE(ape.Empty());
  EXPECT_EQ(ape.GetValue("Title").Kind(), TagValue::TKind::Wide);
  ape.SetPublisher(u"Label");
  ape.SetAlbum(u"Kept");
  TTagFields some;
  some.Artist = u"New";
  WriteTagFields(ape, some);
  EXPECT_EQ(ape.Album(), u"Kept");
  EXPECT_EQ(ape.Artist(), u"New");
  EXPECT_EQ(ape.Publisher(), u"Label");

  TVorbisTags vorbis;
  WriteTagField(vorbis, TTagField::Comment, u"nowhere");
  EXPECT_TRUE(vorbis.Empty());
}

TEST(TTagFields, OtherContainersAreMappedByTheUsualNames) {
  TOtherTags other;
  WriteTagFields(other, Sample());
  EXPECT_EQ(other.GetWideString("title"), u"Caf\u00E9 \u0416");
  EXPECT_EQ(other.GetWideString("year"), u"1999");
  EXPECT_EQ(other.GetWideString("track"), u"7");
  EXPECT_EQ(other.GetWideString("description"), u"Note");
  EXPECT_TRUE(other.GetValue("label").IsNull());
  const TTagFields back = ReadTagFields(other);
  EXPECT_EQ(back.Date, u"1999");
  EXPECT_EQ(back.Comment, u"Note");
  EXPECT_EQ(back.Artist, u"");
}

TEST(TTagFields, CarriedFromOneFormatToAnother) {
  TAPEv2Tags ape;
  ape.SetTitle(u"T");
  ape.SetYear("1999");
  ape.SetTrack("7");
  ape.SetGenre(u"rock");
  TId3v1Tags id3v1;
  id3v1.Clear();
  WriteTagFields(id3v1, ReadTagFields(ape));
  EXPECT_EQ(id3v1.Title(), "T");
  EXPECT_EQ(id3v1.Year(), 1999);
  EXPECT_EQ(id3v1.Track(), 7);
  EXPECT_EQ(id3v1.Genre(), "Rock");
  TVorbisTags vorbis;
  WriteTagFields(vorbis, ReadTagFields(id3v1));
  EXPECT_EQ(vorbis.Track(), u"7");
  EXPECT_EQ(vorbis.Date(), u"1999");
  EXPECT_EQ(vorbis.Genre(), u"Rock");
}
