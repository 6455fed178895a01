#pragma once

// Small pipeline components of the pipeline tests: a source of 16-bit PCM
// read from a headerless file, a pass-through converter and a source that
// only has a format. The memory sink, the temporary folder and the pump are
// the shared ones of tests/support.

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "pipeline/au_converter.h"
#include "pipeline/au_file_stream.h"
#include "pipeline/au_output.h"
#include "tests/support/held_sink.h"
#include "tests/support/main_thread_pump.h"
#include "tests/support/temp_dir.h"

namespace testing_pipeline {

using qmtest::PumpUntil;
using qmtest::TMemorySink;
using qmtest::TTempDir;

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

}  // namespace testing_pipeline
