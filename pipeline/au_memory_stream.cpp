#include "pipeline/au_memory_stream.h"

#include <algorithm>
#include <cstring>

#include "pipeline/au_exception.h"

TAuMemoryStream::TAuMemoryStream(const void* Data, std::size_t Count)
    : FData(static_cast<const uint8_t*>(Data), static_cast<const uint8_t*>(Data) + Count) {}

std::size_t TAuMemoryStream::Read(void* Buffer, std::size_t Count) {
  if (FPosition >= FData.size()) return 0;
  const std::size_t n = std::min(Count, FData.size() - FPosition);
  std::memcpy(Buffer, FData.data() + FPosition, n);
  FPosition += n;
  return n;
}

std::size_t TAuMemoryStream::Write(const void* Buffer, std::size_t Count) {
  if (Count == 0) return 0;
  if (FPosition + Count > FData.size()) FData.resize(FPosition + Count);
  std::memcpy(FData.data() + FPosition, Buffer, Count);
  FPosition += Count;
  return Count;
}

int64_t TAuMemoryStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int64_t base = 0;
  if (Origin == TSeekOrigin::soCurrent) base = static_cast<int64_t>(FPosition);
  if (Origin == TSeekOrigin::soEnd) base = static_cast<int64_t>(FData.size());
  if ((Offset > 0 && base > INT64_MAX - Offset) || base + Offset < 0) return -1;
  FPosition = static_cast<std::size_t>(base + Offset);
  return static_cast<int64_t>(FPosition);
}

void TAuMemoryStream::SetSize(int64_t NewSize) {
  if (NewSize < 0) throw EAuException("Invalid stream size");
  FData.resize(static_cast<std::size_t>(NewSize));
  FPosition = std::min(FPosition, FData.size());
}
