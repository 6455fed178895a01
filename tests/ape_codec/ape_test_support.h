// Shared helpers of the APE codec tests: temporary folders, generated PCM,
// WAV files, and running the library and the independent tools.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "apecodec.h"

namespace apetest {

namespace fs = std::filesystem;

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

// A fresh folder under the system temp folder, removed by the fixture.
class TempDirTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    fs::path path(const std::string& name) const { return dir_ / name; }
    fs::path dir_;
};

void writeWav(const fs::path& file, const Pcm& pcm);
std::vector<uint8_t> readFile(const fs::path& file);
void writeFile(const fs::path& file, const std::vector<uint8_t>& bytes);
// The PCM payload of a WAV file (searched by chunk).
std::vector<uint8_t> wavPayload(const fs::path& file);

// Compresses through LockBuffer/UnlockBuffer in pieces of `chunk` bytes.
int compressFile(const fs::path& out, const Pcm& pcm, int level, size_t chunk = 65536);
// Decodes the whole file through GetData; returns the error code.
int decompressFile(const fs::path& in, std::vector<uint8_t>& pcm, int blocksPerCall = 4096);

// Runs a shell command; returns its exit status.
int run(const std::string& command);
std::string quote(const fs::path& p);
bool haveFfmpeg();
bool haveJmac();
bool haveMutagen();
// FFmpeg's decode (CRC checked) as raw PCM of the file's own sample format.
bool ffmpegDecode(const fs::path& ape, int bits, std::vector<uint8_t>& pcm, std::string& errors);
// jmac's encoder; false when it did not produce a file.
bool jmacEncode(const fs::path& wav, const fs::path& ape, int level);
// The folder holding the test binary, the library and the tool.
fs::path binDir();

}  // namespace apetest
