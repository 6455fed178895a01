#include "pipeline/pcm_digest.h"

#include <algorithm>
#include <cstring>

namespace {

inline uint64_t Mix(uint64_t State, uint64_t Word) {
  State = (State ^ Word) * 0xFF51AFD7ED558CCDull;
  return State ^ (State >> 32);
}

inline uint64_t WordAt(const uint8_t* p) {
  uint64_t word;
  std::memcpy(&word, p, 8);
  return word;
}

}  // namespace

const uint8_t* TPcmDigest::MixStripes(const uint8_t* p, std::size_t Stripes) {
  // The states live in locals here, so the compiler keeps them in registers
  // (the input's bytes could otherwise alias the members).
  static_assert(Lanes == 4, "the loop below mixes one word per lane");
  uint64_t s0 = FState[0], s1 = FState[1], s2 = FState[2], s3 = FState[3];
  for (; Stripes > 0; --Stripes, p += StripeBytes) {
    s0 = Mix(s0, WordAt(p));
    s1 = Mix(s1, WordAt(p + 8));
    s2 = Mix(s2, WordAt(p + 16));
    s3 = Mix(s3, WordAt(p + 24));
  }
  FState[0] = s0;
  FState[1] = s1;
  FState[2] = s2;
  FState[3] = s3;
  return p;
}

void TPcmDigest::Add(const void* Data, std::size_t Count) {
  // An empty block may come with no buffer at all.
  if (Count == 0) return;
  const auto* p = static_cast<const uint8_t*>(Data);
  FBytes += static_cast<int64_t>(Count);
  // Complete a stripe left over from the previous block first.
  if (FPendingBytes != 0) {
    const std::size_t take = std::min(Count, StripeBytes - FPendingBytes);
    std::memcpy(FPending + FPendingBytes, p, take);
    FPendingBytes += take;
    p += take;
    Count -= take;
    if (FPendingBytes < StripeBytes) return;
    MixStripes(FPending, 1);
    FPendingBytes = 0;
  }
  p = MixStripes(p, Count / StripeBytes);
  Count %= StripeBytes;
  std::memcpy(FPending, p, Count);
  FPendingBytes = Count;
}

uint64_t TPcmDigest::Value() const {
  // The unfinished stripe, zero-padded; its length goes in through the byte
  // count, so a stream and the same stream with zeros appended differ.
  uint8_t tail[StripeBytes] = {};
  std::memcpy(tail, FPending, FPendingBytes);
  uint64_t h = 0x27D4EB2F165667C5ull;
  for (std::size_t lane = 0; lane < Lanes; ++lane) {
    h = Mix(h, FState[lane]);
    h = Mix(h, WordAt(tail + 8 * lane));
  }
  h = Mix(h, static_cast<uint64_t>(FBytes));
  h = (h ^ (h >> 29)) * 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 32);
}
