// A POSIX file descriptor owned by one object, with positioned reads and
// writes that retry short transfers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace ape {

class File {
public:
    File() = default;
    ~File();
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;

    bool openRead(const char* path);
    bool openReadWrite(const char* path);
    bool create(const char* path);  // creates or truncates
    // An unnamed scratch file in the folder of `nearPath`.
    bool createScratch(const std::string& nearPath);
    void close();
    bool isOpen() const { return fd_ >= 0; }

    bool readAt(uint64_t offset, void* data, size_t size) const;
    bool writeAt(uint64_t offset, const void* data, size_t size);
    bool size(uint64_t& result) const;
    bool truncate(uint64_t length);
    bool reserve(uint64_t offset, uint64_t length);

private:
    int fd_ = -1;
};

inline uint16_t getLE16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }
inline uint32_t getLE32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline void putLE16(uint8_t* p, uint16_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline void putLE32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

}  // namespace ape
