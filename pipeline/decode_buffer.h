// TDecodeBuffer: the block a decoder (a file source, the CD source, a
// converter that works in blocks) has just produced, handed out to GetData
// callers in slices until it is used up. Offsets are 0-based.
//
// A source's GetDataInternal is then:
//   if (Decoded.Empty()) { decode into Decoded.Data(); Decoded.Filled(n); }
//   Decoded.Serve(Buffer, Bytes, FrameBytes);
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class TDecodeBuffer {
 public:
  TDecodeBuffer() = default;
  explicit TDecodeBuffer(std::size_t Capacity) { Allocate(Capacity); }

  // Room for Capacity bytes, zero-filled; nothing left to serve.
  void Allocate(std::size_t Capacity);
  // Frees the storage (the end of a run).
  void Release();

  uint8_t* Data() { return FData.data(); }
  std::size_t Capacity() const { return FData.size(); }

  // Everything decoded has been served: time to decode the next block.
  bool Empty() const { return FStart >= FEnd; }
  std::size_t Available() const { return FEnd - FStart; }
  // Drops what is left (a seek, a new run).
  void Clear() { FStart = FEnd = 0; }
  // The decoder has put Bytes at Data(): they are served from the start.
  // More than Capacity is cut to it.
  void Filled(std::size_t Bytes);

  // Hands out up to Bytes of what is left: Buffer points at it (nullptr
  // when nothing is), Bytes is the count. A request of at least one frame
  // gets whole frames only; FrameBytes 0 serves nothing.
  void Serve(void*& Buffer, uint32_t& Bytes, uint32_t FrameBytes);

 private:
  std::vector<uint8_t> FData;
  std::size_t FStart = 0;
  std::size_t FEnd = 0;
};
