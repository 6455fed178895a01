#include "pipeline/sample_routines.h"

#include <gtest/gtest.h>

#include <bit>
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

// The routines on long buffers (their vector paths) against the definitions
// written out one value at a time: every result bit for bit, the clamp
// written back, at every start offset and with every tail length.
namespace {

std::vector<float> AwkwardFloats() {
  std::vector<float> v = {0.0f, -0.0f, 1.0f, -1.0f, 0.5f, -0.5f, 1.5f, -1.5f, 0.999f, -0.999f,
                          std::numeric_limits<float>::quiet_NaN(), -std::numeric_limits<float>::quiet_NaN(),
                          std::numeric_limits<float>::infinity(), -std::numeric_limits<float>::infinity(),
                          std::numeric_limits<float>::denorm_min(), -std::numeric_limits<float>::denorm_min(),
                          -1e-30f, 1e-30f, -0x1p-41f, -0x1p-39f, -0x1p-64f, -0x1p-66f, std::nextafter(1.0f, 0.0f),
                          std::nextafter(-1.0f, 0.0f), std::nextafter(1.0f, 2.0f), 1.0f / 128, -1.0f / 128};
  // Values whose products sit on or right beside a half.
  for (int k = 1; k < 200; ++k) {
    v.push_back(static_cast<float>((k + 0.5) / 32767.0));
    v.push_back(static_cast<float>(-(k + 0.5) / 2147483647.0 * 65536));
    v.push_back(std::ldexp(static_cast<float>(2 * k + 1), -9));
  }
  uint32_t state = 12345;
  auto next = [&state] { return state = state * 1664525u + 1013904223u; };
  for (int i = 0; i < 20000; ++i) v.push_back(static_cast<float>(static_cast<int32_t>(next())) / 1.7e9f);
  for (int i = 0; i < 20000; ++i) v.push_back(std::bit_cast<float>(next()));
  return v;
}

float Clamped(float x) { return x >= 1.0f ? 1.0f : (x > -1.0f ? x : -1.0f); }

template <typename T>
std::vector<T> Slice(const std::vector<T>& v, std::size_t from, std::size_t count) {
  return {v.begin() + static_cast<std::ptrdiff_t>(from), v.begin() + static_cast<std::ptrdiff_t>(from + count)};
}

}  // namespace

TEST(SampleRoutines, LongBuffersGiveTheDefinitionsResults) {
  const std::vector<float> input = AwkwardFloats();
  const std::size_t n = input.size();
  std::vector<uint8_t> byteRef(n), int24Ref(3 * n);
  std::vector<int16_t> smallRef(n);
  std::vector<int32_t> int32Ref(n);
  for (std::size_t i = 0; i < n; ++i) {
    const float x = input[i];
    byteRef[i] = x >= 1.0f ? 255
                 : x > -1.0f ? static_cast<uint8_t>(std::floor((static_cast<long double>(x) + 1.0L) * 128.0L))
                             : 0;
    const float c = Clamped(x);
    smallRef[i] = static_cast<int16_t>(std::nearbyint(static_cast<double>(c) * 32767.0));
    const auto v24 = static_cast<uint32_t>(static_cast<int32_t>(std::floor(static_cast<double>(c) * 8388607.0)));
    for (int b = 0; b < 3; ++b) int24Ref[3 * i + b] = static_cast<uint8_t>(v24 >> (8 * b));
    int32Ref[i] = static_cast<int32_t>(std::nearbyintl(static_cast<long double>(c) * 2147483647.0L));
  }
  std::vector<float> clampedRef(n);
  for (std::size_t i = 0; i < n; ++i) clampedRef[i] = Clamped(input[i]);

  for (const std::size_t from : {0u, 1u, 3u, 7u}) {
    for (const std::size_t count : {n - 7, n - 8, n - 9, n - 22}) {
      SCOPED_TRACE(testing::Message() << "from " << from << ", count " << count);
      std::vector<uint8_t> bytes(count);
      SingleToByte(input.data() + from, bytes.data(), count);
      EXPECT_EQ(bytes, Slice(byteRef, from, count));

      std::vector<float> src = Slice(input, from, count);
      std::vector<int16_t> small(count);
      SingleToSmallInt(src.data(), small.data(), count);
      EXPECT_EQ(small, Slice(smallRef, from, count));
      EXPECT_EQ(0, std::memcmp(src.data(), clampedRef.data() + from, count * sizeof(float)));

      src = Slice(input, from, count);
      std::vector<uint8_t> packed(3 * count);
      SingleToInt24(src.data(), packed.data(), count);
      EXPECT_EQ(packed, Slice(int24Ref, 3 * from, 3 * count));
      EXPECT_EQ(0, std::memcmp(src.data(), clampedRef.data() + from, count * sizeof(float)));

      src = Slice(input, from, count);
      std::vector<int32_t> wide(count);
      SingleToInt32(src.data(), wide.data(), count);
      EXPECT_EQ(wide, Slice(int32Ref, from, count));
    }
  }

  // Integers to floats and the channel folds, over every 8- and 16-bit value.
  std::vector<uint8_t> allBytes(256 * 3 + 5);
  for (std::size_t i = 0; i < allBytes.size(); ++i) allBytes[i] = static_cast<uint8_t>(i * 7);
  std::vector<float> f(allBytes.size());
  ByteToSingle(allBytes.data(), f.data(), f.size());
  for (std::size_t i = 0; i < f.size(); ++i) ASSERT_EQ(f[i], allBytes[i] * 0.0078125f - 1.0f) << i;
  std::vector<int16_t> allShorts(65536 + 3);
  for (std::size_t i = 0; i < allShorts.size(); ++i) allShorts[i] = static_cast<int16_t>(i);
  f.resize(allShorts.size());
  SmallIntToSingle(allShorts.data(), f.data(), f.size());
  for (std::size_t i = 0; i < f.size(); ++i) ASSERT_EQ(f[i], allShorts[i] / 32768.0f) << i;
  std::vector<int32_t> ints(1001);
  for (std::size_t i = 0; i < ints.size(); ++i) ints[i] = static_cast<int32_t>(i * 4294967u + 2147483648u);
  f.resize(ints.size());
  Int32ToSingle(ints.data(), f.data(), f.size());
  for (std::size_t i = 0; i < f.size(); ++i) ASSERT_EQ(f[i], static_cast<float>(ints[i]) / 2147483648.0f) << i;

  std::vector<float> stereo = Slice(input, 0, 2 * 1001);
  StereoToMonoSingle(stereo.data(), 1001);
  for (std::size_t i = 0; i < 1001; ++i) {
    const float want = (input[2 * i] + input[2 * i + 1]) / 2.0f;
    // Which of two NaNs a sum keeps depends on the operand order the
    // compiler picks; every later routine treats all NaNs alike.
    if (std::isnan(want)) {
      ASSERT_TRUE(std::isnan(stereo[i])) << i;
      continue;
    }
    ASSERT_EQ(std::bit_cast<uint32_t>(stereo[i]), std::bit_cast<uint32_t>(want)) << i;
  }
  std::vector<float> mono(2 * 1003);
  for (std::size_t i = 0; i < 1003; ++i) mono[i] = static_cast<float>(i);
  MonoToStereoSingle(mono.data(), 1003);
  for (std::size_t i = 0; i < 1003; ++i) {
    ASSERT_EQ(mono[2 * i], static_cast<float>(i)) << i;
    ASSERT_EQ(mono[2 * i + 1], static_cast<float>(i)) << i;
  }
}

// With the rounding mode turned upwards the routines still round to nearest,
// on buffers long enough for the vector paths, and leave the mode alone.
TEST(SampleRoutines, LongBuffersIgnoreTheRoundingMode) {
  std::vector<float> src(64), again;
  for (std::size_t i = 0; i < src.size(); ++i) src[i] = (i % 2 ? 0.75f : -0.25f) + 0.5f * (i % 3 == 0);
  again = src;
  std::vector<int16_t> nearest(src.size()), upward(src.size());
  std::vector<int32_t> nearest32(src.size()), upward32(src.size());
  SingleToSmallInt(src.data(), nearest.data(), src.size());
  SingleToInt32(src.data(), nearest32.data(), src.size());
  const int saved = std::fegetround();
  std::fesetround(FE_UPWARD);
  src = again;
  SingleToSmallInt(src.data(), upward.data(), src.size());
  SingleToInt32(src.data(), upward32.data(), src.size());
  EXPECT_EQ(std::fegetround(), FE_UPWARD);
  std::fesetround(saved);
  EXPECT_EQ(upward, nearest);
  EXPECT_EQ(upward32, nearest32);
  EXPECT_EQ(nearest[0], 8192);  // 0.25 x 32767 = 8191.75
}
