#include "pipeline/pcm_digest.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace {

std::vector<uint8_t> Bytes(std::size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out(n);
  for (auto& b : out) b = static_cast<uint8_t>(random());
  return out;
}

uint64_t Whole(const std::vector<uint8_t>& data) {
  TPcmDigest d;
  d.Add(data.data(), data.size());
  return d.Value();
}

}  // namespace

TEST(PcmDigest, TheSameWhateverTheBlocksTheBytesComeIn) {
  const std::vector<uint8_t> data = Bytes(4099, 1);
  const uint64_t whole = Whole(data);
  std::mt19937 random(2);
  for (int round = 0; round < 50; ++round) {
    TPcmDigest d;
    std::size_t at = 0;
    while (at < data.size()) {
      // Empty, single-byte, odd and stripe-crossing blocks.
      const std::size_t n = std::min<std::size_t>(random() % 70, data.size() - at);
      d.Add(data.data() + at, n);
      at += n;
      // Reading the value on the way leaves the running hash alone.
      if (round % 2 == 0) (void)d.Value();
    }
    EXPECT_EQ(d.Bytes(), static_cast<int64_t>(data.size()));
    ASSERT_EQ(d.Value(), whole) << "round " << round;
  }
}

TEST(PcmDigest, EveryChangedByteReorderingOrLengthChangesTheValue) {
  const std::vector<uint8_t> data = Bytes(200, 3);
  const uint64_t whole = Whole(data);
  for (std::size_t i = 0; i < data.size(); ++i) {
    std::vector<uint8_t> changed = data;
    changed[i] ^= 1;
    EXPECT_NE(Whole(changed), whole) << "byte " << i;
  }
  // Two whole words swapped: within a stripe, and between stripes in the
  // same lane.
  for (const std::size_t other : {8u, 32u}) {
    std::vector<uint8_t> swapped = data;
    std::swap_ranges(swapped.begin(), swapped.begin() + 8, swapped.begin() + static_cast<long>(other));
    EXPECT_NE(Whole(swapped), whole) << "word swapped with offset " << other;
  }
  // Trailing silence counts: a lost or added zero byte is not the same stream.
  std::vector<uint8_t> zeros(64, 0);
  for (std::size_t n = 0; n < zeros.size(); ++n) {
    EXPECT_NE(Whole(std::vector<uint8_t>(zeros.begin(), zeros.begin() + static_cast<long>(n))),
              Whole(std::vector<uint8_t>(zeros.begin(), zeros.begin() + static_cast<long>(n + 1))))
        << n << " zero bytes";
  }
}
