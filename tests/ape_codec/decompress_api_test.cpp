// Decompression through the C interface: information codes, seeking,
// containers around the APE data, and damaged or unsupported files.
#include <cstring>

#include "ape_test_support.h"
#include "file_header.h"

namespace apetest {
namespace {

class Decompress : public TempDirTest {
protected:
    APE_DECOMPRESS_HANDLE open(const fs::path& file, int& error) {
        return c_APEDecompress_CreateW(file.c_str(), &error);
    }
    int openError(const std::vector<uint8_t>& bytes) {
        WriteFile(path("x.ape"), bytes);
        int error = 0;
        APE_DECOMPRESS_HANDLE h = open(path("x.ape"), error);
        EXPECT_EQ(h == nullptr, error != 0);
        c_APEDecompress_Destroy(h);
        return error;
    }
};

TEST_F(Decompress, InfoCodesDescribeTheFile) {
    Pcm pcm = musicLike(24, 1, 100000, 3);
    pcm.sampleRate = 48000;
    ASSERT_EQ(compressFile(path("a.ape"), pcm, 3000), 0);
    int error = -1;
    APE_DECOMPRESS_HANDLE h = open(path("a.ape"), error);
    ASSERT_NE(h, nullptr);
    EXPECT_EQ(error, 0);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_SAMPLE_RATE, 0, 0), 48000);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_BITS_PER_SAMPLE, 0, 0), 24);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_CHANNELS, 0, 0), 1);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_WAV_TOTAL_BYTES, 0, 0), 300000);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_DECOMPRESS_LENGTH_MS, 0, 0), 2083);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_FILE_VERSION, 0, 0), 3990);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_COMPRESSION_LEVEL, 0, 0), 3000);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_TOTAL_FRAMES, 0, 0), 2);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_DECOMPRESS_TOTAL_BLOCKS, 0, 0), 100000);
    c_APEDecompress_Destroy(h);
}

TEST_F(Decompress, SeekingLandsOnTheExactBlock) {
    const uint32_t frame = ape::blocksPerFrameForLevel(2000);
    Pcm pcm = musicLike(16, 2, frame * 2 + 500, 5);
    ASSERT_EQ(compressFile(path("a.ape"), pcm, 2000), 0);
    int error = 0;
    APE_DECOMPRESS_HANDLE h = open(path("a.ape"), error);
    ASSERT_NE(h, nullptr);
    const size_t align = 4;
    std::vector<char> buffer(align * 300);
    // Frame borders, inside frames, backwards, the very last block and the end.
    for (int block : {0, 1, int(frame) - 1, int(frame), int(frame) + 1, 77777, 12, 2 * int(frame) + 499,
                      2 * int(frame) + 300}) {
        ASSERT_EQ(c_APEDecompress_Seek(h, block), 0) << block;
        EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_DECOMPRESS_CURRENT_BLOCK, 0, 0), block);
        int got = 0;
        ASSERT_EQ(c_APEDecompress_GetData(h, buffer.data(), 300, &got), 0);
        const int expected = std::min<int>(300, int(pcm.blocks()) - block);
        ASSERT_EQ(got, expected) << block;
        EXPECT_EQ(std::memcmp(buffer.data(), pcm.bytes.data() + size_t(block) * align, size_t(got) * align), 0)
            << "after seeking to " << block;
    }
    int got = -1;
    ASSERT_EQ(c_APEDecompress_Seek(h, int(pcm.blocks())), 0);
    EXPECT_EQ(c_APEDecompress_GetData(h, buffer.data(), 300, &got), 0);
    EXPECT_EQ(got, 0);
    EXPECT_NE(c_APEDecompress_Seek(h, int(pcm.blocks()) + 1), 0);
    EXPECT_NE(c_APEDecompress_Seek(h, -1), 0);
    c_APEDecompress_Destroy(h);
}

TEST_F(Decompress, OddReadSizesDeliverTheSameStream) {
    Pcm pcm = musicLike(8, 2, ape::blocksPerFrameForLevel(1000) + 999, 8);
    ASSERT_EQ(compressFile(path("a.ape"), pcm, 1000), 0);
    for (int perCall : {1, 7, 4096, 100000}) {
        std::vector<uint8_t> decoded;
        ASSERT_EQ(decompressFile(path("a.ape"), decoded, perCall), 0);
        EXPECT_TRUE(decoded == pcm.bytes) << perCall;
    }
}

TEST_F(Decompress, ContainersAroundTheAudio) {
    Pcm pcm = musicLike(16, 2, 20000, 9);
    ASSERT_EQ(compressFile(path("a.ape"), pcm, 2000), 0);
    const std::vector<uint8_t> ape = ReadFile(path("a.ape"));
    std::vector<uint8_t> decoded;

    // An ID3v2 tag in front (with padding after it) shifts every offset.
    std::vector<uint8_t> id3v2 = {'I', 'D', '3', 3, 0, 0, 0, 0, 0, 20};
    id3v2.resize(30, 0);
    id3v2.resize(id3v2.size() + 7, 0);
    std::vector<uint8_t> withId3v2 = id3v2;
    withId3v2.insert(withId3v2.end(), ape.begin(), ape.end());
    WriteFile(path("b.ape"), withId3v2);
    ASSERT_EQ(decompressFile(path("b.ape"), decoded), 0);
    EXPECT_TRUE(decoded == pcm.bytes);

    // ID3v1 at the end, with and without an APEv2 tag before it.
    std::vector<uint8_t> id3v1(128, 0);
    std::memcpy(id3v1.data(), "TAGsome title", 13);
    std::vector<uint8_t> withId3v1 = ape;
    withId3v1.insert(withId3v1.end(), id3v1.begin(), id3v1.end());
    WriteFile(path("c.ape"), withId3v1);
    ASSERT_EQ(decompressFile(path("c.ape"), decoded), 0);
    EXPECT_TRUE(decoded == pcm.bytes);
    ASSERT_EQ(TagFileSimple(path("a.ape").c_str(), "A", "B", "C", "D", "E", "2001", "3", 1, 0), 0);
    std::vector<uint8_t> both = ReadFile(path("a.ape"));
    both.insert(both.end(), id3v1.begin(), id3v1.end());
    WriteFile(path("d.ape"), both);
    ASSERT_EQ(decompressFile(path("d.ape"), decoded), 0);
    EXPECT_TRUE(decoded == pcm.bytes);
}

TEST_F(Decompress, UnsupportedFilesGiveTheirErrorCodes) {
    ASSERT_EQ(compressFile(path("a.ape"), musicLike(16, 2, 1000), 1000), 0);
    const std::vector<uint8_t> good = ReadFile(path("a.ape"));
    auto patched = [&](size_t offset, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> f = good;
        std::copy(bytes.begin(), bytes.end(), f.begin() + ptrdiff_t(offset));
        return f;
    };
    EXPECT_EQ(openError(patched(4, {0x4C, 0x0F})), APE_ERROR_UNSUPPORTED_FILE_TYPE);  // 3916
    EXPECT_EQ(openError(patched(4, {0x9C, 0x0F})), APE_ERROR_UNSUPPORTED_FILE_TYPE);  // 3996
    EXPECT_EQ(openError(patched(52 + 18, {6, 0})), APE_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT);
    EXPECT_EQ(openError(patched(52 + 16, {32, 0})), APE_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH);
    EXPECT_EQ(openError(patched(0, {'M', 'A', 'X'})), APE_ERROR_INVALID_INPUT_FILE);
    EXPECT_EQ(openError(patched(52 + 12, {0, 0, 0, 0})), APE_ERROR_INVALID_INPUT_FILE);  // no frames
    EXPECT_EQ(openError(patched(76, {0xFF, 0xFF, 0, 0})), APE_ERROR_INVALID_INPUT_FILE);  // seek beyond EOF
    EXPECT_EQ(openError({}), APE_ERROR_INVALID_INPUT_FILE);
    EXPECT_EQ(openError(std::vector<uint8_t>(good.begin(), good.begin() + 60)), APE_ERROR_INVALID_INPUT_FILE);
    int error = 0;
    EXPECT_EQ(c_APEDecompress_CreateW(path("missing.ape").c_str(), &error), nullptr);
    EXPECT_EQ(error, APE_ERROR_INVALID_INPUT_FILE);
}

// Damage inside the frame data must be reported, never crash or hang,
// and blocks before the damaged frame are still delivered.
TEST_F(Decompress, DamagedFramesAreReported) {
    const uint32_t frame = ape::blocksPerFrameForLevel(1000);
    Pcm pcm = musicLike(16, 2, frame + 2000, 4);
    ASSERT_EQ(compressFile(path("a.ape"), pcm, 1000), 0);
    const std::vector<uint8_t> good = ReadFile(path("a.ape"));
    const size_t secondFrame = size_t(good[80] | good[81] << 8 | good[82] << 16 | size_t(good[83]) << 24);

    for (size_t offset : {secondFrame + 50, secondFrame + 120, good.size() - 40}) {
        std::vector<uint8_t> bad = good;
        bad[offset] ^= 0x5A;
        WriteFile(path("bad.ape"), bad);
        std::vector<uint8_t> decoded;
        int rc = decompressFile(path("bad.ape"), decoded);
        EXPECT_TRUE(rc == APE_ERROR_INVALID_CHECKSUM || rc == APE_ERROR_DECOMPRESSING_FRAME) << offset << " " << rc;
        EXPECT_EQ(decoded.size(), size_t(frame) * 4);
        EXPECT_TRUE(std::equal(decoded.begin(), decoded.end(), pcm.bytes.begin()));
    }
    // Cut in the middle of the last frame.
    WriteFile(path("cut.ape"), std::vector<uint8_t>(good.begin(), good.begin() + ptrdiff_t(secondFrame + 300)));
    std::vector<uint8_t> decoded;
    int rc = decompressFile(path("cut.ape"), decoded);
    EXPECT_TRUE(rc == APE_ERROR_INVALID_CHECKSUM || rc == APE_ERROR_DECOMPRESSING_FRAME) << rc;
}

// A silent frame is a handful of bytes whatever its length; a header that
// claims a huge frame of coded data must be refused before decoding.
TEST_F(Decompress, ImplausibleFrameLengthIsRefused) {
    ASSERT_EQ(compressFile(path("a.ape"), musicLike(16, 2, 3000), 5000), 0);
    std::vector<uint8_t> f = ReadFile(path("a.ape"));
    const uint32_t huge = 9000000;
    for (int i = 0; i < 4; ++i) {
        f[52 + 4 + i] = uint8_t(huge >> (8 * i));  // blocks per frame
        f[52 + 8 + i] = uint8_t(huge >> (8 * i));  // final frame blocks
    }
    WriteFile(path("b.ape"), f);
    std::vector<uint8_t> decoded;
    EXPECT_EQ(decompressFile(path("b.ape"), decoded), APE_ERROR_DECOMPRESSING_FRAME);
    EXPECT_TRUE(decoded.empty());
}

TEST_F(Decompress, NullArgumentsAreRejected) {
    int got = 5;
    EXPECT_EQ(c_APEDecompress_GetData(nullptr, nullptr, 10, &got), APE_ERROR_INVALID_FUNCTION_PARAMETER);
    EXPECT_EQ(got, 0);
    EXPECT_NE(c_APEDecompress_Seek(nullptr, 0), 0);
    EXPECT_EQ(c_APEDecompress_GetInfo(nullptr, APE_INFO_CHANNELS, 0, 0), -1);
    int error = 0;
    EXPECT_EQ(c_APEDecompress_CreateW(nullptr, &error), nullptr);
    EXPECT_EQ(error, APE_ERROR_INVALID_FUNCTION_PARAMETER);
    c_APEDecompress_Destroy(nullptr);
}

}  // namespace
}  // namespace apetest
