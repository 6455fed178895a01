#pragma once

// Small pipeline components of the tests' own: a source of 16-bit PCM read
// from a headerless file, a pass-through converter, and sinks that collect
// what they pull in memory, with hooks to fail or hold a run.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "pipeline/au_converter.h"
#include "pipeline/au_file_stream.h"
#include "pipeline/au_output.h"

namespace testing_pipeline {

// A temporary folder removed with its contents when the test ends.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// Writes `frames` frames of 16-bit PCM whose value encodes the frame number
// (channel c of frame n holds (n * Channels + c) & 0x7FFF).
void WriteRampFile(const std::filesystem::path& file, int64_t frames, int channels);
int16_t RampValue(int64_t frame, int channel, int channels);

// A headerless 16-bit PCM file at a given rate and channel count.
class TRawFileIn : public TAuFileIn {
 public:
  explicit TRawFileIn(TComponent* AOwner = nullptr, int Channels = 2, int Rate = 44100);
  ~TRawFileIn() override;

  bool SeekInternal(int64_t& SampleNum) override;

  int OpenCalls = 0;
  // Bytes decoded per block (the most one GetData delivers); set before Init.
  uint32_t BlockBytes = 4096;
  // Reports Size -1 (a source that cannot tell its length).
  bool UnknownSize = false;

 protected:
  bool OpenHeader() override;
  void InitInternal() override;
  void DecodeBlock() override;

 private:
  int FFileChannels;
  int FFileRate;
};

// Passes blocks through unchanged (Size and format of its input).
class TPassThrough : public TAuConverter {
 public:
  using TAuConverter::TAuConverter;
  int InitCalls = 0;

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;
};

// A source with a fixed format and no data, for format queries.
class TFixedFormatSource : public TAuInput {
 public:
  TFixedFormatSource(int Bits, int Channels, int Rate) : Bits_(Bits), Channels_(Channels), Rate_(Rate) {}
  int GetBitsPerSample() override { return Bits_; }
  int GetChannels() override { return Channels_; }
  int GetSampleRate() override { return Rate_; }

 protected:
  void InitInternal() override {}
  void FlushInternal() override {}
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override { Bytes = 0; Buffer = nullptr; }

 private:
  int Bits_, Channels_, Rate_;
};

// Collects everything it pulls. Hooks let a test fail Prepare or hold the
// worker inside DoOutput until released.
class TMemorySink : public TAuOutput {
 public:
  using TAuOutput::TAuOutput;
  ~TMemorySink() override { DestroyWorker(); }

  std::vector<uint8_t> Data;
  uint32_t BlockBytes = 4096;
  std::atomic<int> PrepareCalls{0};
  std::atomic<int> DoneCalls{0};
  std::atomic<int> AbortCalls{0};
  std::atomic<bool> FailPrepare{false};
  std::atomic<bool> FailDone{false};
  // While set, DoOutput blocks until Release(), an abort or a pause request
  // (the worker takes the pause after the held block).
  std::atomic<bool> Hold{false};
  // While set, Prepare blocks until ReleasePrepare() or a stop.
  std::atomic<bool> HoldPrepare{false};
  std::atomic<int> BlocksWritten{0};
  // The worker's nice value when Prepare ran.
  std::atomic<int> NiceInPrepare{0};

  void Release();
  bool WaitUntilHeld(std::chrono::milliseconds timeout);
  void ReleasePrepare();
  bool WaitUntilPrepareHeld(std::chrono::milliseconds timeout);

 protected:
  bool DoOutput(bool Abort) override;
  void Done() override;
  void Prepare() override;

 private:
  std::mutex FHoldMutex;
  std::condition_variable FHoldCv;
  bool FHeld = false;
  bool FPrepareHeld = false;
};

// Pumps the main-thread invoker until `done` holds or `timeout` passes.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

}  // namespace testing_pipeline
