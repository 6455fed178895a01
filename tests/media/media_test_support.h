// Fixtures of the media tests: MP3 and WMA files made by lame and ffmpeg
// from generated signals, and a byte stream over a file held in memory.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "platform/media_reader.h"
#include "tests/support/support.h"

namespace mediatest {

using namespace qmtest;

class TBytes : public media::TMediaByteStream {
 public:
  explicit TBytes(std::vector<uint8_t> Data) : FData(std::move(Data)) {}
  std::size_t Read(uint8_t* Buffer, std::size_t Count) override {
    const std::size_t n = std::min(Count, FData.size() - std::min(FData.size(), FPos));
    if (n) std::memcpy(Buffer, FData.data() + FPos, n);
    FPos += n;
    return n;
  }
  int64_t Seek(int64_t Offset, TOrigin Origin) override {
    const int64_t base = Origin == TOrigin::Begin ? 0 : Origin == TOrigin::Current ? static_cast<int64_t>(FPos)
                                                                                    : static_cast<int64_t>(FData.size());
    if (base + Offset < 0) return -1;
    FPos = static_cast<std::size_t>(base + Offset);
    return static_cast<int64_t>(FPos);
  }
  int64_t Size() override { return static_cast<int64_t>(FData.size()); }

 private:
  std::vector<uint8_t> FData;
  std::size_t FPos = 0;
};

// A two-tone signal of Seconds as a 16-bit WAV file.
inline fs::path MakeWav(const TTempDir& dir, const std::string& name, int rate, int channels, double seconds,
                        int bits = 16) {
  const fs::path out = dir / name;
  const std::string codec = bits == 16 ? "pcm_s16le" : bits == 24 ? "pcm_s24le" : bits == 32 ? "pcm_s32le" : "pcm_u8";
  FfmpegGenerate("aevalsrc=0.5*sin(2*PI*440*t)*(1+0.3*sin(2*PI*3*t))|0.4*sin(2*PI*660*t):s=" + std::to_string(rate) +
             ":d=" + std::to_string(seconds),
         "-ac " + std::to_string(channels) + " -c:a " + codec, out);
  return out;
}

// lame: Options such as "-b 128", "-V 2", "-V 2 -t" (no Xing header).
inline fs::path MakeLameMp3(const TTempDir& dir, const std::string& name, const fs::path& wav,
                            const std::string& options) {
  const fs::path out = dir / name;
  const std::string cmd = "lame --quiet " + options + " " + Quote(wav) + " " + Quote(out);
  EXPECT_EQ(RunStatus(cmd), 0) << cmd;
  return out;
}

// ffmpeg: a WMA (codec wmav1 or wmav2) or MP3 from a WAV with extra options.
inline fs::path Encode(const TTempDir& dir, const std::string& name, const fs::path& wav, const std::string& options) {
  const fs::path out = dir / name;
  const std::string cmd = "ffmpeg -nostdin -v error -y -i " + Quote(wav) + " " + options + " " + Quote(out);
  EXPECT_EQ(RunStatus(cmd), 0) << cmd;
  return out;
}

// One format tag of an ffprobe'd file.
inline std::string ProbeTag(const fs::path& file, const std::string& tag) {
  return CommandOutput("ffprobe -v error -show_entries format_tags=" + tag + " -of default=noprint_wrappers=1:nokey=1 " +
                 Quote(file));
}

inline std::string ProbeFormat(const fs::path& file, const std::string& field) {
  return CommandOutput("ffprobe -v error -show_entries format=" + field + " -of default=noprint_wrappers=1:nokey=1 " +
                 Quote(file));
}

// The first frame offset (within +-Window) at which B continues A exactly
// over Length frames; -1000000 when there is none.
inline long MatchOffset(const std::vector<int16_t>& full, const std::vector<int16_t>& part, int channels, long at,
                        long window, long partFrom, long length) {
  for (long d = -window; d <= window; ++d) {
    const long start = (at + d + partFrom) * channels;
    if (start < 0 || static_cast<std::size_t>(start + length * channels) > full.size()) continue;
    if (static_cast<std::size_t>((partFrom + length) * channels) > part.size()) return -1000000;
    if (std::equal(part.begin() + partFrom * channels, part.begin() + (partFrom + length) * channels,
                   full.begin() + start))
      return d;
  }
  return -1000000;
}

}  // namespace mediatest
