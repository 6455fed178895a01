// Files of versions 3950..3989 written by the test writer: FFmpeg must decode
// them to the source PCM (which shows the writer is right), and our library
// must decode them to the same PCM, also after seeking.
#include <cstring>

#include "ape_test_support.h"
#include "old_version_writer.h"

namespace apetest {
namespace {

enum class Signal { Stereo16, Mono16, Stereo8, Mono8, Stereo24, Noise24, Mono24, Bursts16 };
constexpr Signal kSignals[] = {Signal::Stereo16, Signal::Mono16,  Signal::Stereo8, Signal::Mono8,
                               Signal::Stereo24, Signal::Noise24, Signal::Mono24,  Signal::Bursts16};

struct Case {
    int version;
    int level;
};

std::string signalName(Signal s) {
    switch (s) {
    case Signal::Stereo16: return "stereo16";
    case Signal::Mono16: return "mono16";
    case Signal::Stereo8: return "stereo8";
    case Signal::Mono8: return "mono8";
    case Signal::Stereo24: return "stereo24";
    case Signal::Noise24: return "noise24";
    case Signal::Mono24: return "mono24";
    default: return "bursts16";
    }
}

// Quiet stretches broken by full-scale noise: the residuals jump far above
// what the adaptive parameter expects, which takes the escape symbol.
Pcm bursts(size_t blocks) {
    Pcm noise = whiteNoise(16, 2, blocks, 31);
    Pcm quiet = musicLike(16, 2, blocks, 32);
    for (size_t i = 0; i < blocks; ++i)
        if ((i / 700) % 3 != 2) std::memcpy(&noise.bytes[i * 4], &quiet.bytes[i * 4], 4);
    return noise;
}

// 24-bit signals take the raw fields wider than 16 bits; 24-bit noise also
// overflows 32-bit prediction sums, where the decoders' arithmetic differs.
Pcm makeSignal(Signal s) {
    const size_t length = 5000;
    switch (s) {
    case Signal::Stereo16: return musicLike(16, 2, length, 41);
    case Signal::Mono16: return musicLike(16, 1, length, 42);
    case Signal::Stereo8: return whiteNoise(8, 2, length, 46);
    case Signal::Mono8: return musicLike(8, 1, length, 43);
    case Signal::Stereo24: return musicLike(24, 2, length, 44);
    case Signal::Noise24: return whiteNoise(24, 2, length, 47);
    case Signal::Mono24: return whiteNoise(24, 1, length, 45);
    default: return bursts(length);
    }
}

OldVersionOptions optionsFor(int version, int level, const Pcm& pcm) {
    OldVersionOptions o;
    o.version = version;
    o.level = level;
    // The layout's optional parts, spread over the versions.
    if (version == 3970) {
        o.storeWavHeader = true;
        o.peakLevel = true;
        o.spareSeekEntries = 2;
    }
    // FFmpeg 5.1 sums in 64 bits for 24-bit stereo at the top level only.
    o.wideSums = pcm.bits == 24 && pcm.channels == 2 && level == 5000;
    return o;
}

const char* rawFormat(int bits) { return bits == 8 ? "u8" : bits == 16 ? "s16le" : "s24le"; }

// FFmpeg's CRC-checked decode of several files in one run (its start-up
// costs more than decoding a short file). False when it reported anything.
bool ffmpegDecodeAll(const std::vector<fs::path>& files, const std::vector<int>& bits,
                     std::vector<std::vector<uint8_t>>& pcm) {
    std::string command = "ffmpeg -nostdin -v error";
    for (const fs::path& f : files) command += " -err_detect crccheck -i " + Quote(f);
    for (size_t i = 0; i < files.size(); ++i)
        command += " -map " + std::to_string(i) + ":a -f " + rawFormat(bits[i]) + " -y " +
                   Quote(fs::path(files[i]) += ".raw");
    const TRunResult decoded = RunShell(command);
    pcm.clear();
    for (const fs::path& f : files) pcm.push_back(ReadFile(fs::path(f) += ".raw"));
    return decoded.Ok() && decoded.Err.empty();
}

// FFmpeg must decode the file to `pcm` with its CRC check clean.
void expectFfmpegDecodes(const fs::path& file, const Pcm& pcm) {
    std::vector<uint8_t> decoded;
    std::string errors;
    ASSERT_TRUE(ffmpegDecode(file, pcm.bits, decoded, errors)) << errors;
    EXPECT_EQ(errors, "");
    EXPECT_TRUE(decoded == pcm.bytes) << "FFmpeg decoded " << decoded.size() << " bytes, source has "
                                      << pcm.bytes.size();
}

// Our library must decode the whole file, and a few stretches after seeking.
void expectLibraryDecodes(const fs::path& file, const Pcm& pcm, int version, const std::vector<size_t>& seeks) {
    std::vector<uint8_t> decoded;
    ASSERT_EQ(decompressFile(file, decoded), 0);
    EXPECT_TRUE(decoded == pcm.bytes) << "decoded " << decoded.size() << " bytes, source has " << pcm.bytes.size();

    int error = 0;
    APE_DECOMPRESS_HANDLE h = c_APEDecompress_CreateW(file.c_str(), &error);
    ASSERT_NE(h, nullptr) << error;
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_FILE_VERSION, 0, 0), version);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_BITS_PER_SAMPLE, 0, 0), pcm.bits);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_INFO_CHANNELS, 0, 0), pcm.channels);
    EXPECT_EQ(c_APEDecompress_GetInfo(h, APE_DECOMPRESS_TOTAL_BLOCKS, 0, 0), int64_t(pcm.blocks()));
    const size_t align = size_t(pcm.channels * (pcm.bits / 8));
    std::vector<char> buffer(align * 500);
    for (size_t block : seeks) {
        ASSERT_EQ(c_APEDecompress_Seek(h, int(block)), 0) << block;
        int got = 0;
        ASSERT_EQ(c_APEDecompress_GetData(h, buffer.data(), 500, &got), 0) << block;
        ASSERT_EQ(size_t(got), std::min<size_t>(500, pcm.blocks() - block)) << block;
        EXPECT_EQ(std::memcmp(buffer.data(), pcm.bytes.data() + block * align, size_t(got) * align), 0)
            << "after seeking to " << block;
    }
    c_APEDecompress_Destroy(h);
}

class OldVersion : public TempDirTest, public ::testing::WithParamInterface<Case> {};

TEST_P(OldVersion, SignalsDecodeExactlyInFfmpegAndOurLibrary) {
    QM_REQUIRE_TOOLS("ffmpeg");
    const Case& c = GetParam();
    std::vector<Pcm> signals;
    std::vector<fs::path> files;
    std::vector<int> bits;
    for (Signal s : kSignals) {
        signals.push_back(makeSignal(s));
        files.push_back(path(signalName(s) + ".ape"));
        bits.push_back(signals.back().bits);
        WriteFile(files.back(), writeOldVersionApe(signals.back(), optionsFor(c.version, c.level, signals.back())));
    }
    std::vector<std::vector<uint8_t>> decoded;
    const bool clean = ffmpegDecodeAll(files, bits, decoded);
    for (size_t i = 0; i < files.size(); ++i) {
        SCOPED_TRACE(files[i].filename().string());
        if (clean)
            EXPECT_TRUE(decoded[i] == signals[i].bytes) << "FFmpeg decoded " << decoded[i].size()
                                                        << " bytes, source has " << signals[i].bytes.size();
        else
            expectFfmpegDecodes(files[i], signals[i]);  // one by one, to tell which file it was
        expectLibraryDecodes(files[i], signals[i], c.version, {3333, 0, signals[i].blocks() - 7});
    }
}

std::vector<Case> allCases() {
    std::vector<Case> cases;
    for (int version : {3950, 3970, 3980})
        for (int level = 1000; level <= 5000; level += 1000) cases.push_back({version, level});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Levels, OldVersion, ::testing::ValuesIn(allCases()), [](const auto& info) {
    return std::to_string(info.param.version) + "_" + std::to_string(info.param.level);
});

class OldVersionFile : public TempDirTest, public ::testing::WithParamInterface<int> {};

// More than one frame, with the frame border inside a read; the older
// versions have a fixed frame length, 3980 takes it from the header. The
// last frame ends before a stored WAV trailer and an APEv2 tag.
TEST_P(OldVersionFile, SeveralFramesAndSeeking) {
    QM_REQUIRE_TOOLS("ffmpeg");
    const int version = GetParam();
    const size_t frame = 73728 * 4;
    Pcm pcm = musicLike(16, 1, frame + 1234, 51);
    OldVersionOptions o = optionsFor(version, 1000, pcm);
    o.storeWavHeader = true;
    o.wavTrailerBytes = 6;
    WriteFile(path("old.ape"), writeOldVersionApe(pcm, o));
    ASSERT_EQ(TagFileSimple(path("old.ape").c_str(), "Artist", "Album", "Title", "", "", "1997", "1", 1, 0), 0);
    expectFfmpegDecodes(path("old.ape"), pcm);
    expectLibraryDecodes(path("old.ape"), pcm, version, {frame - 200, frame, 5, frame + 1233, frame - 1});
}

// Special frames: silence and pseudo-stereo, stereo and mono; 3980 files
// choose a short frame length and so also get one file with a pseudo-stereo,
// a silent and a normal frame in a row.
TEST_P(OldVersionFile, SpecialFrames) {
    QM_REQUIRE_TOOLS("ffmpeg");
    const int version = GetParam();
    const size_t frame = 4096;
    Pcm music = musicLike(16, 1, frame, 52);
    std::vector<int32_t> stereo;
    for (size_t i = 0; i < frame; ++i) {
        int32_t v = int16_t(music.bytes[2 * i] | music.bytes[2 * i + 1] << 8);
        stereo.push_back(v);
        stereo.push_back(v);
    }
    std::vector<Pcm> signals = {makePcm(16, 2, stereo), silence(16, 2, frame), silence(16, 1, frame)};
    if (version >= 3980) {
        Pcm all = signals[0];
        all.bytes.insert(all.bytes.end(), signals[1].bytes.begin(), signals[1].bytes.end());
        Pcm normal = musicLike(16, 2, 100, 53);
        all.bytes.insert(all.bytes.end(), normal.bytes.begin(), normal.bytes.end());
        signals.push_back(all);
    }
    std::vector<fs::path> files;
    for (size_t n = 0; n < signals.size(); ++n) {
        OldVersionOptions o = optionsFor(version, 3000, signals[n]);
        o.blocksPerFrame = frame;
        files.push_back(path("special" + std::to_string(n) + ".ape"));
        WriteFile(files.back(), writeOldVersionApe(signals[n], o));
    }
    std::vector<std::vector<uint8_t>> decoded;
    const bool clean = ffmpegDecodeAll(files, std::vector<int>(files.size(), 16), decoded);
    for (size_t n = 0; n < signals.size(); ++n) {
        SCOPED_TRACE(files[n].filename().string());
        if (clean)
            EXPECT_TRUE(decoded[n] == signals[n].bytes);
        else
            expectFfmpegDecodes(files[n], signals[n]);
        expectLibraryDecodes(files[n], signals[n], version, {100, signals[n].blocks() - 1});
    }
}

// The encoders of the time rounded the NN prediction in 32 bits, which
// differs from the current rounding when the 1280-tap filter of 24-bit stereo
// overflows. FFmpeg has no such mode; our library must find it by the CRC.
TEST_P(OldVersionFile, LegacyNNRoundingIsFoundByTheFrameCrc) {
    const int version = GetParam();
    Pcm pcm = musicLike(24, 2, 40000, 6);
    OldVersionOptions o = optionsFor(version, 5000, pcm);
    o.wideSums = false;  // as those encoders summed
    const std::vector<uint8_t> current = writeOldVersionApe(pcm, o);
    o.legacyRound = true;
    const std::vector<uint8_t> legacy = writeOldVersionApe(pcm, o);
    ASSERT_TRUE(legacy != current) << "the signal no longer reaches the rounding difference";
    WriteFile(path("legacy.ape"), legacy);
    expectLibraryDecodes(path("legacy.ape"), pcm, version, {39999, 7});
}

INSTANTIATE_TEST_SUITE_P(Versions, OldVersionFile, ::testing::Values(3950, 3970, 3980),
                         [](const auto& info) { return std::to_string(info.param); });

// The 32-byte header of the older versions is untrusted input like any
// other: damage must give an error, never a crash or a huge allocation.
class OldVersionDamage : public TempDirTest {
protected:
    int openError(const std::vector<uint8_t>& bytes) {
        WriteFile(path("bad.ape"), bytes);
        int error = 0;
        APE_DECOMPRESS_HANDLE h = c_APEDecompress_CreateW(path("bad.ape").c_str(), &error);
        EXPECT_EQ(h == nullptr, error != 0);
        c_APEDecompress_Destroy(h);
        return error;
    }
    // The error of opening, or else of decoding the whole file.
    int firstError(const std::vector<uint8_t>& bytes) {
        if (int error = openError(bytes)) return error;
        std::vector<uint8_t> decoded;
        return decompressFile(path("bad.ape"), decoded);
    }
};

TEST_F(OldVersionDamage, BrokenHeadersAndFramesAreReported) {
    Pcm pcm = musicLike(16, 2, 3000, 62);
    OldVersionOptions o = optionsFor(3950, 2000, pcm);
    const std::vector<uint8_t> good = writeOldVersionApe(pcm, o);
    ASSERT_EQ(firstError(good), 0);
    auto patched = [&](size_t offset, std::vector<uint8_t> bytes) {
        std::vector<uint8_t> f = good;
        std::copy(bytes.begin(), bytes.end(), f.begin() + ptrdiff_t(offset));
        return f;
    };
    EXPECT_EQ(openError(patched(4, {0x6D, 0x0F})), APE_ERROR_UNSUPPORTED_FILE_TYPE);  // 3949
    EXPECT_EQ(openError(patched(6, {0xDC, 0x05})), APE_ERROR_INVALID_INPUT_FILE);     // level 1500
    EXPECT_EQ(openError(patched(10, {3, 0})), APE_ERROR_INPUT_FILE_UNSUPPORTED_CHANNEL_COUNT);
    EXPECT_EQ(openError(patched(24, {0, 0, 0, 0})), APE_ERROR_INVALID_INPUT_FILE);         // no frames
    EXPECT_EQ(openError(patched(24, {0, 0, 0, 0x40})), APE_ERROR_INVALID_INPUT_FILE);      // seek table past EOF
    EXPECT_EQ(openError(patched(28, {0, 0, 0, 0})), APE_ERROR_INVALID_INPUT_FILE);         // empty last frame
    EXPECT_EQ(openError(patched(28, {1, 0x80, 4, 0})), APE_ERROR_INVALID_INPUT_FILE);      // 294913 blocks
    EXPECT_EQ(openError(std::vector<uint8_t>(good.begin(), good.begin() + 31)), APE_ERROR_INVALID_INPUT_FILE);
    // A seek-element count the file does not have shifts the seek table.
    EXPECT_NE(firstError(patched(8, {uint8_t(good[8] | 16), good[9]})), 0);
    for (size_t back : {size_t(9), good.size() / 2}) {
        std::vector<uint8_t> bad = good;
        bad[good.size() - back] ^= 0x5A;
        const int error = firstError(bad);
        EXPECT_TRUE(error == APE_ERROR_INVALID_CHECKSUM || error == APE_ERROR_DECOMPRESSING_FRAME)
            << back << " " << error;
    }
}

}  // namespace
}  // namespace apetest
