#include <gtest/gtest.h>

#include <cstring>

#include "converters/audio_converter.h"
#include "pipeline/au_exception.h"
#include "tests/support/support.h"

using namespace qmtest;

TEST(AudioConverterTest, BothPropertiesZeroPassBytesThrough) {
  TGeneratorInput plain(2, 44100, 16, 5000), through(2, 44100, 16, 5000);
  TAudioConverter conv;
  conv.SetInput(&through);
  EXPECT_EQ(ReadAll(conv, 1000), ReadAll(plain, 1000));
  conv.Init();
  EXPECT_EQ(conv.Size, through.Size);
  conv.Flush();
}

TEST(AudioConverterTest, SixteenBitStereoToEightBitMono) {
  TGeneratorInput gen(2, 44100, 16, 44100);
  gen.Sample = [](int64_t f, int c) { return c == 0 ? 16384 : (f % 2 ? -32767 : 0); };
  TAudioConverter conv;
  conv.SetInput(&gen);
  conv.OutBitsPerSample = 8;
  conv.OutChannels = 1;
  EXPECT_EQ(conv.Channels(), 1);
  EXPECT_EQ(conv.BitsPerSample(), 8);
  EXPECT_EQ(conv.SampleRate(), 44100);
  conv.Init();
  EXPECT_EQ(conv.Size, 44100);
  conv.Flush();
  const auto out = ReadAll(conv);
  ASSERT_EQ(out.size(), 44100u);
  // (0.5 + 0) / 2 = 0.25 -> floor(1.25 x 128) = 160; (0.5 - 0.99997) / 2 -> 96
  EXPECT_EQ(out[0], 160);
  EXPECT_EQ(out[1], 96);
}

TEST(AudioConverterTest, MonoToStereoFillsBothChannels) {
  TGeneratorInput gen(1, 8000, 16, 100);
  gen.Sample = [](int64_t f, int) { return static_cast<int32_t>(f * 100); };
  TAudioConverter conv;
  conv.SetInput(&gen);
  conv.OutChannels = 2;
  const auto out = AsInt16(ReadAll(conv));
  ASSERT_EQ(out.size(), 200u);
  for (int f = 0; f < 100; ++f) {
    EXPECT_EQ(out[2 * f], out[2 * f + 1]);
  }
  // 16-bit through float: 32767/32768 x 32767 rounds to 32766, 100 stays 100.
  EXPECT_EQ(out[2], 100);
}

// Asking for the input's own width or channel count (or both) is a copy:
// full-scale values come out as they went in, at every width.
TEST(AudioConverterTest, TheInputsOwnFormatIsACopy) {
  for (const int bits : {8, 16, 24, 32}) {
    for (const int channels : {1, 2}) {
      const TPcm square = FullScaleSquare(bits, channels, 8000, 5000, 7);
      for (const auto& [outBits, outChannels] : {std::pair{bits, 0}, std::pair{0, channels}, std::pair{bits, channels}}) {
        SCOPED_TRACE(testing::Message() << bits << " bits, " << channels << " channels, asked " << outBits << "/"
                                        << outChannels);
        TGeneratorInput gen(channels, 8000, bits, square.Frames());
        // The generator writes an 8-bit value's byte as it is.
        gen.Sample = [&square, bits](int64_t f, int c) { return square.Sample(f, c) + (bits == 8 ? 128 : 0); };
        TAudioConverter conv;
        conv.SetInput(&gen);
        conv.OutBitsPerSample = outBits;
        conv.OutChannels = outChannels;
        EXPECT_EQ(ReadAll(conv, 999), square.Bytes);
      }
    }
  }
  // A real change still goes through float: 16-bit 32767 comes back as 32766.
  TGeneratorInput gen(1, 8000, 16, 1);
  gen.Sample = [](int64_t, int) { return 32767; };
  TAudioConverter conv;
  conv.SetInput(&gen);
  conv.OutBitsPerSample = 16;
  conv.OutChannels = 2;
  EXPECT_EQ(AsInt16(ReadAll(conv)), (std::vector<int16_t>{32766, 32766}));
}

TEST(AudioConverterTest, ChannelCountsOtherThanMonoAndStereoAreLeftAlone) {
  TGeneratorInput gen(2, 8000, 16, 10);
  TAudioConverter conv;
  conv.SetInput(&gen);
  conv.OutChannels = 6;
  EXPECT_EQ(conv.Channels(), 2);
  TGeneratorInput six(6, 8000, 24, 10);
  conv.SetInput(&six);
  conv.OutChannels = 1;
  conv.OutBitsPerSample = 16;
  EXPECT_EQ(conv.Channels(), 6);
  EXPECT_EQ(ReadAll(conv).size(), 10u * 6 * 2);
}

TEST(AudioConverterTest, WidthsThroughFloat) {
  TGeneratorInput gen(1, 8000, 24, 2);
  gen.Sample = [](int64_t f, int) { return f == 0 ? -4194304 : 8388607; };
  TAudioConverter conv;
  conv.SetInput(&gen);
  conv.OutBitsPerSample = 32;
  const auto out = ReadAll(conv);
  ASSERT_EQ(out.size(), 8u);
  int32_t v[2];
  std::memcpy(v, out.data(), 8);
  EXPECT_EQ(v[0], -1073741824);
  EXPECT_NEAR(v[1], 2147483392, 128);
}

TEST(AudioConverterTest, RequestBelowOneFrameEndsTheData) {
  TGeneratorInput gen(2, 8000, 16, 10);
  TAudioConverter conv;
  conv.SetInput(&gen);
  conv.OutChannels = 1;
  conv.Init();
  void* buffer = nullptr;
  uint32_t bytes = 1;
  conv.GetData(buffer, bytes);
  EXPECT_EQ(bytes, 0u);
  conv.Flush();
}

TEST(AudioConverterTest, FailuresRaise) {
  TAudioConverter conv;
  EXPECT_THROW(conv.Init(), EAuException);
  TGeneratorInput gen(1, 8000, 16, 10);
  conv.SetInput(&gen);
  conv.OutBitsPerSample = 12;
  try {
    conv.Init();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgUnsupportedSampleWidth);
  }
}
