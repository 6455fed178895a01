// A running hash of a PCM byte stream, the same whatever the blocks it comes
// in: a sink's record of what it was given and a decode of its output are
// compared through it.
#pragma once

#include <cstddef>
#include <cstdint>

class TPcmDigest {
 public:
  void Add(const void* Data, std::size_t Count);
  // The hash of every byte added so far (the bytes of an unfinished word
  // included); Add may go on after it.
  uint64_t Value() const;
  int64_t Bytes() const { return FBytes; }

 private:
  void Mix(uint64_t Word);

  uint64_t FState = 0x9E3779B97F4A7C15ull;
  uint64_t FPending = 0;
  unsigned FPendingBytes = 0;
  int64_t FBytes = 0;
};
