#include "tags/tag_file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <vector>

namespace tagio {

namespace {

constexpr std::size_t kMoveChunk = 1 << 20;

// Copies Length bytes from offset From to offset To within one file, safely
// for overlapping ranges: backwards when moving up, forwards when moving down.
// On failure, *Done (when given) holds how many bytes at the far end (moving
// up) or near end (moving down) were completely copied.
bool MoveWithin(int fd, std::int64_t from, std::int64_t to, std::int64_t length, std::int64_t* done) {
  std::vector<unsigned char> chunk(static_cast<std::size_t>(std::min<std::int64_t>(length, kMoveChunk)));
  std::int64_t moved = 0;
  if (done != nullptr) *done = 0;
  while (moved < length) {
    const auto n = static_cast<std::size_t>(std::min<std::int64_t>(length - moved, kMoveChunk));
    const std::int64_t offset = to > from ? length - moved - static_cast<std::int64_t>(n) : moved;
    if (!PReadAll(fd, chunk.data(), n, from + offset)) return false;
    if (!PWriteAll(fd, chunk.data(), n, to + offset)) return false;
    moved += static_cast<std::int64_t>(n);
    if (done != nullptr) *done = moved;
  }
  return true;
}

}  // namespace

std::size_t ReadAll(int Fd, void* Buffer, std::size_t Count) {
  auto* out = static_cast<unsigned char*>(Buffer);
  std::size_t total = 0;
  while (total < Count) {
    const ssize_t n = ::read(Fd, out + total, Count - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  return total;
}

bool WriteAll(int Fd, const void* Buffer, std::size_t Count) {
  const auto* in = static_cast<const unsigned char*>(Buffer);
  std::size_t total = 0;
  while (total < Count) {
    const ssize_t n = ::write(Fd, in + total, Count - total);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    total += static_cast<std::size_t>(n);
  }
  return true;
}

bool PReadAll(int Fd, void* Buffer, std::size_t Count, std::int64_t Offset) {
  auto* out = static_cast<unsigned char*>(Buffer);
  std::size_t total = 0;
  while (total < Count) {
    const ssize_t n = ::pread(Fd, out + total, Count - total, static_cast<off_t>(Offset + static_cast<std::int64_t>(total)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    total += static_cast<std::size_t>(n);
  }
  return true;
}

bool PWriteAll(int Fd, const void* Buffer, std::size_t Count, std::int64_t Offset) {
  const auto* in = static_cast<const unsigned char*>(Buffer);
  std::size_t total = 0;
  while (total < Count) {
    const ssize_t n = ::pwrite(Fd, in + total, Count - total, static_cast<off_t>(Offset + static_cast<std::int64_t>(total)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    total += static_cast<std::size_t>(n);
  }
  return true;
}

std::int64_t FileSize(int Fd) {
  struct stat st {};
  if (::fstat(Fd, &st) != 0) return -1;
  return static_cast<std::int64_t>(st.st_size);
}

bool PrependToFile(int Fd, const void* Data, std::size_t Count) {
  struct stat st {};
  if (::fstat(Fd, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  const std::int64_t oldSize = st.st_size;
  const auto grow = static_cast<std::int64_t>(Count);
  if (Count == 0) return true;
  // Allocating the blocks now (not a sparse ftruncate) means the move below
  // cannot fail for want of disk space half way through.
  if (::posix_fallocate(Fd, static_cast<off_t>(oldSize), static_cast<off_t>(grow)) != 0) {
    // A read-only or special descriptor fails here, before anything changed;
    // undo only a partial extension.
    if (FileSize(Fd) != oldSize) (void)::ftruncate(Fd, static_cast<off_t>(oldSize));
    return false;
  }
  std::int64_t moved = 0;
  bool ok = MoveWithin(Fd, 0, grow, oldSize, &moved);
  if (ok) ok = PWriteAll(Fd, Data, Count, 0);
  if (!ok) {
    // The last `moved` bytes of the old content sit intact at their new
    // place; copy them back down, then drop the added space.
    MoveWithin(Fd, oldSize - moved + grow, oldSize - moved, moved, nullptr);
    (void)::ftruncate(Fd, static_cast<off_t>(oldSize));
    return false;
  }
  return true;
}

}  // namespace tagio
