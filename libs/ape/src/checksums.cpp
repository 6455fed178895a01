#include "checksums.h"

#include <algorithm>
#include <cstring>

namespace ape {

namespace {

// Slicing-by-4 tables: frames are checked over every decoded byte, so the
// CRC is on the hot path of decoding.
struct Crc32Tables {
    uint32_t t[4][256];
    constexpr Crc32Tables() : t{} {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 4; ++s) t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xFF];
    }
};
constexpr Crc32Tables kCrc;

}  // namespace

uint32_t crc32_update(uint32_t crc, const uint8_t* p, size_t n) {
    while (n >= 4) {
        crc ^= uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        crc = kCrc.t[3][crc & 0xFF] ^ kCrc.t[2][(crc >> 8) & 0xFF] ^ kCrc.t[1][(crc >> 16) & 0xFF] ^
              kCrc.t[0][crc >> 24];
        p += 4;
        n -= 4;
    }
    while (n--) crc = kCrc.t[0][(crc ^ *p++) & 0xFF] ^ (crc >> 8);
    return crc;
}

namespace {
constexpr uint32_t kMd5K[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};
constexpr int kMd5R[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                           5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                           4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                           6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};
inline uint32_t rotl(uint32_t x, int c) { return (x << c) | (x >> (32 - c)); }
}  // namespace

Md5::Md5() : state_{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476}, buffer_{} {}

void Md5::transform(const uint8_t block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t(block[i * 4]) | uint32_t(block[i * 4 + 1]) << 8 | uint32_t(block[i * 4 + 2]) << 16 |
               uint32_t(block[i * 4 + 3]) << 24;
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        uint32_t t = d;
        d = c;
        c = b;
        b = b + rotl(a + f + kMd5K[i] + m[g], kMd5R[i]);
        a = t;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
}

void Md5::update(const uint8_t* data, size_t size) {
    if (size == 0) return;
    length_ += size;
    if (buffered_) {
        size_t take = std::min(size, 64 - buffered_);
        std::memcpy(buffer_ + buffered_, data, take);
        buffered_ += take;
        data += take;
        size -= take;
        if (buffered_ < 64) return;
        transform(buffer_);
        buffered_ = 0;
    }
    while (size >= 64) {
        transform(data);
        data += 64;
        size -= 64;
    }
    std::memcpy(buffer_, data, size);
    buffered_ = size;
}

void Md5::finish(uint8_t digest[16]) {
    uint64_t bits = length_ * 8;
    uint8_t pad[72] = {0x80};
    size_t padLen = (buffered_ < 56) ? 56 - buffered_ : 120 - buffered_;
    update(pad, padLen);
    uint8_t len[8];
    for (int i = 0; i < 8; ++i) len[i] = uint8_t(bits >> (8 * i));
    update(len, 8);
    for (int i = 0; i < 4; ++i)
        for (int k = 0; k < 4; ++k) digest[i * 4 + k] = uint8_t(state_[i] >> (8 * k));
}

}  // namespace ape
