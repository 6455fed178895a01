#include "pipeline/au_file_stream.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "pipeline/au_exception.h"

TAuFileStream::TAuFileStream(const std::filesystem::path& FileName, uint16_t Mode) {
  int flags = O_CLOEXEC;
  if (Mode == fmCreate) {
    flags |= O_RDWR | O_CREAT | O_TRUNC;
  } else {
    switch (Mode & 3) {
      case 1: flags |= O_WRONLY; break;
      case 2: flags |= O_RDWR; break;
      default: flags |= O_RDONLY; break;
    }
  }
  do {
    FHandle = ::open(FileName.c_str(), flags, 0666);
  } while (FHandle < 0 && errno == EINTR);
  if (FHandle < 0) throw EAuException(std::strerror(errno));
  if (Mode != fmCreate) {
    // A directory opens read-only on Linux but is no file to stream.
    struct stat st{};
    if (::fstat(FHandle, &st) == 0 && S_ISDIR(st.st_mode)) {
      ::close(FHandle);
      FHandle = -1;
      throw EAuException(std::strerror(EISDIR));
    }
  }
}

TAuFileStream::~TAuFileStream() {
  if (FHandle >= 0) ::close(FHandle);
}

void TAuFileStream::Close() {
  if (FHandle < 0) return;
  // The descriptor is gone whatever close() reports (even EINTR on Linux):
  // it must never be closed a second time.
  const int handle = FHandle;
  FHandle = -1;
  if (::close(handle) != 0) throw EAuException(std::strerror(errno));
}

namespace {

// Repeats a read or write until Count bytes moved, the end, or an error
// (whose text goes to Error, left empty otherwise); interrupted calls are
// retried.
template <typename Io, typename Byte>
std::size_t TransferAll(Io io, Byte* p, std::size_t Count, std::string& Error) {
  Error.clear();
  std::size_t done = 0;
  while (done < Count) {
    const ssize_t n = io(p + done, Count - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      Error = std::strerror(errno);
      break;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

}  // namespace

std::size_t TAuFileStream::Read(void* Buffer, std::size_t Count) {
  return TransferAll([fd = FHandle](char* p, std::size_t n) { return ::read(fd, p, n); }, static_cast<char*>(Buffer),
                     Count, FLastError);
}

std::size_t TAuFileStream::Write(const void* Buffer, std::size_t Count) {
  const std::size_t done = TransferAll([fd = FHandle](const char* p, std::size_t n) { return ::write(fd, p, n); },
                                       static_cast<const char*>(Buffer), Count, FLastError);
  FUnsubmitted += done;
  if (FUnsubmitted >= WriteOutBytes) {
    FUnsubmitted = 0;
    // Only a start, which does not wait for the disk: whether the data got
    // there is for the sync to tell, so a failure here is not one.
    (void)::sync_file_range(FHandle, 0, 0, SYNC_FILE_RANGE_WRITE);
  }
  return done;
}

int64_t TAuFileStream::Seek(int64_t Offset, TSeekOrigin Origin) {
  int whence = SEEK_SET;
  if (Origin == TSeekOrigin::soCurrent) whence = SEEK_CUR;
  if (Origin == TSeekOrigin::soEnd) whence = SEEK_END;
  return static_cast<int64_t>(::lseek(FHandle, static_cast<off_t>(Offset), whence));
}

int64_t TAuFileStream::Size() {
  struct stat st{};
  if (::fstat(FHandle, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

void TAuFileStream::SetSize(int64_t NewSize) {
  if (::ftruncate(FHandle, static_cast<off_t>(NewSize)) != 0) throw EAuException(std::strerror(errno));
}
