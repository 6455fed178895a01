// CRC-32 (the zlib polynomial) for frame checks and MD5 for the file digest.
#pragma once

#include <cstddef>
#include <cstdint>

namespace ape {

// Continues a CRC-32 over more bytes; start with crc32_init() and finish with
// crc32_final().
constexpr uint32_t crc32_init() { return 0xFFFFFFFFu; }
uint32_t crc32_update(uint32_t crc, const uint8_t* data, size_t size);
constexpr uint32_t crc32_final(uint32_t crc) { return crc ^ 0xFFFFFFFFu; }

class Md5 {
public:
    Md5();
    void update(const uint8_t* data, size_t size);
    void finish(uint8_t digest[16]);

private:
    void transform(const uint8_t block[64]);
    uint32_t state_[4];
    uint64_t length_ = 0;
    uint8_t buffer_[64];
    size_t buffered_ = 0;
};

}  // namespace ape
