#include "tags/au_tags.h"

#include <gtest/gtest.h>

#include <functional>

#include "tags/apev2_tags.h"
#include "tags/id3v1_tags.h"
#include "tags/id3v2_tags.h"
#include "tags/vorbis_tags.h"

namespace {

// A container with a few keys registered out of order.
class TSampleTags : public TAuTags {
 public:
  TSampleTags() {
    AddKey("title");
    AddKey("Artist", 7);
    AddKey("album");
  }
  std::string ClassName() const override { return "TSampleTags"; }
};

// Copyable object that is not a tag container.
class TOther : public TPersistent {
 public:
  std::string ClassName() const override { return "TOther"; }
};

std::string AssignMessage(const std::function<void()>& assign) {
  try {
    assign();
  } catch (const EConvertError& e) {
    return e.what();
  }
  return "no error";
}

}  // namespace

TEST(TagValue, EqualityFollowsKindAndContent) {
  EXPECT_EQ(TagValue(), TagValue());
  EXPECT_NE(TagValue(), TagValue(""));
  EXPECT_NE(TagValue(), TagValue(0));
  EXPECT_EQ(TagValue(std::uint8_t(5)), TagValue(std::int64_t(5)));
  EXPECT_NE(TagValue(5), TagValue("5"));
  EXPECT_EQ(TagValue("caf\xE9"), TagValue(u"caf\u00E9"));  // same characters, either width
  EXPECT_NE(TagValue("caf?"), TagValue(u"caf\u0416"));
  EXPECT_NE(TagValue(u"a"), TagValue(u"A"));
}

TEST(TAuTags, KeysStaySortedIgnoringCaseAndOutOfRangeIndexesAreEmpty) {
  TSampleTags tags;
  ASSERT_EQ(tags.Count(), 3);
  EXPECT_EQ(tags.KeyAt(0), "album");
  EXPECT_EQ(tags.KeyAt(1), "Artist");
  EXPECT_EQ(tags.KeyAt(2), "title");
  EXPECT_EQ(tags.KeyAt(-1), "");
  EXPECT_EQ(tags.KeyAt(tags.Count()), "");

  TVorbisTags vorbis;
  const char* expected[] = {"album", "artist", "date", "discnumber", "genre", "replaygain_album_gain",
                            "replaygain_album_peak", "replaygain_reference_loudness", "replaygain_track_gain",
                            "replaygain_track_peak", "title", "tracknumber"};
  ASSERT_EQ(vorbis.Count(), 12);
  for (int i = 0; i < 12; ++i) EXPECT_EQ(vorbis.KeyAt(i), expected[i]);
  EXPECT_EQ(TId3v2Tags().Count(), 24);
  EXPECT_EQ(TAPEv2Tags().Count(), 25);
  EXPECT_EQ(TId3v1Tags().Count(), 7);
}

TEST(TAuTags, AddKeyRegistersOnceAndRejectsEmptyKeys) {
  TSampleTags tags;
  EXPECT_FALSE(tags.AddKey(""));
  EXPECT_TRUE(tags.AddKey("ARTIST", 99));  // present under another case: value kept
  EXPECT_EQ(tags.Count(), 3);
  EXPECT_EQ(tags.GetInteger("artist"), 7);
  EXPECT_TRUE(tags.Empty());
}

TEST(TAuTags, SetValueChangesOnlyRegisteredKeysAndOnlyOnRealChange) {
  TSampleTags tags;
  tags.SetValue("nosuchkey", "x");
  EXPECT_EQ(tags.Count(), 3);
  EXPECT_TRUE(tags.Empty());
  EXPECT_TRUE(tags.GetValue("nosuchkey").IsNull());

  tags.SetValue("Artist", 7);  // equal to the initial value
  EXPECT_TRUE(tags.Empty());
  tags.SetValue("TITLE", "");  // empty text differs from null
  EXPECT_FALSE(tags.Empty());
  EXPECT_EQ(tags.GetValue("title").Kind(), TagValue::TKind::Narrow);

  tags.Clear();
  EXPECT_TRUE(tags.Empty());
  EXPECT_TRUE(tags.GetValue("Artist").IsNull());
}

TEST(TAuTags, TypedReadsConvertBetweenKinds) {
  TSampleTags tags;
  tags.SetValue("title", "4a");
  EXPECT_EQ(tags.GetInteger("title"), 0);
  tags.SetValue("title", "42");
  EXPECT_EQ(tags.GetInteger("title"), 42);
  tags.SetValue("title", u"-17");
  EXPECT_EQ(tags.GetInteger("title"), -17);
  tags.SetValue("title", "99999999999999999999");
  EXPECT_EQ(tags.GetInteger("title"), 0);
  tags.SetValue("title", "");
  EXPECT_EQ(tags.GetInteger("title"), 0);

  EXPECT_EQ(tags.GetString("Artist"), "7");
  EXPECT_EQ(tags.GetWideString("Artist"), u"7");
  tags.SetValue("album", "\x80 caf\xE9");
  EXPECT_EQ(tags.GetWideString("album"), u"\u20AC caf\u00E9");
  tags.SetValue("album", u"\u0416\u00E9");
  EXPECT_EQ(tags.GetString("album"), "?\xE9");
  EXPECT_EQ(tags.GetInteger("nosuchkey"), 0);
  EXPECT_EQ(tags.GetString("nosuchkey"), "");
  EXPECT_EQ(tags.GetWideString("nosuchkey"), u"");
}

TEST(TAuTags, BaseFileOperationsRejectOnlyTheInvalidHandle) {
  TSampleTags tags;
  tags.SetValue("title", "x");
  EXPECT_FALSE(tags.HasTag(kInvalidFileHandle));
  EXPECT_FALSE(tags.ReadFromFile(kInvalidFileHandle));
  EXPECT_FALSE(tags.Empty());  // a refused read clears nothing
  EXPECT_FALSE(tags.WriteToFile(kInvalidFileHandle, true));
  EXPECT_TRUE(tags.HasTag(0));
  EXPECT_TRUE(tags.WriteToFile(0, false));
  EXPECT_TRUE(tags.ReadFromFile(0));
  EXPECT_TRUE(tags.Empty());
}

TEST(TAuTags, AssignFromId3v1ToApeMatchesKeysIgnoringCase) {
  TId3v1Tags id3;
  EXPECT_TRUE(id3.Empty());
  EXPECT_EQ(id3.GetInteger("genre"), 12);
  for (const char* key : {"artist", "album", "year", "track", "title", "comment"})
    EXPECT_TRUE(id3.GetValue(key).IsNull()) << key;
  id3.SetTitle("Song");

  TAPEv2Tags ape;
  ape.SetPublisher(u"Label");
  ape.SetTitle(u"Old");
  ape.Assign(&id3);
  EXPECT_EQ(ape.Title(), u"Song");
  EXPECT_EQ(ape.GetValue("Genre").Kind(), TagValue::TKind::Integer);
  EXPECT_EQ(ape.Genre(), u"12");
  EXPECT_TRUE(ape.GetValue("Publisher").IsNull());
  EXPECT_TRUE(ape.GetValue("Artist").IsNull());
}

TEST(TAuTags, AssignFromAllNullLeavesDestinationClearedAndEmpty) {
  TVorbisTags source;
  TAPEv2Tags dest;
  dest.SetArtist(u"A");
  dest.Assign(&source);
  EXPECT_TRUE(dest.Empty());
  EXPECT_TRUE(dest.GetValue("Artist").IsNull());
}

TEST(TAuTags, AssignToCopiesIntoAnotherContainer) {
  TAPEv2Tags ape;
  ape.SetAlbum(u"Album");
  ape.SetYear("1999");
  TId3v1Tags id3;
  id3.SetComment("stale");
  ape.AssignTo(&id3);
  EXPECT_EQ(id3.Album(), "Album");
  EXPECT_EQ(id3.Year(), 1999);
  EXPECT_EQ(id3.Comment(), "");
}

TEST(TAuTags, AssignToItselfKeepsTheValues) {
  TId3v1Tags tags;
  tags.SetTitle("Keep");
  tags.Assign(&tags);
  EXPECT_EQ(tags.Title(), "Keep");
}

TEST(TAuTags, AssignWithNonContainersRaisesTheConversionError) {
  TId3v1Tags tags;
  tags.SetTitle("x");
  TOther other;
  EXPECT_EQ(AssignMessage([&] { tags.Assign(&other); }), "Cannot assign a TOther to a TId3v1Tags");
  EXPECT_EQ(AssignMessage([&] { tags.Assign(nullptr); }), "Cannot assign a nil to a TId3v1Tags");
  EXPECT_EQ(AssignMessage([&] { tags.AssignTo(&other); }), "Cannot assign a TId3v1Tags to a TOther");
  EXPECT_EQ(tags.Title(), "x");  // raised before anything was cleared or copied
}
