#include "tests/support/test_streams.h"

#include <cmath>
#include <cstring>
#include <numbers>

#include "tests/support/files.h"
#include "tests/support/wav_writer.h"

namespace qmtest {

int32_t FullScale(int bits) { return static_cast<int32_t>((int64_t{1} << (bits - 1)) - 1); }

void PutSample(std::vector<uint8_t>& out, int bits, int32_t value) {
  if (bits == 8) {
    out.push_back(static_cast<uint8_t>(value + 128));
    return;
  }
  for (int i = 0; i < bits / 8; ++i) out.push_back(static_cast<uint8_t>(static_cast<uint32_t>(value) >> (8 * i)));
}

int32_t TPcm::Sample(int64_t frame, int channel) const {
  const int width = (Bits + 7) / 8;
  const uint8_t* p = Bytes.data() + frame * FrameBytes() + channel * width;
  if (Bits == 8) return static_cast<int32_t>(p[0]) - 128;
  uint32_t v = 0;
  for (int i = 0; i < width; ++i) v |= static_cast<uint32_t>(p[i]) << (8 * i);
  const int shift = 32 - 8 * width;
  return static_cast<int32_t>(v << shift) >> shift;
}

TPcm Generate(int bits, int channels, int rate, int64_t frames, const TSampleFunction& sample) {
  TPcm pcm;
  pcm.Bits = bits;
  pcm.Channels = channels;
  pcm.SampleRate = rate;
  pcm.Bytes.reserve(static_cast<std::size_t>(frames * pcm.FrameBytes()));
  for (int64_t f = 0; f < frames; ++f)
    for (int c = 0; c < channels; ++c) PutSample(pcm.Bytes, bits, sample(f, c));
  return pcm;
}

TPcm FromSamples(int bits, int channels, int rate, const std::vector<int32_t>& samples) {
  TPcm pcm;
  pcm.Bits = bits;
  pcm.Channels = channels;
  pcm.SampleRate = rate;
  for (const int32_t s : samples) PutSample(pcm.Bytes, bits, s);
  return pcm;
}

TPcm OneSample(int bits, int channels, int rate, int32_t value) {
  return Generate(bits, channels, rate, 1, [value](int64_t, int) { return value; });
}

TPcm FullScaleSquare(int bits, int channels, int rate, int64_t frames, int period) {
  const int32_t high = FullScale(bits);
  const int32_t low = -high - 1;
  return Generate(bits, channels, rate, frames,
                  [=](int64_t f, int) { return (f % period) < period / 2 ? high : low; });
}

TPcm Sine(int bits, int channels, int rate, int64_t frames, double hz, double amplitude) {
  const double step = 2 * std::numbers::pi * hz / rate;
  const double full = FullScale(bits);
  return Generate(bits, channels, rate, frames, [=](int64_t f, int) {
    return static_cast<int32_t>(std::lround(amplitude * std::sin(step * static_cast<double>(f)) * full));
  });
}

TPcm Silence(int bits, int channels, int rate, int64_t frames) {
  return Generate(bits, channels, rate, frames, [](int64_t, int) { return 0; });
}

void WriteWav(const std::filesystem::path& file, const TPcm& pcm, const std::vector<uint8_t>& before,
              const std::vector<uint8_t>& after) {
  WriteFile(file, PcmWave(static_cast<uint16_t>(pcm.Channels), static_cast<uint32_t>(pcm.SampleRate),
                          static_cast<uint16_t>(pcm.Bits), pcm.Bytes, before, after));
}

void WriteWav(const std::filesystem::path& file, int rate, int channels, int bits, int64_t frames,
              const TSampleFunction& sample) {
  WriteWav(file, Generate(bits, channels, rate, frames, sample));
}

void WriteSineWav(const std::filesystem::path& file, int rate, int channels, int bits, int64_t frames, double hz) {
  WriteWav(file, Sine(bits, channels, rate, frames, hz, 0.5));
}

std::vector<uint8_t> WavPayload(const std::filesystem::path& file) {
  const std::vector<uint8_t> b = ReadFile(file);
  std::size_t at = 12;
  while (at + 8 <= b.size()) {
    const uint32_t size = static_cast<uint32_t>(b[at + 4]) | static_cast<uint32_t>(b[at + 5]) << 8 |
                          static_cast<uint32_t>(b[at + 6]) << 16 | static_cast<uint32_t>(b[at + 7]) << 24;
    if (std::memcmp(&b[at], "data", 4) == 0) {
      const std::size_t n = std::min<std::size_t>(size, b.size() - at - 8);
      return std::vector<uint8_t>(b.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                  b.begin() + static_cast<std::ptrdiff_t>(at + 8 + n));
    }
    at += 8 + std::size_t{size} + (size & 1);
  }
  return {};
}

}  // namespace qmtest
