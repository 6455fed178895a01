// The RIFF/WAVE header scan shared by the WAV reader and the WAV writer's
// append mode: a sliding search for "RIFF" and "WAVE", then chunk by chunk,
// every byte kept in a 4096-byte header buffer.
#pragma once

#include "platform/byte_order.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>

// True when each byte equals the ID's byte or differs from it by exactly 32,
// so "riff", "Wave", "FMT " and "DATA" match too.
bool MatchChunkID(const uint8_t* bytes, const char* id);

constexpr uint32_t RiffHeaderBufferSize = 4096;

class TRiffHeaderScanner {
 public:
  // Read returns the bytes it could read (short at the end of the stream);
  // AtEnd tells when a seekable stream's position has reached its size.
  using TReadFn = std::function<size_t(uint8_t*, size_t)>;
  using TAtEndFn = std::function<bool()>;

  TRiffHeaderScanner(TReadFn read, TAtEndFn atEnd);

  // Finds "RIFF", skips its size, finds "WAVE" and reads the first chunk ID.
  bool FindWave();
  // The chunk ID read last.
  const uint8_t* ChunkID() const { return Buffer.data() + IDOffset; }
  bool IsChunk(const char* id) const { return MatchChunkID(ChunkID(), id); }
  bool ReadSize(uint32_t& size);
  // Reads a body into the header buffer; Body points at it until the next read.
  bool ReadBody(uint32_t size, const uint8_t*& body);
  bool ReadNextID();
  // Reads size and body of the current chunk and the next ID.
  bool SkipChunk();
  // Bytes read so far: the stream offset of the next byte when the scan
  // started at offset 0.
  uint32_t Cursor() const { return Count; }
  // The scan may go on: the stream is not exhausted.
  bool MayContinue() const { return !AtEnd(); }

 private:
  bool Read(size_t n);
  bool SlideTo(const char* id);

  TReadFn ReadBytes;
  TAtEndFn AtEnd;
  std::array<uint8_t, RiffHeaderBufferSize> Buffer{};
  uint32_t Count = 0;
  uint32_t IDOffset = 0;
};

// Format tags of the "fmt " chunk, shared by the reader and the writer.
constexpr uint16_t TagPcm = 1;
constexpr uint16_t TagMsAdpcm = 2;
constexpr uint16_t TagIeeeFloat = 3;
constexpr uint16_t TagImaAdpcm = 0x11;
constexpr uint16_t TagMpegLayer3 = 0x55;
constexpr uint16_t TagExtensible = 0xFFFE;

using platform::ReadLe16;
using platform::ReadLe32;
using platform::WriteLe16;
using platform::WriteLe32;
