#include "pipeline/au_stream.h"

#include "pipeline/au_exception.h"

namespace {
const char* const kStreamReadError = "Stream read error";
const char* const kStreamWriteError = "Stream write error";
}  // namespace

int64_t TStream::Size() {
  const int64_t pos = Seek(0, TSeekOrigin::soCurrent);
  const int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(pos, TSeekOrigin::soBeginning);
  return end;
}

void TStream::ReadBuffer(void* Buffer, std::size_t Count) {
  FLastError.clear();
  if (Count != 0 && Read(Buffer, Count) != Count)
    throw EAuException(FLastError.empty() ? kStreamReadError : FLastError);
}

void TStream::WriteBuffer(const void* Buffer, std::size_t Count) {
  FLastError.clear();
  if (Count != 0 && Write(Buffer, Count) != Count)
    throw EAuException(FLastError.empty() ? kStreamWriteError : FLastError);
}

std::size_t TStream::ReadUpTo(void* Buffer, std::size_t Count) {
  FLastError.clear();
  const std::size_t got = Count != 0 ? Read(Buffer, Count) : 0;
  if (!FLastError.empty()) throw EAuException(FLastError);
  return got;
}
