#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "pipeline/au_stream.h"

// A file stream on a POSIX descriptor, opened with a 16-bit mode word:
// fmCreate ($FFFF) creates or truncates with read and write access; any other
// mode opens an existing file with the access of bits 0-1 (0 read, 1 write,
// 2 read and write). The sharing bits (4-7) have no meaning on Linux and are
// ignored. A failed open raises EAuException with the system's error text.
// Close() closes the file and raises when the close fails; the destructor
// closes a file still open without a word, as a last resort only.
class TAuFileStream : public TStream {
 public:
  static constexpr uint16_t fmCreate = 0xFFFF;
  static constexpr uint16_t fmOpenRead = 0x0000;
  static constexpr uint16_t fmOpenWrite = 0x0001;
  static constexpr uint16_t fmOpenReadWrite = 0x0002;
  static constexpr uint16_t fmShareExclusive = 0x0010;
  static constexpr uint16_t fmShareDenyWrite = 0x0020;
  static constexpr uint16_t fmShareDenyRead = 0x0030;
  static constexpr uint16_t fmShareDenyNone = 0x0040;

  TAuFileStream(const std::filesystem::path& FileName, uint16_t Mode);
  ~TAuFileStream() override;
  TAuFileStream(const TAuFileStream&) = delete;
  TAuFileStream& operator=(const TAuFileStream&) = delete;

  std::size_t Read(void* Buffer, std::size_t Count) override;
  std::size_t Write(const void* Buffer, std::size_t Count) override;
  int64_t Seek(int64_t Offset, TSeekOrigin Origin) override;
  int64_t Size() override;
  // Raises EAuException with the system's error text when it fails.
  void SetSize(int64_t NewSize) override;
  void Close() override;

  // -1 once closed.
  int Handle() const { return FHandle; }

  // Written bytes after which the system is asked to start writing them out:
  // an output is synced before it takes its final name, and writing it out
  // while the rest is still encoded leaves that sync little to wait for.
  static constexpr std::size_t WriteOutBytes = std::size_t{8} << 20;

 private:
  int FHandle = -1;
  std::size_t FUnsubmitted = 0;
};
