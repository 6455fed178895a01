// Known-answer tests: small hand-checked frames and whole-file digests of
// generated signals, both encoded and decoded back.
#include <cstring>

#include "ape_test_support.h"
#include "checksums.h"

namespace apetest {
namespace {

std::vector<uint8_t> hex(const std::string& text) {
    std::vector<uint8_t> out;
    std::string digits;
    for (char c : text)
        if (std::isxdigit(static_cast<unsigned char>(c))) digits += c;
    for (size_t i = 0; i + 1 < digits.size(); i += 2) out.push_back(uint8_t(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return out;
}

// The frame data of a one-frame file without stored header, back in stream order.
std::vector<uint8_t> streamOf(const std::vector<uint8_t>& file) {
    std::vector<uint8_t> s(file.begin() + 80, file.end());
    for (size_t i = 0; i + 4 <= s.size(); i += 4) {
        std::swap(s[i], s[i + 3]);
        std::swap(s[i + 1], s[i + 2]);
    }
    return s;
}

struct Vector {
    const char* name;
    int bits, channels, rate, level;
    std::vector<int32_t> samples;
    const char* stream;  // including the zero padding
};

class SmallVectors : public TempDirTest, public ::testing::WithParamInterface<Vector> {};

TEST_P(SmallVectors, EncodeToKnownStreamAndDecodeBack) {
    const Vector& v = GetParam();
    Pcm pcm = makePcm(v.bits, v.channels, v.samples, v.rate);
    ASSERT_EQ(compressFile(path("v.ape"), pcm, v.level), 0);
    auto file = ReadFile(path("v.ape"));
    ASSERT_GT(file.size(), 80u);
    EXPECT_EQ(streamOf(file), hex(v.stream));
    std::vector<uint8_t> decoded;
    ASSERT_EQ(decompressFile(path("v.ape"), decoded), 0);
    EXPECT_EQ(decoded, pcm.bytes);
}

const std::vector<int32_t> kV1 = {0, 0, 1000, -1000, 2000, -1500, 2500, -1800, 2000, -1000, 500, 200, -1500, 1500, -3000, 2500};
const std::vector<int32_t> kV2 = {0, 100, 300, 600, 1000, 900, 500, -200};

INSTANTIATE_TEST_SUITE_P(
    FormatNotes, SmallVectors,
    ::testing::Values(
        Vector{"v1_1000", 16, 2, 44100, 1000, kV1,
               "03 77 33 b1 00 00 00 05 a9 c5 7c 1f 29 02 1f 98 c7 d1 49 a4 18 01 47 1d f7 81 b2 ca ce 00 00 00 "
               "00 00 00 00"},
        Vector{"v1_2000", 16, 2, 44100, 2000, kV1,
               "03 77 33 b1 00 00 00 05 a9 c5 7c 1f 29 02 1d fc 49 16 70 19 4f e7 a9 51 35 17 d4 39 ca 00 00 00 "
               "00 00 00 00"},
        Vector{"v2_1000", 16, 1, 8000, 1000, kV2, "58 26 ae 01 00 00 04 96 25 f2 08 ae 05 86 5c ca 00 00 00 00"},
        Vector{"v2_3000", 16, 1, 8000, 3000, kV2, "58 26 ae 01 00 00 04 96 25 f1 6d 98 e2 b9 f3 a2 00 00 00 00"},
        Vector{"v3_silence", 16, 2, 44100, 1000, std::vector<int32_t>(8, 0),
               "f6 5d a5 aa 00 00 00 07 00 01 00 00 00 00 00 00"},
        Vector{"v4_24bit", 24, 2, 48000, 3000,
               {100000, -200000, -4000000, 3000000, 8388607, -8388608, 12345, 54321},
               "75 88 99 01 00 ff ff 00 00 04 93 e0 7f ff 80 00 00 61 a8 3f ff c0 00 01 7b 57 7d 6a 6e 58 00 02 ad 4f "
               "5f 55 cb 42 00 29 18 61 59 bc f1 d0 00 05 81 1d da 53 6d b7 4b 9a d3 d2 39 00 00 00 00 00"},
        Vector{"v5_8bit", 8, 2, 44100, 2000, {200 - 128, 56 - 128, 0 - 128, 255 - 128, 0, 0},
               "5a c5 f0 dd 00 2b 04 a3 18 99 eb cc e2 12 00 00 00 00 00 00"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TempDirTest, WholeSmallFileMatchesReference) {
    ASSERT_EQ(compressFile(path("v1.ape"), makePcm(16, 2, kV1), 2000), 0);
    EXPECT_EQ(ReadFile(path("v1.ape")),
              hex("4d414320 960f0000 34000000 18000000 04000000 00000000 24000000 00000000"
                  "00000000 f5508f22 6bfa9f23 6a86aa63 a3416515 d0072000 00200100 08000000"
                  "01000000 10000200 44ac0000 50000000 b1337703 05000000 1f7cc5a9 fc1d0229"
                  "19701649 51a9e74f 39d41735 000000ca 00000000"));
}

// 200000 blocks of triangle plus noise from a fixed LCG; every level, depth
// and channel count has a known file digest.
Pcm goldenSignal(int bits, int channels) {
    uint32_t x = 1;
    std::vector<int32_t> s;
    for (int i = 0; i < 200000; ++i) {
        for (int c = 0; c < channels; ++c) {
            x = x * 1103515245u + 12345u;
            int32_t noise = int32_t((x >> 16) & 0x7FFF) - 16384;
            int p = (i * (3 + c)) % 400;
            int tri = p < 200 ? p : 400 - p;
            int32_t v16 = (tri - 100) * 250 + (noise >= 0 ? noise / 4 : -((-noise + 3) / 4));
            if (bits == 16) s.push_back(v16);
            else if (bits == 24) s.push_back(v16 * 256 + (i % 256));
            else s.push_back((v16 >= 0 ? v16 / 256 : -((-v16 + 255) / 256)));
        }
    }
    return makePcm(bits, channels, s);
}

struct Golden {
    int bits, channels, level;
    const char* md5;
};

class GoldenFiles : public TempDirTest, public ::testing::WithParamInterface<Golden> {};

TEST_P(GoldenFiles, DigestOfEncodedFileAndLosslessDecode) {
    const Golden& g = GetParam();
    Pcm pcm = goldenSignal(g.bits, g.channels);
    ASSERT_EQ(compressFile(path("g.ape"), pcm, g.level), 0);
    auto file = ReadFile(path("g.ape"));
    ape::Md5 md5;
    md5.update(file.data(), file.size());
    uint8_t digest[16];
    md5.finish(digest);
    char text[33];
    for (int i = 0; i < 16; ++i) std::snprintf(text + 2 * i, 3, "%02x", digest[i]);
    EXPECT_STREQ(text, g.md5);
    std::vector<uint8_t> decoded;
    ASSERT_EQ(decompressFile(path("g.ape"), decoded), 0);
    EXPECT_TRUE(decoded == pcm.bytes);
}

INSTANTIATE_TEST_SUITE_P(
    FormatNotes, GoldenFiles,
    ::testing::Values(Golden{8, 1, 1000, "6b2e7792cb2f9812a4cbe53a27f2ab9a"}, Golden{8, 1, 2000, "8eaee66a5ca82b04bb614190c4541d63"},
                      Golden{8, 1, 3000, "2ba8411469ab491d23cc1e5198de7566"}, Golden{8, 1, 4000, "8991c6939316c0fab2157934df10cdcd"},
                      Golden{8, 1, 5000, "30e4ce4f3fe66b73215536b2a1191078"}, Golden{8, 2, 1000, "43e86155f590b57c1490c1a5e02aae01"},
                      Golden{8, 2, 2000, "48618f96689b4061c255e40e6135fc8c"}, Golden{8, 2, 3000, "d47cd6d1a80d3dbdb1f60782e39eccb2"},
                      Golden{8, 2, 4000, "a20a7875846b3e46769a8269c10f4ae7"}, Golden{8, 2, 5000, "d44f3384a9dcb4f7e8a8888bf09a1ee0"},
                      Golden{16, 1, 1000, "1bb6756b086d4585d2ec7e0e294bd635"}, Golden{16, 1, 2000, "3753bdf54d1ddb38fb8e1cbdf159bd89"},
                      Golden{16, 1, 3000, "5d43f138e7cc304d37b297b22a59dd6e"}, Golden{16, 1, 4000, "7e1dc98f1589d7a72d708bf94197219c"},
                      Golden{16, 1, 5000, "783377a9782bb92aee93c969a011800d"}, Golden{16, 2, 1000, "52611018d4818639f511c56a32e40984"},
                      Golden{16, 2, 2000, "f9a84ebb2df33c399e97e6688a755da4"}, Golden{16, 2, 3000, "f530dce8b95aaa3efba84dcaaae15b59"},
                      Golden{16, 2, 4000, "a930b24fabffbf089167818859eb2438"}, Golden{16, 2, 5000, "74f2f8e62e2999000fd092388b801f6f"},
                      Golden{24, 1, 1000, "80b4883895b9411b5fedce0033408c7f"}, Golden{24, 1, 2000, "203e12ce31c43179d797214626f9ce3a"},
                      Golden{24, 1, 3000, "8a1d8cf9243c724bc4be24308cca7e30"}, Golden{24, 1, 4000, "41d36df598b547d66f872c70c5558499"},
                      Golden{24, 1, 5000, "94128a56e6a3ddb8fb69d8d00de835bb"}, Golden{24, 2, 1000, "703a2ada45d6c818e3a4468caa07d87c"},
                      Golden{24, 2, 2000, "7b49bd4c8bdc2da886769113f2b1d62c"}, Golden{24, 2, 3000, "80dfee54fa1d67cf83de91aa6dfc0572"},
                      Golden{24, 2, 4000, "132877109fc2e3e38bef60f8b37315db"}, Golden{24, 2, 5000, "438090a7cdb9dd5ecb474590b2b98bd3"}),
    [](const auto& info) {
        return "b" + std::to_string(info.param.bits) + "_c" + std::to_string(info.param.channels) + "_l" +
               std::to_string(info.param.level);
    });

}  // namespace
}  // namespace apetest
