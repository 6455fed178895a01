#include "pipeline/sample_routines.h"

#include <gtest/gtest.h>

#include <cfenv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace {

std::vector<uint8_t> Int24Bytes(const std::vector<float>& values) {
  std::vector<float> src = values;
  std::vector<uint8_t> out(3 * values.size());
  SingleToInt24(src.data(), out.data(), src.size());
  return out;
}

TEST(SampleRoutines, IntegerToFloatScaling) {
  const uint8_t bytes[] = {0, 128, 255};
  float f[3];
  ByteToSingle(bytes, f, 3);
  EXPECT_EQ(f[0], -1.0f);
  EXPECT_EQ(f[1], 0.0f);
  EXPECT_EQ(f[2], 0.9921875f);

  const int16_t shorts[] = {-32768, 32767, 1};
  SmallIntToSingle(shorts, f, 3);
  EXPECT_EQ(f[0], -1.0f);
  EXPECT_EQ(f[1], 32767.0f / 32768.0f);
  EXPECT_EQ(f[2], 3.0517578125e-05f);

  const uint8_t packed[] = {0xFF, 0x7F, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00, 0x80, 0xFF, 0xFF, 0xFF};
  Int24ToSingle(packed, f, 3);
  EXPECT_EQ(f[0], 32767.0f / 8388608.0f);
  EXPECT_EQ(f[1], 128.0f / 8388608.0f);
  EXPECT_EQ(f[2], -1.0f);
  float last;
  Int24ToSingle(packed + 9, &last, 1);
  EXPECT_EQ(last, -1.0f / 8388608.0f);

  const int32_t ints[] = {INT32_MIN, 1 << 30};
  Int32ToSingle(ints, f, 2);
  EXPECT_EQ(f[0], -1.0f);
  EXPECT_EQ(f[1], 0.5f);
}

TEST(SampleRoutines, SmallIntClampsSourceAndRoundsTiesToEven) {
  std::vector<float> src = {1.5f, -1.0f, -7.0f, std::numeric_limits<float>::quiet_NaN(),
                            std::numeric_limits<float>::infinity(), 0.5f / 32767.0f, 1.5f / 32767.0f, 0.25f};
  std::vector<int16_t> out(src.size());
  SingleToSmallInt(src.data(), out.data(), src.size());
  EXPECT_EQ(out[0], 32767);
  EXPECT_EQ(src[0], 1.0f) << "the clamp writes back into the source";
  EXPECT_EQ(out[1], -32767);
  EXPECT_EQ(out[2], -32767);
  EXPECT_EQ(src[2], -1.0f);
  EXPECT_EQ(src[3], -1.0f) << "NaN becomes -1";
  EXPECT_EQ(out[4], 32767);
  // Ties: products exactly on .5 go to the even neighbour.
  const double p5 = static_cast<double>(src[5]) * 32767.0;
  if (p5 == 0.5) {
    EXPECT_EQ(out[5], 0);
  }
  const double p6 = static_cast<double>(src[6]) * 32767.0;
  if (p6 == 1.5) {
    EXPECT_EQ(out[6], 2);
  }
  EXPECT_EQ(out[7], 8192);  // 8191.75
}

TEST(SampleRoutines, TiesToEvenWhateverTheRoundingMode) {
  const int saved = std::fegetround();
  std::fesetround(FE_UPWARD);
  std::vector<float> src = {-0.25f, 0.75f};
  std::vector<int16_t> out(2);
  SingleToSmallInt(src.data(), out.data(), 2);
  EXPECT_EQ(std::fegetround(), FE_UPWARD) << "the caller's rounding mode is unchanged";
  std::fesetround(saved);
  EXPECT_EQ(out[0], -8192);  // -8191.75
  EXPECT_EQ(out[1], 24575);  // 24575.25
}

TEST(SampleRoutines, Int24RoundsDownAndPacksLittleEndian) {
  auto bytes = Int24Bytes({-0.5f, -1e-30f, 1.0f, -1.0f, 0.0f});
  const std::vector<uint8_t> expect = {0x00, 0x00, 0xC0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0x7F, 0x01, 0x00, 0x80, 0x00, 0x00, 0x00};
  EXPECT_EQ(bytes, expect);
}

TEST(SampleRoutines, Int32ScalesByMaxAndRoundsToNearest) {
  std::vector<float> src = {1.0f, -1.0f, 2.0f, 0.5f};
  std::vector<int32_t> out(4);
  SingleToInt32(src.data(), out.data(), 4);
  EXPECT_EQ(out[0], 2147483647);
  EXPECT_EQ(out[1], -2147483647);
  EXPECT_EQ(out[2], 2147483647);
  EXPECT_EQ(out[3], 1073741824);  // 1073741823.5 -> even
}

TEST(SampleRoutines, ByteHasNoClampPass) {
  std::vector<float> src = {0.0f, -1.0f, 0.999f, 1.0f, 5.0f, -3.0f, std::numeric_limits<float>::quiet_NaN(), -1e-7f};
  std::vector<uint8_t> out(src.size());
  SingleToByte(src.data(), out.data(), src.size());
  EXPECT_EQ(out[0], 128);
  EXPECT_EQ(out[1], 0);
  EXPECT_EQ(out[2], 255);
  EXPECT_EQ(out[3], 255);
  EXPECT_EQ(out[4], 255);
  EXPECT_EQ(out[5], 0);
  EXPECT_EQ(out[6], 0);
  EXPECT_EQ(out[7], 127) << "a small negative value falls below silence";
  EXPECT_EQ(src[4], 5.0f) << "the source is left alone";
}

TEST(SampleRoutines, InPlaceFloatToInt32) {
  float singles[] = {1.0f, -1.0f, 0.0f, 0.5f, -0.5f, 1e-12f};
  SingleToInt32InPlace(singles, sizeof singles);
  int32_t ints[6];
  std::memcpy(ints, singles, sizeof ints);
  EXPECT_EQ(ints[0], INT32_MAX);
  EXPECT_EQ(ints[1], INT32_MIN);
  EXPECT_EQ(ints[2], 0);
  EXPECT_EQ(ints[3], 1073741823);  // floor(1073741823.5)
  EXPECT_EQ(ints[4], -1073741824);
  EXPECT_EQ(ints[5], 0);

  float partial[2] = {0.5f, 0.25f};
  SingleToInt32InPlace(partial, 6);  // converts one value only
  int32_t first;
  std::memcpy(&first, partial, 4);
  EXPECT_EQ(first, 1073741823);
  EXPECT_EQ(partial[1], 0.25f);

  double doubles[3] = {0.25, -2.0, 0.75};
  DoubleToInt32InPlace(doubles, sizeof doubles);
  int32_t d[3];
  std::memcpy(d, doubles, sizeof d);
  EXPECT_EQ(d[0], 536870911);  // floor(536870911.75)
  EXPECT_EQ(d[1], INT32_MIN);
  EXPECT_EQ(d[2], 1610612735);
  double small = 0.5;
  DoubleToInt32InPlace(&small, 7);
  EXPECT_EQ(small, 0.5) << "under 8 bytes converts nothing";
}

TEST(SampleRoutines, ChannelFoldingInPlace) {
  float buf[8] = {0.5f, 0.25f, -1.0f, 1.0f, 0.1f, 0.3f};
  StereoToMonoSingle(buf, 3);
  EXPECT_EQ(buf[0], 0.375f);
  EXPECT_EQ(buf[1], 0.0f);
  EXPECT_EQ(buf[2], (0.1f + 0.3f) / 2.0f);

  float mono[8] = {1.0f, 2.0f, 3.0f, 4.0f};
  MonoToStereoSingle(mono, 4);
  const float expect[8] = {1, 1, 2, 2, 3, 3, 4, 4};
  for (int i = 0; i < 8; ++i) EXPECT_EQ(mono[i], expect[i]);
}

TEST(SampleRoutines, DotProductRoundsOnceToSingle) {
  const float a[] = {1.0f, 1e-8f, -1.0f};
  const float b[] = {1.0f, 1.0f, 1.0f};
  float acc = 0.0f;
  DotProduct(a, b, acc, 3);
  // Summed in float the tiny middle term would vanish before the -1.
  EXPECT_EQ(acc, 1e-8f);
  float acc2 = 2.0f;
  DotProduct(a, b, acc2, 1);
  EXPECT_EQ(acc2, 3.0f);
}

TEST(SampleRoutines, FastCopyAndTextSplit) {
  std::vector<uint8_t> src(1000), dst(1003, 0xEE);
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = static_cast<uint8_t>(i * 7);
  FastCopy(dst.data() + 3, src.data() + 1, 999);
  EXPECT_TRUE(std::equal(src.begin() + 1, src.end(), dst.begin() + 3));
  EXPECT_EQ(dst[2], 0xEE);

  EXPECT_EQ(TextBefore('=', "ARTIST=x"), "ARTIST");
  EXPECT_EQ(TextAfter('=', "ARTIST=x"), "x");
  EXPECT_EQ(TextBefore('=', "ARTIST"), "");
  EXPECT_EQ(TextAfter('=', "ARTIST"), "");
  EXPECT_EQ(TextAfter('=', "A=b=c"), "b=c");
}

}  // namespace
