// What the MP3 tests read back from the files the sink writes: the frame
// headers (parsed here, independently of the encoder), the Xing/Info and
// LAME header of the first frame, decodes by ffmpeg and lame, and the
// signal measures the width tests compare.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/support.h"

namespace mp3test {

using namespace qmtest;
namespace fs = std::filesystem;

struct TFrame {
  std::size_t Offset = 0;
  std::size_t Length = 0;
  int Version = 0;  // 1 (MPEG-1), 2 (MPEG-2), 25 (MPEG-2.5)
  bool Crc = false;  // the protection bit is 0: a CRC follows the header
  int Kbps = 0;
  int SampleRate = 0;
  bool Private = false;
  int ChannelMode = 0;  // 0 stereo, 1 joint stereo, 2 dual channel, 3 mono
  bool Copyright = false;
  bool Original = false;
  int MainDataBegin = 0;

  int Channels() const { return ChannelMode == 3 ? 1 : 2; }
  int SamplesPerFrame() const { return Version == 1 ? 1152 : 576; }
  // Where the side information starts and how long it is.
  std::size_t SideInfoOffset() const { return 4 + (Crc ? 2 : 0); }
  std::size_t SideInfoLength() const {
    if (Version == 1) return Channels() == 1 ? 17 : 32;
    return Channels() == 1 ? 9 : 17;
  }
};

// The Layer III frame at `at`, when a valid header starts there.
inline std::optional<TFrame> ParseFrame(const std::vector<uint8_t>& file, std::size_t at) {
  if (at + 4 > file.size()) return std::nullopt;
  const uint8_t* h = file.data() + at;
  if (h[0] != 0xFF || (h[1] & 0xE0) != 0xE0) return std::nullopt;
  static const int kVersions[4] = {25, 0, 2, 1};
  TFrame f;
  f.Offset = at;
  f.Version = kVersions[(h[1] >> 3) & 3];
  if (f.Version == 0 || ((h[1] >> 1) & 3) != 1) return std::nullopt;  // Layer III only
  f.Crc = (h[1] & 1) == 0;
  static const int kKbps1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1};
  static const int kKbps2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1};
  f.Kbps = (f.Version == 1 ? kKbps1 : kKbps2)[h[2] >> 4];
  static const int kRates[3] = {44100, 48000, 32000};
  const int rateIndex = (h[2] >> 2) & 3;
  if (f.Kbps <= 0 || rateIndex == 3) return std::nullopt;
  f.SampleRate = kRates[rateIndex] / (f.Version == 1 ? 1 : f.Version == 2 ? 2 : 4);
  const bool padding = (h[2] >> 1) & 1;
  f.Private = h[2] & 1;
  f.ChannelMode = h[3] >> 6;
  f.Copyright = (h[3] >> 3) & 1;
  f.Original = (h[3] >> 2) & 1;
  f.Length = static_cast<std::size_t>((f.Version == 1 ? 144000 : 72000) * f.Kbps / f.SampleRate + (padding ? 1 : 0));
  if (at + f.Length > file.size()) return std::nullopt;
  const uint8_t* side = h + f.SideInfoOffset();
  f.MainDataBegin = f.Version == 1 ? (side[0] << 1) | (side[1] >> 7) : side[0];
  return f;
}

struct TStreamLayout {
  std::vector<TFrame> Frames;
  // Bytes after the last frame (the ID3v1 block, when it is there).
  std::size_t TrailingBytes = 0;
  bool Id3v1AtEnd = false;
};

// Every frame from the start of the file to its end or its ID3v1 block.
inline TStreamLayout ParseStream(const std::vector<uint8_t>& file) {
  TStreamLayout s;
  std::size_t end = file.size();
  if (end >= 128 && std::memcmp(file.data() + end - 128, "TAG", 3) == 0) {
    s.Id3v1AtEnd = true;
    end -= 128;
  }
  const std::vector<uint8_t> audio(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(end));
  std::size_t at = 0;
  while (auto f = ParseFrame(audio, at)) {
    s.Frames.push_back(*f);
    at += f->Length;
  }
  s.TrailingBytes = end - at;
  return s;
}

// The Xing/Info header of a first frame and the LAME extension after it.
struct TXingHeader {
  std::string Id;  // "Xing" (VBR) or "Info" (CBR)
  std::optional<uint32_t> Frames;
  std::optional<uint32_t> Bytes;
  bool HasLame = false;
  int LameVbrMethod = 0;  // 1 CBR, 2 ABR, 3..6 VBR
  int Delay = 0;
  int Padding = 0;
};

inline std::optional<TXingHeader> ParseXing(const std::vector<uint8_t>& file, const TFrame& first) {
  std::size_t at = first.Offset + first.SideInfoOffset() + first.SideInfoLength();
  if (at + 8 > first.Offset + first.Length) return std::nullopt;
  TXingHeader x;
  x.Id.assign(reinterpret_cast<const char*>(file.data() + at), 4);
  if (x.Id != "Xing" && x.Id != "Info") return std::nullopt;
  auto be32 = [&file](std::size_t p) {
    return (uint32_t(file[p]) << 24) | (uint32_t(file[p + 1]) << 16) | (uint32_t(file[p + 2]) << 8) | file[p + 3];
  };
  const uint32_t flags = be32(at + 4);
  at += 8;
  if (flags & 1) x.Frames = be32(at), at += 4;
  if (flags & 2) x.Bytes = be32(at), at += 4;
  if (flags & 4) at += 100;
  if (flags & 8) at += 4;
  if (at + 36 <= first.Offset + first.Length && std::memcmp(file.data() + at, "LAME", 4) == 0) {
    x.HasLame = true;
    x.LameVbrMethod = file[at + 9] & 0x0F;
    const uint8_t* d = file.data() + at + 21;
    x.Delay = (d[0] << 4) | (d[1] >> 4);
    x.Padding = ((d[1] & 0x0F) << 8) | d[2];
  }
  return x;
}

// Interleaved float samples as ffmpeg decodes the file.
inline std::vector<float> FfmpegFloat(const fs::path& file) {
  const auto bytes = FfmpegDecode(file, "f32le");
  std::vector<float> out(bytes.size() / 4);
  std::memcpy(out.data(), bytes.data(), out.size() * 4);
  return out;
}

// The frames `lame --decode` writes (a WAV file: its data chunk's size).
inline int64_t LameDecodedFrames(const fs::path& file, int channels) {
  const fs::path out = fs::path(file) += ".lame-decode.wav";
  if (!RunShell("lame --quiet --decode " + Quote(file) + " " + Quote(out)).Ok()) return -1;
  const auto data = WavPayload(out);
  fs::remove(out);
  return static_cast<int64_t>(data.size() / (2 * static_cast<std::size_t>(channels)));
}

// One channel of an interleaved decode.
inline std::vector<double> Channel(const std::vector<float>& pcm, int channels, int channel) {
  std::vector<double> out(pcm.size() / static_cast<std::size_t>(channels));
  for (std::size_t i = 0; i < out.size(); ++i) out[i] = pcm[i * static_cast<std::size_t>(channels) + channel];
  return out;
}

inline double Rms(const std::vector<double>& v, std::size_t from, std::size_t to) {
  double sum = 0;
  for (std::size_t i = from; i < to; ++i) sum += v[i] * v[i];
  return std::sqrt(sum / static_cast<double>(to - from));
}

struct TMatch {
  std::size_t Lag = 0;
  double SnrDb = -1e9;
};

// Signal-to-noise of `decoded` against `reference` at the lag (the
// encoder's delay) where they fit best, over the middle of the signal.
inline TMatch BestMatch(const std::vector<double>& reference, const std::vector<double>& decoded,
                        std::size_t maxLag, std::size_t margin) {
  TMatch best;
  if (reference.size() <= 2 * margin) return best;
  for (std::size_t lag = 0; lag <= maxLag; ++lag) {
    if (lag + reference.size() - margin > decoded.size()) break;
    double signal = 0, noise = 0;
    for (std::size_t i = margin; i < reference.size() - margin; ++i) {
      const double e = decoded[i + lag] - reference[i];
      signal += reference[i] * reference[i];
      noise += e * e;
    }
    const double snr = 10 * std::log10(signal / std::max(noise, 1e-30));
    if (snr > best.SnrDb) best = {lag, snr};
  }
  return best;
}

}  // namespace mp3test
