#include "converters/audio_converter.h"

#include <algorithm>
#include <cmath>

#include "pipeline/au_exception.h"
#include "pipeline/sample_routines.h"

namespace {

bool IsConvertibleWidth(int bits) { return bits == 8 || bits == 16 || bits == 24 || bits == 32; }

}  // namespace

TAudioConverter::~TAudioConverter() { NotifyRemoval(); }

int TAudioConverter::GetBitsPerSample() {
  if (OutBitsPerSample != 0) return OutBitsPerSample;
  return TAuConverter::GetBitsPerSample();
}

int TAudioConverter::GetChannels() {
  if (!FInput) return 0;
  const int in = FInput->Channels();
  if ((OutChannels == 1 || OutChannels == 2) && (in == 1 || in == 2)) return OutChannels;
  return in;
}

int TAudioConverter::GetSampleRate() { return TAuConverter::GetSampleRate(); }

void TAudioConverter::InitInternal() {
  CheckInput();
  FInput->Init();
  Busy = true;
  Position = 0;
  EffectiveBits = GetBitsPerSample();
  EffectiveChannels = GetChannels();
  const int inBits = TAuConverter::GetBitsPerSample();
  InChannels = FInput->Channels();
  InBytesPerSample = inBits / 8;
  OutBytesPerSample = EffectiveBits / 8;
  Capacity = 0;
  OutputBuffer.clear();
  FloatBuffer.clear();
  const int64_t inSize = FInput->Size;
  // Asked for the input's own width and channel count, the converter copies:
  // a round trip through float would change every full-scale sample.
  FCopy = EffectiveBits == inBits && EffectiveChannels == InChannels;
  const bool transparent = FCopy || (OutBitsPerSample == 0 && OutChannels == 0);
  if (!transparent && (!IsConvertibleWidth(inBits) || !IsConvertibleWidth(EffectiveBits) || InChannels <= 0))
    throw EAuException(kMsgUnsupportedSampleWidth);
  if (inSize < 0) {
    Size = -1;
  } else if (inBits * InChannels == 0) {
    Size = inSize;
  } else {
    const int outFrameBits = EffectiveBits * EffectiveChannels;
    const double scaled = static_cast<double>(inSize) * outFrameBits / (static_cast<double>(inBits) * InChannels);
    int64_t size = std::llrint(scaled);
    const int outFrameBytes = outFrameBits / 8;
    if (outFrameBytes > 0) size -= size % outFrameBytes;
    Size = size;
  }
}

void TAudioConverter::FlushInternal() {
  if (FInput) FInput->Flush();
  OutputBuffer = {};
  FloatBuffer = {};
  Capacity = 0;
  FCopy = false;
  Busy = false;
}

void TAudioConverter::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (FCopy || (OutBitsPerSample == 0 && OutChannels == 0)) {
    FInput->GetData(Buffer, Bytes);
    return;
  }
  const uint32_t framesWanted = (Bytes / OutBytesPerSample) / EffectiveChannels;
  void* in = nullptr;
  uint32_t got = framesWanted * InBytesPerSample * InChannels;
  FInput->GetData(in, got);
  if (got == 0 || in == nullptr) {
    Buffer = nullptr;
    Bytes = 0;
    return;
  }
  const uint32_t frames = (got / InBytesPerSample) / InChannels;
  Bytes = frames * OutBytesPerSample * EffectiveChannels;
  if (Capacity < frames) {
    Capacity = frames;
    OutputBuffer.assign(static_cast<size_t>(frames) * OutBytesPerSample * EffectiveChannels, 0);
    FloatBuffer.assign(static_cast<size_t>(Capacity) * std::max(InChannels, EffectiveChannels), 0.0f);
  }
  float* f = FloatBuffer.data();
  const size_t inValues = static_cast<size_t>(frames) * InChannels;
  switch (InBytesPerSample) {
    case 1: ByteToSingle(static_cast<const uint8_t*>(in), f, inValues); break;
    case 2: SmallIntToSingle(static_cast<const int16_t*>(in), f, inValues); break;
    case 3: Int24ToSingle(static_cast<const uint8_t*>(in), f, inValues); break;
    case 4: Int32ToSingle(static_cast<const int32_t*>(in), f, inValues); break;
  }
  if (EffectiveChannels == 2 && InChannels == 1)
    MonoToStereoSingle(f, frames);
  else if (EffectiveChannels == 1 && InChannels == 2)
    StereoToMonoSingle(f, frames);
  const size_t outValues = static_cast<size_t>(frames) * EffectiveChannels;
  uint8_t* out = OutputBuffer.data();
  switch (OutBytesPerSample) {
    case 1: SingleToByte(f, out, outValues); break;
    case 2: SingleToSmallInt(f, reinterpret_cast<int16_t*>(out), outValues); break;
    case 3: SingleToInt24(f, out, outValues); break;
    case 4: SingleToInt32(f, reinterpret_cast<int32_t*>(out), outValues); break;
  }
  Buffer = out;
}
