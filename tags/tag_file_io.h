// Exact reads and writes on a file descriptor, and the in-place prepend the
// ID3v2 writer uses. All return false on any failure and never raise.
#pragma once

#include <cstddef>
#include <cstdint>

namespace tagio {

// Reads up to Count bytes at the current position, retrying on EINTR;
// returns the number read (short only at the end of the file or on error).
std::size_t ReadAll(int Fd, void* Buffer, std::size_t Count);
bool WriteAll(int Fd, const void* Buffer, std::size_t Count);
bool PReadAll(int Fd, void* Buffer, std::size_t Count, std::int64_t Offset);
bool PWriteAll(int Fd, const void* Buffer, std::size_t Count, std::int64_t Offset);

// Size of the file behind Fd, or -1.
std::int64_t FileSize(int Fd);

// A stretch of an open file, read by offset from its start without moving
// the file position.
class TFileRange {
 public:
  TFileRange(int Fd, std::int64_t Start, std::size_t Length) : FFd(Fd), FStart(Start), FLength(Length) {}
  std::size_t Length() const { return FLength; }
  // Count bytes at Offset; false unless they all lie inside the range and
  // were read.
  bool Read(std::size_t Offset, unsigned char* Out, std::size_t Count) const {
    return Offset <= FLength && Count <= FLength - Offset &&
           PReadAll(FFd, Out, Count, FStart + static_cast<std::int64_t>(Offset));
  }

 private:
  int FFd;
  std::int64_t FStart;
  std::size_t FLength;
};

// Inserts Count bytes at the start of the regular file behind Fd: the file
// grows by Count bytes and its previous content moves up, once, in place.
// The space is reserved before anything moves, and a failure part way moves
// the content back, so on false the file is as it was (barring a second I/O
// failure during that repair). The file position is left unchanged.
bool PrependToFile(int Fd, const void* Data, std::size_t Count);

}  // namespace tagio
