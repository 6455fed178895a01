#include "pipeline/output_names.h"

#include <fcntl.h>
#include <stdio.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <system_error>

#include "pipeline/au_exception.h"

namespace fs = std::filesystem;

namespace output_names {

namespace {

[[noreturn]] void RaiseErrno(int error) { throw EAuException(std::strerror(error)); }

// Opens, syncs and closes; flags choose a file or a folder.
void SyncPath(const fs::path& Name, int Flags) {
  int fd;
  do {
    fd = ::open(Name.c_str(), Flags | O_CLOEXEC);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) RaiseErrno(errno);
  const int synced = ::fsync(fd);
  const int error = errno;
  ::close(fd);
  // A folder's file system may not sync folders (EINVAL): nothing to do.
  if (synced != 0 && !((Flags & O_DIRECTORY) != 0 && error == EINVAL)) RaiseErrno(error);
}

}  // namespace

fs::path TemporaryName(const fs::path& Final) {
  static std::atomic<unsigned> counter{0};
  const std::string name = "." + Final.filename().string() + "." + std::to_string(::getpid()) + "-" +
                           std::to_string(++counter) + kTemporarySuffix;
  return Final.parent_path() / name;
}

bool IsTemporaryName(const fs::path& Name) {
  const std::string name = Name.filename().string();
  const std::string suffix = kTemporarySuffix;
  return name.size() > suffix.size() + 1 && name.front() == '.' &&
         name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0;
}

bool ExistsOnDisk(const fs::path& Name) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(Name, ec));
}

fs::path FreeName(const fs::path& Wanted, const std::function<bool(const fs::path&)>& Taken) {
  if (!Taken(Wanted)) return Wanted;
  const fs::path folder = Wanted.parent_path();
  const std::string stem = Wanted.stem().string();
  const std::string ext = Wanted.extension().string();
  for (unsigned n = 2;; ++n) {
    fs::path candidate = folder / (stem + " (" + std::to_string(n) + ")" + ext);
    if (!Taken(candidate)) return candidate;
  }
}

bool MoveNoReplace(const fs::path& From, const fs::path& To) {
  if (::renameat2(AT_FDCWD, From.c_str(), AT_FDCWD, To.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) return false;
  if (errno != EINVAL && errno != ENOSYS) RaiseErrno(errno);
  // A file system without the no-replace rename: a hard link is made only
  // where no name is, and the temporary name then goes.
  if (::link(From.c_str(), To.c_str()) == 0) {
    ::unlink(From.c_str());
    return true;
  }
  if (errno == EEXIST) return false;
  if (errno != EPERM && errno != ENOTSUP) RaiseErrno(errno);
  // Nor hard links (FAT): the best a plain rename can do.
  if (ExistsOnDisk(To)) return false;
  MoveReplacing(From, To);
  return true;
}

void MoveReplacing(const fs::path& From, const fs::path& To) {
  if (::rename(From.c_str(), To.c_str()) != 0) RaiseErrno(errno);
}

void SyncFile(const fs::path& Name) { SyncPath(Name, O_RDONLY); }

void SyncFolderOf(const fs::path& Name) {
  const fs::path folder = Name.parent_path().empty() ? fs::path(".") : Name.parent_path();
  SyncPath(folder, O_RDONLY | O_DIRECTORY);
}

}  // namespace output_names
