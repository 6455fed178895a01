// Compression through the C interface: feeding styles, stored WAV header
// and trailer, and failures that must leave no output file behind.
#include <cstring>

#include "ape_test_support.h"

namespace apetest {
namespace {

class Compress : public TempDirTest {
protected:
    APE_COMPRESS_HANDLE started(const fs::path& out, int bits, int channels, int level, int maxBytes = -1) {
        int error = 0;
        APE_COMPRESS_HANDLE h = c_APECompress_Create(&error);
        EXPECT_NE(h, nullptr);
        APE_WAVEFORMATEX wfe;
        FillWaveFormatEx(&wfe, 44100, bits, channels);
        EXPECT_EQ(c_APECompress_Start(h, out.c_str(), &wfe, maxBytes, level, nullptr, 0), 0);
        return h;
    }
};

TEST_F(Compress, AddDataAndLockBufferGiveTheSameFile) {
    Pcm pcm = musicLike(16, 2, 80000, 2);
    ASSERT_EQ(compressFile(path("lock.ape"), pcm, 2000, 1234 * 4), 0);
    APE_COMPRESS_HANDLE h = started(path("add.ape"), 16, 2, 2000);
    size_t done = 0;
    // Pieces that split blocks: the compressor must keep the partial block.
    for (size_t piece : {3u, 1u, 100001u, 7u}) {
        ASSERT_EQ(c_APECompress_AddData(h, pcm.bytes.data() + done, int(piece)), 0);
        done += piece;
    }
    ASSERT_EQ(c_APECompress_AddData(h, pcm.bytes.data() + done, int(pcm.bytes.size() - done)), 0);
    ASSERT_EQ(c_APECompress_Finish(h, nullptr, 0, 0), 0);
    c_APECompress_Destroy(h);
    EXPECT_TRUE(ReadFile(path("lock.ape")) == ReadFile(path("add.ape")));
}

TEST_F(Compress, StoredHeaderAndTrailerAreKeptAndAudioStillDecodes) {
    QM_REQUIRE_TOOLS("ffmpeg");
    Pcm pcm = musicLike(16, 1, 5001, 6);
    writeWav(path("in.wav"), pcm);
    std::vector<uint8_t> wav = ReadFile(path("in.wav"));
    const std::vector<uint8_t> header(wav.begin(), wav.begin() + 44);
    unsigned char trailer[6] = {'L', 'I', 'S', 'T', 0, 0};
    int error = 0;
    APE_COMPRESS_HANDLE h = c_APECompress_Create(&error);
    APE_WAVEFORMATEX wfe;
    FillWaveFormatEx(&wfe, 44100, 16, 1);
    ASSERT_EQ(c_APECompress_Start(h, path("a.ape").c_str(), &wfe, -1, 3000, header.data(), int(header.size())), 0);
    ASSERT_EQ(c_APECompress_AddData(h, pcm.bytes.data(), int(pcm.bytes.size())), 0);
    ASSERT_EQ(c_APECompress_Finish(h, trailer, sizeof trailer, sizeof trailer), 0);
    c_APECompress_Destroy(h);

    std::vector<uint8_t> decoded;
    std::string errors;
    ASSERT_TRUE(ffmpegDecode(path("a.ape"), 16, decoded, errors)) << errors;
    EXPECT_TRUE(decoded == pcm.bytes);
    ASSERT_EQ(decompressFile(path("a.ape"), decoded), 0);
    EXPECT_TRUE(decoded == pcm.bytes);
    std::vector<uint8_t> file = ReadFile(path("a.ape"));
    EXPECT_EQ(std::memcmp(file.data() + 80, header.data(), 44), 0);  // after descriptor, header, one seek entry
    EXPECT_EQ(std::memcmp(file.data() + file.size() - 6, trailer, 6), 0);
}

TEST_F(Compress, BadFormatsAreRefusedAtStart) {
    int error = 0;
    APE_COMPRESS_HANDLE h = c_APECompress_Create(&error);
    ASSERT_EQ(error, 0);
    APE_WAVEFORMATEX wfe;
    FillWaveFormatEx(&wfe, 44100, 16, 6);
    EXPECT_EQ(c_APECompress_Start(h, path("a.ape").c_str(), &wfe, -1, 2000, nullptr, 0),
              APE_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT);
    FillWaveFormatEx(&wfe, 44100, 32, 2);
    EXPECT_EQ(c_APECompress_Start(h, path("a.ape").c_str(), &wfe, -1, 2000, nullptr, 0),
              APE_ERROR_INPUT_FILE_UNSUPPORTED_BIT_DEPTH);
    FillWaveFormatEx(&wfe, 44100, 16, 2);
    EXPECT_EQ(c_APECompress_Start(h, path("a.ape").c_str(), &wfe, -1, 3500, nullptr, 0), APE_ERROR_BAD_PARAMETER);
    EXPECT_EQ(c_APECompress_Start(h, (dir_ / "no" / "such" / "a.ape").c_str(), &wfe, -1, 2000, nullptr, 0),
              APE_ERROR_INVALID_OUTPUT_FILE);
    EXPECT_FALSE(fs::exists(path("a.ape")));
    c_APECompress_Destroy(h);
}

TEST_F(Compress, FailuresLeaveNoFileBehind) {
    // Nothing added: an APE file cannot hold zero blocks.
    APE_COMPRESS_HANDLE h = started(path("empty.ape"), 16, 2, 2000);
    EXPECT_EQ(c_APECompress_Finish(h, nullptr, 0, 0), APE_ERROR_INPUT_FILE_TOO_SMALL);
    c_APECompress_Destroy(h);
    EXPECT_FALSE(fs::exists(path("empty.ape")));

    // More than the announced maximum.
    Pcm pcm = musicLike(16, 2, 1000);
    h = started(path("max.ape"), 16, 2, 2000, 2000);
    EXPECT_EQ(c_APECompress_AddData(h, pcm.bytes.data(), int(pcm.bytes.size())), APE_ERROR_APE_COMPRESS_TOO_MUCH_DATA);
    EXPECT_EQ(c_APECompress_Finish(h, nullptr, 0, 0), APE_ERROR_APE_COMPRESS_TOO_MUCH_DATA);
    c_APECompress_Destroy(h);
    EXPECT_FALSE(fs::exists(path("max.ape")));

    // A partial block at the end.
    h = started(path("partial.ape"), 16, 2, 2000);
    EXPECT_EQ(c_APECompress_AddData(h, pcm.bytes.data(), 4001), 0);
    EXPECT_NE(c_APECompress_Finish(h, nullptr, 0, 0), 0);
    c_APECompress_Destroy(h);
    EXPECT_FALSE(fs::exists(path("partial.ape")));

    // Killed, and destroyed without Finish.
    h = started(path("killed.ape"), 16, 2, 2000);
    EXPECT_EQ(c_APECompress_AddData(h, pcm.bytes.data(), int(pcm.bytes.size())), 0);
    EXPECT_EQ(c_APECompress_Kill(h), 0);
    c_APECompress_Destroy(h);
    EXPECT_FALSE(fs::exists(path("killed.ape")));
    h = started(path("dropped.ape"), 16, 2, 2000);
    EXPECT_EQ(c_APECompress_AddData(h, pcm.bytes.data(), int(pcm.bytes.size())), 0);
    c_APECompress_Destroy(h);
    EXPECT_FALSE(fs::exists(path("dropped.ape")));
    // No scratch files either.
    EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(Compress, LockBufferAlwaysOffersRoomAndRejectsOverfill) {
    APE_COMPRESS_HANDLE h = started(path("a.ape"), 24, 2, 1000);
    int available = 0;
    unsigned char* p = c_APECompress_LockBuffer(h, &available);
    ASSERT_NE(p, nullptr);
    EXPECT_GE(available, 65536);
    EXPECT_EQ(c_APECompress_GetBufferBytesAvailable(h), available);
    EXPECT_EQ(c_APECompress_UnlockBuffer(h, available + 1, 1), APE_ERROR_INVALID_FUNCTION_PARAMETER);
    std::memset(p, 0, size_t(available));
    EXPECT_EQ(c_APECompress_UnlockBuffer(h, available / 6 * 6, 1), 0);
    EXPECT_EQ(c_APECompress_Finish(h, nullptr, 0, 0), 0);
    c_APECompress_Destroy(h);
    std::vector<uint8_t> decoded;
    ASSERT_EQ(decompressFile(path("a.ape"), decoded), 0);
    EXPECT_EQ(decoded, std::vector<uint8_t>(size_t(available / 6 * 6), 0));
}

TEST_F(Compress, HelpersAndNullHandles) {
    APE_WAVEFORMATEX wfe;
    ASSERT_EQ(FillWaveFormatEx(&wfe, 48000, 24, 2), 0);
    EXPECT_EQ(sizeof wfe, 18u);
    EXPECT_EQ(wfe.wFormatTag, 1);
    EXPECT_EQ(wfe.nBlockAlign, 6);
    EXPECT_EQ(wfe.nAvgBytesPerSec, 288000u);
    EXPECT_EQ(GetVersionNumber(), 3990);
    EXPECT_NE(c_APECompress_Start(nullptr, "x", &wfe, -1, 2000, nullptr, 0), 0);
    EXPECT_NE(c_APECompress_Finish(nullptr, nullptr, 0, 0), 0);
    int available = 7;
    EXPECT_EQ(c_APECompress_LockBuffer(nullptr, &available), nullptr);
    EXPECT_EQ(available, 0);
    c_APECompress_Destroy(nullptr);
}

}  // namespace
}  // namespace apetest
