#include "file_io.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

namespace ape {

File::~File() { close(); }

File::File(File&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = other.fd_;
        other.fd_ = -1;
    }
    return *this;
}

void File::close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
}

bool File::openRead(const char* path) {
    close();
    fd_ = ::open(path, O_RDONLY | O_CLOEXEC);
    return fd_ >= 0;
}

bool File::openReadWrite(const char* path) {
    close();
    fd_ = ::open(path, O_RDWR | O_CLOEXEC);
    return fd_ >= 0;
}

bool File::create(const char* path) {
    close();
    fd_ = ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    return fd_ >= 0;
}

bool File::createScratch(const std::string& nearPath) {
    close();
    std::string pattern = nearPath + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    fd_ = ::mkostemp(name.data(), O_CLOEXEC);
    if (fd_ < 0) return false;
    ::unlink(name.data());  // lives only as long as the descriptor
    return true;
}

bool File::readAt(uint64_t offset, void* data, size_t size) const {
    auto* p = static_cast<uint8_t*>(data);
    while (size) {
        ssize_t n = ::pread(fd_, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

bool File::writeAt(uint64_t offset, const void* data, size_t size) {
    auto* p = static_cast<const uint8_t*>(data);
    while (size) {
        ssize_t n = ::pwrite(fd_, p, size, off_t(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        offset += uint64_t(n);
        size -= size_t(n);
    }
    return true;
}

bool File::size(uint64_t& result) const {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return false;
    result = uint64_t(st.st_size);
    return true;
}

bool File::truncate(uint64_t length) { return ::ftruncate(fd_, off_t(length)) == 0; }

bool File::reserve(uint64_t offset, uint64_t length) {
    int rc = ::posix_fallocate(fd_, off_t(offset), off_t(length));
    return rc == 0 || rc == EOPNOTSUPP || rc == EINVAL;
}

}  // namespace ape
