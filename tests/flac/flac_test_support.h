// What the FLAC tests share: a lossless test signal at every width, and
// what flac, metaflac and mutagen say about a file.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/test_streams.h"

namespace flactest {

using namespace qmtest;
namespace fs = std::filesystem;

// Noise over the whole range of the width with a tone under it, different in
// every channel; the first frames hold the width's two extremes. Signed, as
// the WAV writer takes it.
inline int32_t Signal(int bits, int64_t f, int c) {
  const int64_t high = FullScale(bits);
  if (f < 2) return static_cast<int32_t>(f == c % 2 ? high : -high - 1);
  uint64_t x = static_cast<uint64_t>(f) * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(c) * 0xBF58476D1CE4E5B9ull;
  x ^= x >> 31;
  x *= 0x94D049BB133111EBull;
  x ^= x >> 29;
  // A quarter of full scale of noise, half of it of tone.
  const double noise = (static_cast<double>(x >> 11) / 9007199254740992.0 - 0.5) * 0.5;
  const double tone = 0.5 * std::sin(2 * M_PI * (300.0 + 70.0 * c) * static_cast<double>(f) / 44100.0);
  return static_cast<int32_t>(std::floor((noise + tone) * static_cast<double>(high)));
}

// A music-like signal that compresses: tones and a little noise.
inline int32_t Music(int64_t f, int c) {
  const double t = static_cast<double>(f) / 44100.0;
  const double v = 0.3 * std::sin(2 * M_PI * (220 + 55 * c) * t) + 0.15 * std::sin(2 * M_PI * (1500 + 300 * c) * t);
  return static_cast<int32_t>(std::lround(v * 32767)) + static_cast<int32_t>((f * 7919 + c * 31) % 201) - 100;
}

// The metadata blocks as metaflac --list shows them: one map of "key: value"
// lines per block, in file order.
using TBlock = std::map<std::string, std::string>;

inline std::vector<TBlock> MetaflacList(const fs::path& file) {
  const TRunResult r = RunShell("metaflac --list " + Quote(file));
  EXPECT_EQ(r.Status, 0) << r.Err;
  std::vector<TBlock> blocks;
  std::istringstream in(r.Out);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("METADATA block #", 0) == 0) {
      blocks.emplace_back();
      continue;
    }
    if (blocks.empty()) continue;
    std::size_t start = line.find_first_not_of(" \t");
    const std::size_t colon = line.find(':');
    if (start == std::string::npos || colon == std::string::npos || colon < start) continue;
    const std::string key = line.substr(start, colon - start);
    const std::string value = colon + 2 <= line.size() ? line.substr(colon + 2) : std::string();
    // Repeated keys (seek points, comments) are numbered in the text itself.
    if (!blocks.back().count(key)) blocks.back()[key] = value;
  }
  return blocks;
}

// The seek points' sample numbers in order.
inline std::vector<int64_t> SeekPointSamples(const fs::path& file) {
  std::vector<int64_t> samples;
  std::istringstream in(CommandOutput("metaflac --list --block-type=SEEKTABLE " + Quote(file)));
  std::string line;
  while (std::getline(in, line)) {
    const std::size_t at = line.find("sample_number=");
    if (at != std::string::npos) samples.push_back(std::stoll(line.substr(at + 14)));
  }
  return samples;
}

// flac -t: the stream decodes and its MD5 matches.
inline TRunResult FlacTest(const fs::path& file) { return RunShell("flac -s -t " + Quote(file)); }

// The samples flac -d decodes, as a WAV data chunk holds them.
inline std::vector<uint8_t> FlacDecode(const fs::path& file) {
  const fs::path out = file.parent_path() / (file.stem().string() + "-flac-d.wav");
  const TRunResult r = RunShell("flac -s -d -f -o " + Quote(out) + " " + Quote(file));
  EXPECT_EQ(r.Status, 0) << r.Err;
  auto payload = WavPayload(out);
  fs::remove(out);
  return payload;
}

// The comments as metaflac exports them: "NAME=value" lines.
inline std::string ExportedTags(const fs::path& file) {
  return CommandOutput("metaflac --export-tags-to=- " + Quote(file));
}

// The comments as mutagen reads them: "name=value" lines in file order.
inline std::string MutagenTags(const fs::path& file) {
  return CommandOutput("/usr/bin/python3 -c \"import sys; from mutagen.flac import FLAC; "
                       "[print(k + '=' + v) for k, v in FLAC(sys.argv[1]).tags]\" " +
                       Quote(file));
}

}  // namespace flactest
