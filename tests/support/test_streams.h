// Generated test signals: each says in its name what case it is for, so no
// test needs a binary fixture. Samples are given as signed values at the
// width's own scale and laid out as a WAV file's data chunk holds them
// (little-endian, 8 bits unsigned, 32 bits integer).
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <vector>

namespace qmtest {

struct TPcm {
  int Bits = 16;
  int Channels = 2;
  int SampleRate = 44100;
  std::vector<uint8_t> Bytes;

  int FrameBytes() const { return Channels * ((Bits + 7) / 8); }
  int64_t Frames() const { return static_cast<int64_t>(Bytes.size()) / FrameBytes(); }
  // Sample `channel` of frame `frame`, back as a signed value.
  int32_t Sample(int64_t frame, int channel) const;
};

// The largest positive sample value of a width (127, 32767, 8388607, 2147483647).
int32_t FullScale(int bits);

// Appends one sample in the WAV layout of the width.
void PutSample(std::vector<uint8_t>& out, int bits, int32_t value);

using TSampleFunction = std::function<int32_t(int64_t frame, int channel)>;

// `frames` frames, each sample from `sample`.
TPcm Generate(int bits, int channels, int rate, int64_t frames, const TSampleFunction& sample);
// Interleaved signed samples as they are.
TPcm FromSamples(int bits, int channels, int rate, const std::vector<int32_t>& samples);

// One frame, `value` in every channel: the shortest file a reader must handle.
TPcm OneSample(int bits, int channels, int rate, int32_t value);
// A square wave between the width's extremes (-FullScale-1 and FullScale),
// `period` frames long: the largest steps a codec or converter can see.
TPcm FullScaleSquare(int bits, int channels, int rate, int64_t frames, int period = 100);
// A sine of `hz` at `amplitude` (0..1 of full scale), the same in every channel.
TPcm Sine(int bits, int channels, int rate, int64_t frames, double hz = 440.0, double amplitude = 0.5);
TPcm Silence(int bits, int channels, int rate, int64_t frames);

// A WAV file of the signal, with optional chunks laid out before and after
// its data chunk (LIST, fact, odd-sized ones: see PutChunk).
void WriteWav(const std::filesystem::path& file, const TPcm& pcm, const std::vector<uint8_t>& before = {},
              const std::vector<uint8_t>& after = {});
// A WAV file of `frames` frames from `sample`.
void WriteWav(const std::filesystem::path& file, int rate, int channels, int bits, int64_t frames,
              const TSampleFunction& sample);
// A WAV file of a sine at half of full scale, `hz` in every channel.
void WriteSineWav(const std::filesystem::path& file, int rate, int channels, int bits, int64_t frames,
                  double hz = 440.0);

// The data chunk's bytes of a WAV file (found by walking its chunks; the
// bytes present when the size claims more); empty when there is none.
std::vector<uint8_t> WavPayload(const std::filesystem::path& file);

}  // namespace qmtest
