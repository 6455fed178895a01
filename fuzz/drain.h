// Reads a source to its end for a fuzz target, touching the first and last
// byte of every block so that a bad slice is seen by the sanitizers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "pipeline/au_input.h"

inline size_t DrainSource(TAuInput& in, uint32_t request, int maxBlocks) {
  size_t total = 0;
  // A source must end: a long file ends too, this only bounds the fuzzer's time.
  for (int i = 0; i < maxBlocks; ++i) {
    void* buffer = nullptr;
    uint32_t bytes = request;
    in.GetData(buffer, bytes);
    if (bytes == 0) break;
    const auto* p = static_cast<const volatile uint8_t*>(buffer);
    total += p[0] + p[bytes - 1];
  }
  return total;
}
