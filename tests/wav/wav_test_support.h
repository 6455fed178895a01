// Shared pieces of the WAV and converter tests: a per-test temporary folder,
// the independent tools (ffmpeg, ffprobe, sox), little WAV builders for
// hand-made headers, a stream that fails like a disk, a generator source, and
// a way to run a sink to its end.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "pipeline/au_exception.h"
#include "pipeline/au_file_stream.h"
#include "pipeline/au_input.h"
#include "pipeline/au_output.h"
#include "pipeline/main_thread_invoker.h"

namespace wavtest {

namespace fs = std::filesystem;

class TTempDir {
 public:
  TTempDir() {
    const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = std::string("quellmark-") + (info ? info->test_suite_name() : "x") + "-" +
                       (info ? info->name() : "y") + "-" + std::to_string(std::random_device{}());
    for (char& c : name)
      if (c == '/') c = '_';
    Path = fs::temp_directory_path() / name;
    fs::create_directories(Path);
  }
  ~TTempDir() {
    std::error_code ec;
    fs::remove_all(Path, ec);
  }
  fs::path operator/(const std::string& leaf) const { return Path / leaf; }
  fs::path Path;
};

inline int Run(const std::string& command) { return std::system((command + " >/dev/null 2>&1").c_str()); }

inline std::string Quote(const fs::path& p) { return "'" + p.string() + "'"; }

// Makes a file with ffmpeg from a lavfi source description and output options.
inline void Ffmpeg(const std::string& source, const std::string& options, const fs::path& out) {
  const std::string cmd = "ffmpeg -nostdin -v error -y -f lavfi -i \"" + source + "\" " + options + " " + Quote(out);
  ASSERT_EQ(Run(cmd), 0) << cmd;
}

inline std::vector<uint8_t> ReadFile(const fs::path& p) {
  std::ifstream f(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}

inline void WriteFile(const fs::path& p, const std::vector<uint8_t>& data) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

// ffmpeg's own decode of a file to raw samples of the given format (s16le, ...).
inline std::vector<uint8_t> FfmpegDecode(const fs::path& in, const std::string& format, const fs::path& scratch) {
  const fs::path out = scratch / "ffmpeg-decode.raw";
  const std::string cmd = "ffmpeg -nostdin -v error -y -i " + Quote(in) + " -f " + format + " " + Quote(out);
  EXPECT_EQ(Run(cmd), 0) << cmd;
  auto data = ReadFile(out);
  fs::remove(out);
  return data;
}

// sox's decode of a file to 16-bit signed samples.
inline std::vector<uint8_t> SoxDecode(const fs::path& in, const fs::path& scratch) {
  const fs::path out = scratch / "sox-decode.raw";
  const std::string cmd = "sox " + Quote(in) + " -t s16 " + Quote(out);
  EXPECT_EQ(Run(cmd), 0) << cmd;
  auto data = ReadFile(out);
  fs::remove(out);
  return data;
}

// The output of a shell command.
inline std::string Capture(const std::string& command) {
  std::string result;
  FILE* p = popen(command.c_str(), "r");
  if (!p) return result;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) result.append(buf, n);
  pclose(p);
  while (!result.empty() && (result.back() == '\n' || result.back() == ' ')) result.pop_back();
  return result;
}

// One ffprobe stream field of the first audio stream.
inline std::string Probe(const fs::path& file, const std::string& field) {
  return Capture("ffprobe -v error -select_streams a:0 -show_entries stream=" + field +
                 " -of default=noprint_wrappers=1:nokey=1 " + Quote(file));
}

inline std::string SoxInfo(const fs::path& file, const std::string& flag) {
  return Capture("soxi " + flag + " " + Quote(file) + " 2>/dev/null");
}

// Everything a source delivers in one run.
inline std::vector<uint8_t> ReadAll(TAuInput& input, uint32_t request = 16384) {
  std::vector<uint8_t> out;
  input.Init();
  for (int guard = 0; guard < 10'000'000; ++guard) {
    void* buffer = nullptr;
    uint32_t bytes = request;
    input.GetData(buffer, bytes);
    if (bytes == 0) break;
    const auto* p = static_cast<const uint8_t*>(buffer);
    out.insert(out.end(), p, p + bytes);
  }
  input.Flush();
  return out;
}

inline std::vector<int16_t> AsInt16(const std::vector<uint8_t>& bytes) {
  std::vector<int16_t> v(bytes.size() / 2);
  std::memcpy(v.data(), bytes.data(), v.size() * 2);
  return v;
}

inline void Put16(std::vector<uint8_t>& v, uint16_t x) {
  v.push_back(static_cast<uint8_t>(x));
  v.push_back(static_cast<uint8_t>(x >> 8));
}
inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(x >> (8 * i)));
}
inline void PutId(std::vector<uint8_t>& v, const char* id) {
  for (int i = 0; i < 4; ++i) v.push_back(static_cast<uint8_t>(id[i]));
}
inline void PutChunk(std::vector<uint8_t>& v, const char* id, const std::vector<uint8_t>& body) {
  PutId(v, id);
  Put32(v, static_cast<uint32_t>(body.size()));
  for (uint8_t b : body) v.push_back(b);
}

// A "fmt " body: the 16 base bytes plus any extra bytes as given.
inline std::vector<uint8_t> FormatBody(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t blockAlign,
                                       uint16_t bits, const std::vector<uint8_t>& extra = {}) {
  std::vector<uint8_t> b;
  Put16(b, tag);
  Put16(b, channels);
  Put32(b, rate);
  Put32(b, rate * blockAlign);
  Put16(b, blockAlign);
  Put16(b, bits);
  for (uint8_t x : extra) b.push_back(x);
  return b;
}

// RIFF/WAVE around the given chunks (already laid out).
inline std::vector<uint8_t> Riff(const std::vector<uint8_t>& chunks) {
  std::vector<uint8_t> v;
  PutId(v, "RIFF");
  Put32(v, static_cast<uint32_t>(chunks.size() + 4));
  PutId(v, "WAVE");
  for (uint8_t b : chunks) v.push_back(b);
  return v;
}

inline std::vector<uint8_t> PcmWave(uint16_t channels, uint32_t rate, uint16_t bits, const std::vector<uint8_t>& data) {
  std::vector<uint8_t> chunks;
  PutChunk(chunks, "fmt ", FormatBody(1, channels, rate, static_cast<uint16_t>(channels * bits / 8), bits));
  PutChunk(chunks, "data", data);
  return Riff(chunks);
}

// A stream over another that goes wrong the way a disk or a network share
// does: reads that reach FailAt give the bytes before it and then the
// system's EIO error (as a pulled USB stick does part-way through a file),
// and Close, once the inner stream is closed, reports CloseErrno (a
// write-back error that NFS or a quota reports only at the close).
class TFaultyStream : public TStream {
 public:
  explicit TFaultyStream(std::unique_ptr<TStream> inner) : Inner(std::move(inner)) {}

  int64_t FailAt = -1;  // -1: reads never fail
  int CloseErrno = 0;   // 0: the close succeeds

  std::size_t Read(void* buffer, std::size_t count) override {
    const int64_t at = Inner->Position();
    if (FailAt >= 0 && at + static_cast<int64_t>(count) > FailAt) {
      const std::size_t before = static_cast<std::size_t>(std::max<int64_t>(0, FailAt - at));
      const std::size_t got = Inner->Read(buffer, before);
      FLastError = std::strerror(EIO);
      return got;
    }
    const std::size_t got = Inner->Read(buffer, count);
    FLastError = Inner->LastError();
    return got;
  }
  std::size_t Write(const void* buffer, std::size_t count) override {
    const std::size_t put = Inner->Write(buffer, count);
    FLastError = Inner->LastError();
    return put;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return Inner->Seek(offset, origin); }
  int64_t Size() override { return Inner->Size(); }
  void SetSize(int64_t size) override { Inner->SetSize(size); }
  void Close() override {
    Inner->Close();
    if (CloseErrno != 0) throw EAuException(std::strerror(CloseErrno));
  }

 private:
  std::unique_ptr<TStream> Inner;
};

// A file opened for reading behind a TFaultyStream.
inline std::unique_ptr<TFaultyStream> FaultyFile(const fs::path& file, int64_t failAt) {
  auto stream = std::make_unique<TFaultyStream>(std::make_unique<TAuFileStream>(file, TAuFileStream::fmOpenRead));
  stream->FailAt = failAt;
  return stream;
}

// A generator source: 16-bit (or other width) frames from a function of the
// frame index, with a Size it announces (which may differ from what it
// delivers, or be -1).
class TGeneratorInput : public TAuInput {
 public:
  TGeneratorInput(int channels, int rate, int bits, int64_t frames)
      : FChannels(channels), FRate(rate), FBits(bits), Frames(frames) {
    AnnouncedSize = frames * channels * (bits / 8);
  }
  ~TGeneratorInput() override { NotifyRemoval(); }
  int GetBitsPerSample() override { return FBits; }
  int GetChannels() override { return FChannels; }
  int GetSampleRate() override { return FRate; }

  std::function<int32_t(int64_t frame, int channel)> Sample = [](int64_t f, int c) {
    return static_cast<int32_t>((f * 37 + c * 1000) % 20000 - 10000);
  };
  int64_t AnnouncedSize;
  // Throws from GetData once this many frames went out (-1: never).
  int64_t FailAfterFrames = -1;

 protected:
  void InitInternal() override {
    Busy = true;
    Position = 0;
    Next = 0;
    Size = AnnouncedSize;
  }
  void FlushInternal() override { Busy = false; }
  void GetDataInternal(void*& buffer, uint32_t& bytes) override {
    const int frameBytes = FChannels * FBits / 8;
    if (FailAfterFrames >= 0 && Next >= FailAfterFrames) throw std::runtime_error("generator failed");
    int64_t frames = std::min<int64_t>(bytes / frameBytes, Frames - Next);
    if (frames <= 0) {
      buffer = nullptr;
      bytes = 0;
      return;
    }
    Block.resize(static_cast<size_t>(frames * frameBytes));
    uint8_t* p = Block.data();
    for (int64_t f = 0; f < frames; ++f) {
      for (int c = 0; c < FChannels; ++c) {
        const int32_t s = Sample(Next + f, c);
        if (FBits == 8) {
          *p++ = static_cast<uint8_t>(s);
        } else {
          for (int b = 0; b < FBits / 8; ++b) *p++ = static_cast<uint8_t>(static_cast<uint32_t>(s) >> (8 * b));
        }
      }
    }
    Next += frames;
    Position += frames * frameBytes;
    buffer = Block.data();
    bytes = static_cast<uint32_t>(frames * frameBytes);
  }

 private:
  int FChannels, FRate, FBits;
  int64_t Frames;
  int64_t Next = 0;
  std::vector<uint8_t> Block;
};

// Runs a sink to its end on its worker, serving main-thread requests.
inline bool RunToEnd(TAuOutput& sink, std::chrono::seconds limit = std::chrono::seconds(120)) {
  bool done = false;
  sink.OnDone = [&done](TComponent*) { done = true; };
  sink.Run();
  const auto until = std::chrono::steady_clock::now() + limit;
  while (!done && std::chrono::steady_clock::now() < until)
    MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(10));
  return done;
}

inline double Correlation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t n) {
  double sab = 0, saa = 0, sbb = 0;
  for (size_t i = 0; i < n; ++i) {
    sab += double(a[i]) * b[i];
    saa += double(a[i]) * a[i];
    sbb += double(b[i]) * b[i];
  }
  return (saa > 0 && sbb > 0) ? sab / std::sqrt(saa * sbb) : 0;
}

}  // namespace wavtest
