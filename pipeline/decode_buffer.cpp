#include "pipeline/decode_buffer.h"

#include <algorithm>

void TDecodeBuffer::Allocate(std::size_t Capacity) {
  FData.assign(Capacity, 0);
  Clear();
}

void TDecodeBuffer::Release() {
  FData = {};
  Clear();
}

void TDecodeBuffer::Filled(std::size_t Bytes) {
  FStart = 0;
  FEnd = std::min(Bytes, FData.size());
}

void TDecodeBuffer::Serve(void*& Buffer, uint32_t& Bytes, uint32_t FrameBytes) {
  uint32_t bytes = FrameBytes == 0 ? 0 : static_cast<uint32_t>(std::min<std::size_t>(Bytes, Available()));
  if (bytes >= FrameBytes && FrameBytes != 0) bytes -= bytes % FrameBytes;
  Bytes = bytes;
  if (bytes == 0) {
    Buffer = nullptr;
    return;
  }
  Buffer = FData.data() + FStart;
  FStart += bytes;
}
