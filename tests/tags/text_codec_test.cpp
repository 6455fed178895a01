#include "platform/text_codec.h"

#include <gtest/gtest.h>

#include <string>

using namespace platform;

TEST(TextCodec, Cp1252RoundTripsEveryByteThroughUtf16AndUtf8) {
  std::string all;
  for (int b = 1; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf16ToCp1252(Cp1252ToUtf16(all)), all);
  EXPECT_EQ(Utf8ToCp1252(Cp1252ToUtf8(all)), all);
}

TEST(TextCodec, Cp1252HighRangeMapsToItsCharacters) {
  EXPECT_EQ(Cp1252ToUtf16("\x80\x85\x8A\x99\x9F"), u"\u20AC\u2026\u0160\u2122\u0178");
  EXPECT_EQ(Cp1252ToUtf16("\xE9\xFF"), u"\u00E9\u00FF");
  EXPECT_EQ(Cp1252ToUtf8("\x80"), "\xE2\x82\xAC");
  // Bytes the code page leaves undefined keep their value as C1 controls.
  EXPECT_EQ(Cp1252ToUtf16("\x81\x8D\x8F\x90\x9D"), u"\u0081\u008D\u008F\u0090\u009D");
}

TEST(TextCodec, UnmappableCharactersBecomeQuestionMarks) {
  // Cyrillic, a CJK character and one outside the basic plane (a surrogate pair).
  EXPECT_EQ(Utf16ToCp1252(u"a\u0416b\u4E2D\U0001F600c"), "a?b??c");
  EXPECT_EQ(Utf8ToCp1252("\xD0\x96\xF0\x9F\x98\x80"), "??");
  EXPECT_EQ(Utf16ToCp1252(u"\u20AC\u00FC"), "\x80\xFC");
}

TEST(TextCodec, Utf8AndUtf16RoundTripAllPlanes) {
  const std::u16string text = u"A\u00E9\u0416\u4E2D\U0001F600\U0010FFFF";
  const std::string utf8 = Utf16ToUtf8(text);
  EXPECT_EQ(utf8, "A\xC3\xA9\xD0\x96\xE4\xB8\xAD\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF");
  EXPECT_EQ(Utf8ToUtf16(utf8), text);
}

TEST(TextCodec, MalformedUtf8DecodesToReplacementWithoutLosingNeighbours) {
  struct Case {
    std::string in;
    std::u16string out;
  };
  const Case cases[] = {
      {"a\x80z", u"a\uFFFDz"},                  // stray continuation byte
      {"a\xC3", u"a\uFFFD"},                    // truncated at the end
      {"a\xE4\xB8z", u"a\uFFFDz"},              // truncated before an ASCII byte
      {"\xC0\x80", u"\uFFFD\uFFFD"},            // overlong NUL
      {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},  // overlong three-byte form
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"},  // encoded surrogate
      {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},  // above U+10FFFF
      {"\xFF\xFEz", u"\uFFFD\uFFFDz"},
      {"\xC3\xC3\xA9", u"\uFFFD\u00E9"},        // a lead byte where a continuation belongs
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)},
  };
  for (const auto& c : cases) EXPECT_EQ(Utf8ToUtf16(c.in), c.out) << c.in;
}

TEST(TextCodec, UnpairedSurrogatesEncodeAsReplacement) {
  const std::u16string lone_high = {u'a', char16_t(0xD800), u'b'};
  const std::u16string lone_low = {char16_t(0xDC00)};
  const std::u16string high_at_end = {u'a', char16_t(0xDBFF)};
  EXPECT_EQ(Utf16ToUtf8(lone_high), "a\xEF\xBF\xBD" "b");
  EXPECT_EQ(Utf16ToUtf8(lone_low), "\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToUtf8(high_at_end), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf16ToCp1252(lone_high), "a?b");
}

TEST(TextCodec, EmptyTextStaysEmpty) {
  EXPECT_TRUE(Utf8ToUtf16("").empty());
  EXPECT_TRUE(Utf16ToUtf8(u"").empty());
  EXPECT_TRUE(Utf16ToCp1252(u"").empty());
  EXPECT_TRUE(Cp1252ToUtf16("").empty());
}
