// Pipeline parts of the tests' own: a generator source (which a test can
// hold like the memory sink), a stream that fails the way a disk does, and
// reading a source to its end.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <vector>

#include "pipeline/au_file_stream.h"
#include "pipeline/au_input.h"
#include "tests/support/hold_gate.h"

namespace qmtest {

// Frames from a function of the frame index, little-endian at the width
// (8 bits: the value's low byte as it is), with a Size it announces, which
// may differ from what it delivers, or be -1.
class TGeneratorInput : public TAuInput {
 public:
  TGeneratorInput(int channels, int rate, int bits, int64_t frames);
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
  // While closed, each GetData waits here until Release (or LetGo says so).
  THoldGate Hold;
  std::function<bool()> LetGo;

 protected:
  void InitInternal() override;
  void FlushInternal() override { Busy = false; }
  void GetDataInternal(void*& buffer, uint32_t& bytes) override;

 private:
  int FChannels, FRate, FBits;
  int64_t Frames;
  int64_t Next = 0;
  std::vector<uint8_t> Block;
};

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

  std::size_t Read(void* buffer, std::size_t count) override;
  std::size_t Write(const void* buffer, std::size_t count) override;
  int64_t Seek(int64_t offset, TSeekOrigin origin) override { return Inner->Seek(offset, origin); }
  int64_t Size() override { return Inner->Size(); }
  void SetSize(int64_t size) override { Inner->SetSize(size); }
  void Close() override;

 private:
  std::unique_ptr<TStream> Inner;
};

// A file opened for reading behind a TFaultyStream.
std::unique_ptr<TFaultyStream> FaultyFile(const std::filesystem::path& file, int64_t failAt);

// Everything a source delivers in one run (Init, GetData to the end, Flush).
std::vector<uint8_t> ReadAll(TAuInput& input, uint32_t request = 16384);

}  // namespace qmtest
