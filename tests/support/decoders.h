// The independent readers the tests check files with: ffmpeg's decode to
// raw samples, ffprobe's view of a stream, sox's decode and soxi. Each fails
// the test (with the tool's own message) when the tool fails; a test checks
// first that the tool is there (QM_REQUIRE_TOOLS).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace qmtest {

// ffmpeg's decode of the file's first audio stream to raw samples in
// `format` (u8, s16le, s24le, s32le, f32le, ...); `inputOptions` go before
// the input (-err_detect crccheck, ...), `outputOptions` after it (-ac 1,
// -ar 8000, ...).
std::vector<uint8_t> FfmpegDecode(const std::filesystem::path& file, const std::string& format,
                                  const std::string& inputOptions = "", const std::string& outputOptions = "");

// Makes a file with ffmpeg from a lavfi source description
// ("sine=frequency=440:duration=1") and output options ("-ac 2 -c:a pcm_s16le").
void FfmpegGenerate(const std::string& source, const std::string& options, const std::filesystem::path& out);

// One field of the first audio stream, as ffprobe reports it ("" when
// ffprobe reads no such stream).
std::string Probe(const std::filesystem::path& file, const std::string& field);
// Several fields of the first audio stream joined by '|', in ffprobe's order
// ("codec_name|sample_rate|channels|bits_per_sample" for the default).
std::string ProbeStream(const std::filesystem::path& file,
                        const std::string& fields = "codec_name,sample_rate,channels,bits_per_sample");

// sox's decode of the file to 16-bit signed native-endian samples.
std::vector<uint8_t> SoxDecode(const std::filesystem::path& file);
// What soxi says with one flag (-r, -c, -b, -s, -e, ...).
std::string SoxInfo(const std::filesystem::path& file, const std::string& flag);

}  // namespace qmtest
