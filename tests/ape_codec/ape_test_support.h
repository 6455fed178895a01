// Helpers of the APE codec tests: generated PCM, running the library, and
// its independent decoders and encoder (FFmpeg, jmac). Temporary folders,
// WAV files and the tool runner are the shared ones of tests/support.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apecodec.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"

namespace apetest {

namespace fs = std::filesystem;
using qmtest::HaveTool;
using qmtest::Quote;
using qmtest::ReadFile;
using qmtest::RunShell;
using qmtest::TRunResult;
using qmtest::WavPayload;
using qmtest::WriteFile;

struct Pcm {
    int bits = 16;
    int channels = 2;
    int sampleRate = 44100;
    std::vector<uint8_t> bytes;  // WAV layout
    size_t blocks() const { return bytes.size() / size_t(channels * (bits / 8)); }
};

// Deterministic signals. `samples` are signed values (8-bit included).
Pcm makePcm(int bits, int channels, const std::vector<int32_t>& samples, int rate = 44100);
Pcm musicLike(int bits, int channels, size_t blocks, uint32_t seed = 1);
Pcm whiteNoise(int bits, int channels, size_t blocks, uint32_t seed = 7);
Pcm silence(int bits, int channels, size_t blocks);

// A test with a temporary folder of its own.
class TempDirTest : public ::testing::Test {
protected:
    fs::path path(const std::string& name) const { return dir_ / name; }
    qmtest::TTempDir tmp_;
    const fs::path dir_ = tmp_.Path();
};

void writeWav(const fs::path& file, const Pcm& pcm);

// Compresses through LockBuffer/UnlockBuffer in pieces of `chunk` bytes.
int compressFile(const fs::path& out, const Pcm& pcm, int level, size_t chunk = 65536);
// Decodes the whole file through GetData; returns the error code.
int decompressFile(const fs::path& in, std::vector<uint8_t>& pcm, int blocksPerCall = 4096);

// jmac's jar and a java to run it.
bool haveJmac();
// FFmpeg's decode (CRC checked) as raw PCM of the file's own sample format.
bool ffmpegDecode(const fs::path& ape, int bits, std::vector<uint8_t>& pcm, std::string& errors);
// jmac's encoder; false when it did not produce a file.
bool jmacEncode(const fs::path& wav, const fs::path& ape, int level);
// The folder holding the test binary, the library and the tool.
fs::path binDir();

}  // namespace apetest
