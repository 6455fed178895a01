#include "test_components.h"

#include "pipeline/au_exception.h"

namespace testing_pipeline {

int16_t RampValue(int64_t frame, int channel, int channels) {
  return static_cast<int16_t>((frame * channels + channel) & 0x7FFF);
}

void WriteRampFile(const std::filesystem::path& file, int64_t frames, int channels) {
  TAuFileStream out(file, TAuFileStream::fmCreate);
  std::vector<int16_t> values(static_cast<std::size_t>(frames * channels));
  for (int64_t n = 0; n < frames; ++n)
    for (int c = 0; c < channels; ++c) values[static_cast<std::size_t>(n * channels + c)] = RampValue(n, c, channels);
  out.WriteBuffer(values.data(), values.size() * sizeof(int16_t));
}

// ---- TRawFileIn -------------------------------------------------------------

TRawFileIn::TRawFileIn(TComponent* AOwner, int Channels, int Rate)
    : TAuFileIn(AOwner), FFileChannels(Channels), FFileRate(Rate) {}

TRawFileIn::~TRawFileIn() { ReleaseSource(); }

bool TRawFileIn::OpenHeader() {
  ++OpenCalls;
  FBitsPerSample = 16;
  FChannels = FFileChannels;
  FSampleRate = FFileRate;
  Size = UnknownSize ? -1 : Stream->Size();
  return true;
}

void TRawFileIn::InitInternal() {
  if (Decoded.Capacity() != BlockBytes) Decoded.Allocate(BlockBytes);
  TAuFileIn::InitInternal();
}

void TRawFileIn::DecodeBlock() {
  const uint32_t want = BlockBytes - BlockBytes % FrameSize;
  Decoded.Filled(Stream->Read(Decoded.Data(), want));
}

bool TRawFileIn::SeekInternal(int64_t& SampleNum) {
  Decoded.Clear();
  return Stream->Seek(SampleNum * FrameSize, TSeekOrigin::soBeginning) >= 0;
}

// ---- TPassThrough -----------------------------------------------------------

void TPassThrough::InitInternal() {
  CheckInput();
  ++InitCalls;
  Busy = true;
  Position = 0;
  FInput->Init();
  Size = FInput->Size.load();
}

void TPassThrough::FlushInternal() {
  if (FInput) FInput->Flush();
  Busy = false;
}

void TPassThrough::GetDataInternal(void*& Buffer, uint32_t& Bytes) { FInput->GetData(Buffer, Bytes); }

}  // namespace testing_pipeline
