// A running hash of a PCM byte stream, the same whatever the blocks it comes
// in: a sink's record of what it was given and a decode of its output are
// compared through it.
#pragma once

#include <cstddef>
#include <cstdint>

class TPcmDigest {
 public:
  void Add(const void* Data, std::size_t Count);
  // The hash of every byte added so far (the bytes of an unfinished stripe
  // included); Add may go on after it.
  uint64_t Value() const;
  int64_t Bytes() const { return FBytes; }

 private:
  // The stream is hashed in stripes of four words, one running state per
  // word: four short dependency chains instead of one long one, so the
  // hash keeps pace with a decoder's output rather than adding to it.
  static constexpr std::size_t Lanes = 4;
  static constexpr std::size_t StripeBytes = Lanes * 8;
  // Mixes Stripes whole stripes from p; returns the end of them.
  const uint8_t* MixStripes(const uint8_t* p, std::size_t Stripes);

  uint64_t FState[Lanes] = {0x9E3779B97F4A7C15ull, 0xC2B2AE3D27D4EB4Full, 0x165667B19E3779F9ull,
                            0x85EBCA77C2B2AE63ull};
  uint8_t FPending[StripeBytes] = {};
  std::size_t FPendingBytes = 0;
  int64_t FBytes = 0;
};
