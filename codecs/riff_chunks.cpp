#include "codecs/riff_chunks.h"

#include <utility>

bool MatchChunkID(const uint8_t* bytes, const char* id) {
  for (int i = 0; i < 4; ++i) {
    const int a = bytes[i];
    const int b = static_cast<uint8_t>(id[i]);
    if (a != b && a != b + 32 && a != b - 32) return false;
  }
  return true;
}

TRiffHeaderScanner::TRiffHeaderScanner(TReadFn read, TAtEndFn atEnd)
    : ReadBytes(std::move(read)), AtEnd(std::move(atEnd)) {}

bool TRiffHeaderScanner::Read(size_t n) {
  if (n > RiffHeaderBufferSize - Count) return false;
  // A short read means the stream has ended: stop, even on a stream that
  // cannot tell its size, so the search never spins on an empty stream.
  if (ReadBytes(Buffer.data() + Count, n) != n) return false;
  Count += static_cast<uint32_t>(n);
  return true;
}

bool TRiffHeaderScanner::SlideTo(const char* id) {
  if (!Read(4)) return false;
  while (!MatchChunkID(Buffer.data() + Count - 4, id)) {
    if (AtEnd() || !Read(1)) return false;
  }
  return true;
}

bool TRiffHeaderScanner::FindWave() {
  Count = 0;
  if (!SlideTo("RIFF")) return false;
  if (AtEnd() || !Read(4)) return false;  // RIFF size, not used
  if (AtEnd() || !SlideTo("WAVE")) return false;
  if (AtEnd()) return false;
  return ReadNextID();
}

bool TRiffHeaderScanner::ReadSize(uint32_t& size) {
  if (!Read(4)) return false;
  size = ReadLe32(Buffer.data() + Count - 4);
  return true;
}

bool TRiffHeaderScanner::ReadBody(uint32_t size, const uint8_t*& body) {
  const uint32_t start = Count;
  if (!Read(size)) return false;
  body = Buffer.data() + start;
  return true;
}

bool TRiffHeaderScanner::ReadNextID() {
  if (!Read(4)) return false;
  IDOffset = Count - 4;
  return true;
}

bool TRiffHeaderScanner::SkipChunk() {
  uint32_t size = 0;
  const uint8_t* body = nullptr;
  return ReadSize(size) && ReadBody(size, body) && ReadNextID();
}

