// What the Ogg Vorbis tests read back from files: the Ogg pages (parsed
// here, independently of libogg), the identification header of each
// logical stream, decodes by oggdec, the comments mutagen finds, and the
// fixtures oggenc makes.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "pipeline/au_exception.h"
#include "tests/support/decoders.h"
#include "tests/support/files.h"
#include "tests/support/main_thread_pump.h"
#include "tests/support/pipeline_parts.h"
#include "tests/support/process.h"
#include "tests/support/signal_measures.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"

namespace vorbistest {

using namespace qmtest;
namespace fs = std::filesystem;

// The exit status of a shell command, its output dropped.
inline int Run(const std::string& command) { return RunShell(command).Status; }
// Its standard output, without the line ends at its end.
inline std::string Capture(const std::string& command) { return TrimEnd(RunShell(command).Out); }

struct TPage {
  std::size_t Offset = 0;
  std::size_t Length = 0;
  uint8_t Flags = 0;  // 1 continued, 2 first page of a stream, 4 last page
  int64_t Granule = 0;
  uint32_t Serial = 0;
  std::vector<uint8_t> Body;
};

// Every page from the start of the file; stops at the first byte that does
// not start a whole page.
inline std::vector<TPage> ParsePages(const std::vector<uint8_t>& file) {
  std::vector<TPage> pages;
  std::size_t at = 0;
  while (at + 27 <= file.size() && std::memcmp(file.data() + at, "OggS", 4) == 0) {
    const std::size_t segments = file[at + 26];
    if (at + 27 + segments > file.size()) break;
    std::size_t body = 0;
    for (std::size_t i = 0; i < segments; ++i) body += file[at + 27 + i];
    if (at + 27 + segments + body > file.size()) break;
    TPage p;
    p.Offset = at;
    p.Length = 27 + segments + body;
    p.Flags = file[at + 5];
    for (int b = 7; b >= 0; --b) p.Granule = (p.Granule << 8) | file[at + 6 + static_cast<std::size_t>(b)];
    p.Serial = file[at + 14] | (file[at + 15] << 8) | (file[at + 16] << 16) | (uint32_t(file[at + 17]) << 24);
    p.Body.assign(file.begin() + static_cast<std::ptrdiff_t>(at + 27 + segments),
                  file.begin() + static_cast<std::ptrdiff_t>(at + p.Length));
    pages.push_back(std::move(p));
    at += pages.back().Length;
  }
  return pages;
}

// The identification header, the first packet of a logical stream.
struct TIdentification {
  int Channels = 0;
  int Rate = 0;
  int32_t Maximum = 0;
  int32_t Nominal = 0;
  int32_t Minimum = 0;
};

inline TIdentification Identification(const TPage& first) {
  TIdentification id;
  const auto& b = first.Body;
  if (b.size() < 30 || b[0] != 1 || std::memcmp(b.data() + 1, "vorbis", 6) != 0) return id;
  auto le32 = [&b](std::size_t p) {
    return static_cast<int32_t>(b[p] | (b[p + 1] << 8) | (b[p + 2] << 16) | (uint32_t(b[p + 3]) << 24));
  };
  id.Channels = b[11];
  id.Rate = le32(12);
  id.Maximum = le32(16);
  id.Nominal = le32(20);
  id.Minimum = le32(24);
  return id;
}

// Interleaved 16-bit samples as oggdec decodes the file (libvorbisfile,
// signed little-endian).
inline std::vector<int16_t> Oggdec(const fs::path& file, const fs::path& scratch) {
  const fs::path out = scratch / "oggdec.raw";
  EXPECT_EQ(Run("oggdec -Q -R -b 16 -e 0 -s 1 -o " + Quote(out) + " " + Quote(file)), 0) << file;
  auto bytes = ReadFile(out);
  fs::remove(out);
  return AsInt16(bytes);
}

// ogginfo's report; Clean when it found nothing to warn about.
struct TOgginfo {
  int Status = -1;
  std::string Text;
  bool Clean() const {
    return Status == 0 && Text.find("WARNING") == std::string::npos && Text.find("ERROR") == std::string::npos;
  }
};

inline TOgginfo Ogginfo(const fs::path& file) {
  TOgginfo r;
  const TRunResult run = RunShell("ogginfo " + Quote(file));
  r.Status = run.Status;
  r.Text = run.Out + run.Err;
  return r;
}

// The comments as mutagen reads them: "name=value" lines in file order.
inline std::string MutagenComments(const fs::path& file) {
  return Capture("/usr/bin/python3 -c \"import sys; from mutagen.oggvorbis import OggVorbis; "
                 "[print(k + '=' + v) for k, v in OggVorbis(sys.argv[1]).tags]\" " +
                 Quote(file));
}

// An Ogg Vorbis file made by oggenc from a 16-bit WAV of generated samples,
// with "-c NAME=value" comments.
inline void Oggenc(const fs::path& out, int rate, int channels, int64_t frames,
                   const std::function<int32_t(int64_t, int)>& sample, const std::vector<std::string>& comments,
                   const std::string& options = "-q 3") {
  const fs::path wav = out.parent_path() / (out.stem().string() + "-source.wav");
  WriteWav(wav, Generate(16, channels, rate, frames, sample));
  std::string cmd = "oggenc -Q " + options + " -o " + Quote(out);
  for (const auto& c : comments) cmd += " -c " + Quote(c);
  cmd += " " + Quote(wav);
  ASSERT_EQ(Run(cmd), 0) << cmd;
  fs::remove(wav);
}

// Tones and noise, different in every channel.
inline int32_t Music(int rate, int64_t f, int c) {
  const double t = static_cast<double>(f) / rate;
  const double v = 0.3 * std::sin(2 * M_PI * (220 + 55 * c) * t) + 0.15 * std::sin(2 * M_PI * (1500 + 300 * c) * t);
  return static_cast<int32_t>(std::lround(v * 32767)) + static_cast<int32_t>((f * 7919 + c * 31) % 801) - 400;
}

// The root mean square of v[from, to).
inline double Rms(const std::vector<double>& v, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += v[i] * v[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

// Signal-to-noise of `decoded` against `reference` in dB, over the middle
// of the signal (`margin` samples left out at each end).
inline double SnrDb(const std::vector<double>& reference, const std::vector<double>& decoded, std::size_t margin) {
  double signal = 0, noise = 0;
  for (std::size_t i = margin; i + margin < reference.size() && i < decoded.size(); ++i) {
    const double e = decoded[i] - reference[i];
    signal += reference[i] * reference[i];
    noise += e * e;
  }
  return 10 * std::log10(signal / std::max(noise, 1e-30));
}

}  // namespace vorbistest
