// What the Opus tests share: tones and how strongly a decoded channel
// carries one, and what opusinfo, opusdec, ffmpeg and mutagen say about a
// file.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/decoders.h"
#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/signal_measures.h"
#include "tests/support/test_streams.h"

namespace opustest {

using namespace qmtest;
namespace fs = std::filesystem;

// A tone of `hz` at `amplitude` of full scale.
inline double Tone(double hz, double amplitude, int rate, int64_t f) {
  return amplitude * std::sin(2 * M_PI * hz * static_cast<double>(f) / rate);
}

// How one decoded channel carries a tone: its amplitude (of full scale) by
// a least-squares fit of a sine and a cosine at that frequency, and the
// signal-to-noise ratio of the fit against what remains. Phase and a delay
// of a few samples do not matter.
struct TToneFit {
  double Amplitude = 0;
  double SnrDb = 0;
};

inline TToneFit FitTone(const std::vector<int16_t>& interleaved, int channels, int channel, int rate, double hz,
                        double skipSeconds = 0.1) {
  const std::size_t frames = interleaved.size() / static_cast<std::size_t>(channels);
  const auto skip = static_cast<std::size_t>(skipSeconds * rate);
  TToneFit fit;
  if (frames <= 2 * skip + 1) return fit;
  double ss = 0, sc = 0, cc = 0, xs = 0, xc = 0, xx = 0;
  for (std::size_t f = skip; f < frames - skip; ++f) {
    const double x = interleaved[f * static_cast<std::size_t>(channels) + static_cast<std::size_t>(channel)] / 32768.0;
    const double phase = 2 * M_PI * hz * static_cast<double>(f) / rate;
    const double s = std::sin(phase), c = std::cos(phase);
    ss += s * s;
    sc += s * c;
    cc += c * c;
    xs += x * s;
    xc += x * c;
    xx += x * x;
  }
  // The normal equations of x ~ a sin + b cos.
  const double det = ss * cc - sc * sc;
  const double a = (xs * cc - xc * sc) / det;
  const double b = (xc * ss - xs * sc) / det;
  const double toneEnergy = a * xs + b * xc;
  const double rest = std::max(xx - toneEnergy, 1e-20);
  fit.Amplitude = std::sqrt(a * a + b * b);
  fit.SnrDb = 10 * std::log10(std::max(toneEnergy, 1e-20) / rest);
  return fit;
}

// The level in dB of full scale of one channel (a full-scale sine: -3 dB).
inline double LevelDb(const std::vector<int16_t>& interleaved, int channels, int channel) {
  double sum = 0;
  std::size_t n = 0;
  for (std::size_t i = static_cast<std::size_t>(channel); i < interleaved.size(); i += static_cast<std::size_t>(channels)) {
    const double x = interleaved[i] / 32768.0;
    sum += x * x;
    ++n;
  }
  return 10 * std::log10(std::max(sum / static_cast<double>(std::max<std::size_t>(n, 1)), 1e-20));
}

// opusinfo's report; Clean when it found nothing to warn about.
struct TOpusinfo {
  int Status = -1;
  std::string Text;
  bool Clean() const {
    return Status == 0 && Text.find("WARNING") == std::string::npos && Text.find("ERROR") == std::string::npos;
  }
};

inline TOpusinfo Opusinfo(const fs::path& file) {
  const TRunResult r = RunShell("opusinfo " + Quote(file));
  return {r.Status, r.Out + r.Err};
}

// What opusdec decodes: a 16-bit WAV at the stream's original rate.
struct TDecoded {
  int Channels = 0;
  int Rate = 0;
  std::vector<int16_t> Samples;
};

inline TDecoded Opusdec(const fs::path& file) {
  const fs::path out = file.parent_path() / (file.stem().string() + "-opusdec.wav");
  const TRunResult r = RunShell("opusdec --quiet " + Quote(file) + " " + Quote(out));
  EXPECT_EQ(r.Status, 0) << r.Err;
  TDecoded d;
  const auto wav = ReadFile(out);
  if (wav.size() >= 44) {
    d.Channels = wav[22] | (wav[23] << 8);
    d.Rate = static_cast<int>(wav[24] | (wav[25] << 8) | (wav[26] << 16) | (uint32_t(wav[27]) << 24));
  }
  d.Samples = AsInt16(WavPayload(out));
  fs::remove(out);
  return d;
}

// The comments as mutagen reads them: "name=value" lines in file order.
inline std::string MutagenTags(const fs::path& file) {
  return CommandOutput("/usr/bin/python3 -c \"import sys; from mutagen.oggopus import OggOpus; "
                       "[print(k + '=' + v) for k, v in OggOpus(sys.argv[1]).tags]\" " +
                       Quote(file));
}

}  // namespace opustest
