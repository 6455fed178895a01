#include "converters/cascade_filter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <iostream>
#include <random>
#include <vector>

#include "converters/fast_resampler.h"

namespace {

// The four sections as the plain definition: per channel and section, the
// feed-forward terms summed in extended precision and rounded to single,
// then the feedback terms added and the result rounded, one frame at a time
// over the whole signal.
std::vector<float> Reference(std::vector<float> data, int channels, const TChebyshevCoefficients& c) {
  const std::size_t frames = data.size() / channels;
  for (int ch = 0; ch < channels; ++ch) {
    std::vector<float> x(frames);
    for (std::size_t n = 0; n < frames; ++n) x[n] = data[n * channels + ch];
    for (int section = 0; section < 4; ++section) {
      std::vector<float> y(frames);
      for (std::size_t n = 0; n < frames; ++n) {
        long double ff = 0;
        for (int k = 4; k >= 0; --k) ff += n >= std::size_t(k) ? static_cast<long double>(c.A[k]) * x[n - k] : 0.0L;
        long double fb = static_cast<float>(ff);
        for (int k = 3; k >= 0; --k)
          fb += n >= std::size_t(k + 1) ? static_cast<long double>(c.B[k]) * y[n - 1 - k] : 0.0L;
        y[n] = static_cast<float>(fb);
      }
      x = y;
    }
    for (std::size_t n = 0; n < frames; ++n) data[n * channels + ch] = x[n];
  }
  return data;
}

// The filter in blocks whose sizes cycle through Blocks (short ones reach
// the steps where only some sections are busy).
std::vector<float> Blockwise(std::vector<float> data, int channels, const TChebyshevCoefficients& c,
                             TFilterKernel kernel, const std::vector<std::size_t>& blocks) {
  TCascadeFilter filter;
  filter.Kernel = kernel;
  filter.SetCoefficients(c.A, c.B);
  // Sized for fewer frames than the longest block: such a block runs in
  // pieces.
  filter.Reset(channels, 500);
  EXPECT_EQ(filter.Kernel, kernel);
  const std::size_t frames = data.size() / channels;
  std::size_t at = 0;
  for (std::size_t i = 0; at < frames; ++i) {
    const std::size_t n = std::min(blocks[i % blocks.size()], frames - at);
    filter.Run(data.data() + at * channels, n);
    at += n;
  }
  return data;
}

std::vector<float> Noise(std::size_t values, unsigned seed, float level = 0.7f) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> u(-level, level);
  std::vector<float> v(values);
  for (float& x : v) x = u(rng);
  return v;
}

std::vector<TFilterKernel> Kernels() {
  std::vector<TFilterKernel> all;
  for (auto k : {TFilterKernel::Scalar, TFilterKernel::Sse2, TFilterKernel::Avx2, TFilterKernel::Avx512})
    if (TCascadeFilter::KernelAvailable(k)) all.push_back(k);
  return all;
}

int16_t To16(float x) {
  const float c = x >= 1.0f ? 1.0f : (x > -1.0f ? x : -1.0f);
  return static_cast<int16_t>(std::nearbyint(static_cast<double>(c) * 32767.0));
}

}  // namespace

// Every kernel, at every block size and channel count, computes the values
// of the definition; a tone, a square and short noise bursts come out
// identical to the last bit.
TEST(CascadeFilterTest, EveryKernelGivesTheDefinitionsValues) {
  const auto c = DesignChebyshevLowPass(0.2125L);
  const auto c2 = DesignChebyshevLowPass(0.85L * 4410 / 4800 / 2);
  for (const int channels : {1, 2, 3, 8}) {
    std::vector<float> signal;
    for (int n = 0; n < 3000; ++n)
      for (int ch = 0; ch < channels; ++ch) {
        const float tone = 0.6f * static_cast<float>(std::sin(0.05 * n * (ch + 1)));
        const float square = (n / (17 + ch)) % 2 ? 0.9f : -0.9f;
        signal.push_back(n < 1000 ? tone : (n < 2000 ? square : 0.0f));
      }
    const auto burst = Noise(static_cast<std::size_t>(channels) * 2000, 7 + channels);
    signal.insert(signal.end(), burst.begin(), burst.end());
    for (const auto& coefs : {c, c2}) {
      const auto want = Reference(signal, channels, coefs);
      for (const auto kernel : Kernels()) {
        for (const auto& blocks : {std::vector<std::size_t>{8820}, std::vector<std::size_t>{1, 2, 3, 4, 5, 700},
                                   std::vector<std::size_t>{3, 1000, 2}}) {
          SCOPED_TRACE(testing::Message() << channels << " channels, kernel " << static_cast<int>(kernel)
                                          << ", first block " << blocks[0]);
          const auto got = Blockwise(signal, channels, coefs, kernel, blocks);
          ASSERT_EQ(got.size(), want.size());
          std::size_t differing = 0;
          for (std::size_t i = 0; i < got.size(); ++i) differing += got[i] != want[i];
          EXPECT_EQ(differing, 0u);
        }
      }
    }
  }
}

// On a long noise signal the sums in double can land on the other side of a
// single's rounding boundary from the sums in extended precision, very
// rarely. Counted in 16-bit output steps, and reported; the kernels agree
// among themselves exactly.
TEST(CascadeFilterTest, LongNoiseDiffersFromExtendedPrecisionByOneStepAtMostRarely) {
  const auto c = DesignChebyshevLowPass(0.2125L);
  const std::size_t frames = 44100 * 60;
  const auto noise = Noise(frames * 2, 2026, 0.9f);
  const auto want = Reference(noise, 2, c);
  std::vector<float> first;
  for (const auto kernel : Kernels()) {
    const auto got = Blockwise(noise, 2, c, kernel, {8820});
    if (first.empty()) {
      first = got;
    } else {
      EXPECT_TRUE(got == first) << "kernel " << static_cast<int>(kernel) << " differs from the scalar one";
    }
  }
  std::size_t floats = 0, steps = 0, larger = 0;
  for (std::size_t i = 0; i < first.size(); ++i) {
    floats += first[i] != want[i];
    const int d = std::abs(To16(first[i]) - To16(want[i]));
    steps += d == 1;
    larger += d > 1;
  }
  std::cout << "[ long noise ] 60 s stereo: " << floats << " of " << first.size() << " values differ in float, "
            << steps << " by one 16-bit step, " << larger << " by more\n";
  RecordProperty("float_values_differing", std::to_string(floats));
  RecordProperty("one_step_differences", std::to_string(steps));
  EXPECT_EQ(larger, 0u);
  EXPECT_LE(steps, first.size() / 100000);
}
