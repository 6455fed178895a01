#include "pipeline/pcm_digest.h"

#include <cstring>

void TPcmDigest::Mix(uint64_t Word) {
  FState = (FState ^ Word) * 0xFF51AFD7ED558CCDull;
  FState ^= FState >> 32;
}

void TPcmDigest::Add(const void* Data, std::size_t Count) {
  const auto* p = static_cast<const uint8_t*>(Data);
  FBytes += static_cast<int64_t>(Count);
  // Complete a word left over from the previous block first, byte by byte.
  while (Count > 0 && FPendingBytes != 0) {
    FPending |= static_cast<uint64_t>(*p++) << (8 * FPendingBytes);
    --Count;
    if (++FPendingBytes == 8) {
      Mix(FPending);
      FPending = 0;
      FPendingBytes = 0;
    }
  }
  while (Count >= 8) {
    uint64_t word;
    std::memcpy(&word, p, 8);
    Mix(word);
    p += 8;
    Count -= 8;
  }
  while (Count > 0) {
    FPending |= static_cast<uint64_t>(*p++) << (8 * FPendingBytes);
    ++FPendingBytes;
    --Count;
  }
}

uint64_t TPcmDigest::Value() const {
  uint64_t h = FState;
  h = (h ^ FPending ^ (static_cast<uint64_t>(FPendingBytes) << 56)) * 0xC4CEB9FE1A85EC53ull;
  h ^= static_cast<uint64_t>(FBytes);
  h ^= h >> 33;
  return h;
}
