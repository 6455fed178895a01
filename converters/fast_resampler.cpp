#include "converters/fast_resampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "pipeline/au_exception.h"
#include "pipeline/sample_rate.h"
#include "pipeline/sample_routines.h"

TChebyshevCoefficients DesignChebyshevLowPass(long double Cutoff, int Poles, long double RipplePercent) {
  // The constants are the ones the filter was always designed with; the
  // output depends on them bit for bit.
  const long double Pi = 3.14159265359L;
  const long double TwoPi = 6.28318530718L;
  const int np = Poles;
  std::vector<long double> a(np + 4, 0.0L), b(np + 4, 0.0L);
  a[2] = 1;
  b[2] = 1;
  for (int p = 1; p <= np / 2; ++p) {
    const long double angle = Pi / (2.0L * np) + (p - 1) * Pi / np;
    long double rp = -std::cos(angle);
    long double ip = std::sin(angle);
    if (RipplePercent != 0) {
      const long double r = 100.0L / (100.0L - RipplePercent);
      const long double es = std::sqrt(r * r - 1.0L);
      const long double vx = (1.0L / np) * std::log(1.0L / es + std::sqrt(1.0L / (es * es) + 1.0L));
      long double kx = (1.0L / np) * std::log(1.0L / es + std::sqrt(1.0L / (es * es) - 1.0L));
      kx = (std::exp(kx) + std::exp(-kx)) / 2.0L;
      rp = rp * ((std::exp(vx) - std::exp(-vx)) / 2.0L) / kx;
      ip = ip * ((std::exp(vx) + std::exp(-vx)) / 2.0L) / kx;
    }
    const long double t = 2.0L * std::tan(0.5L);
    const long double w = TwoPi * Cutoff;
    const long double m = rp * rp + ip * ip;
    long double d = 4.0L - 4.0L * rp * t + m * t * t;
    const long double x0 = t * t / d;
    const long double x1 = 2.0L * t * t / d;
    const long double x2 = t * t / d;
    const long double y1 = (8.0L - 2.0L * m * t * t) / d;
    const long double y2 = (-4.0L - 4.0L * rp * t - m * t * t) / d;
    const long double k = std::sin(0.5L - w / 2.0L) / std::sin(0.5L + w / 2.0L);
    d = 1.0L + y1 * k - y2 * k * k;
    const long double a0 = (x0 - x1 * k + x2 * k * k) / d;
    const long double a1 = (-2.0L * x0 * k + x1 + x1 * k * k - 2.0L * x2 * k) / d;
    const long double a2 = (x0 * k * k - x1 * k + x2) / d;
    const long double b1 = (2.0L * k + y1 + y1 * k * k - 2.0L * y2 * k) / d;
    const long double b2 = (-k * k - y1 * k + y2) / d;
    const std::vector<long double> ta = a, tb = b;
    for (int i = 2; i <= np + 3; ++i) {
      a[i] = a0 * ta[i] + a1 * ta[i - 1] + a2 * ta[i - 2];
      b[i] = tb[i] - b1 * tb[i - 1] - b2 * tb[i - 2];
    }
  }
  b[2] = 0;
  for (int i = 0; i <= np; ++i) {
    a[i] = a[i + 2];
    b[i] = i + 3 < np + 4 ? -b[i + 3] : 0.0L;
  }
  long double sa = 0, sb = 0;
  for (int i = 0; i <= np; ++i) {
    sa += a[i];
    sb += b[i];
  }
  const long double gain = sa / (1.0L - sb);
  for (int i = 0; i <= np; ++i) a[i] /= gain;
  TChebyshevCoefficients c;
  for (int i = 0; i < 5 && i <= np; ++i) c.A[i] = static_cast<float>(a[i]);
  for (int i = 0; i < 4; ++i) c.B[i] = static_cast<float>(b[i]);
  return c;
}

namespace {

// One frame of float values; stereo, the common case, without a call.
inline void CopyFrame(float* Dest, const float* Src, size_t Channels) {
  if (Channels == 2) {
    Dest[0] = Src[0];
    Dest[1] = Src[1];
  } else {
    std::memcpy(Dest, Src, Channels * sizeof(float));
  }
}

}  // namespace

TFastResampler::~TFastResampler() { NotifyRemoval(); }

int TFastResampler::GetBitsPerSample() {
  CheckInput();
  return TAuConverter::GetBitsPerSample();
}

int TFastResampler::GetChannels() {
  CheckInput();
  return FInput->Channels();
}

int TFastResampler::GetSampleRate() {
  CheckInput();
  return static_cast<int>(OutSampleRate);
}

void TFastResampler::InitInternal() {
  CheckInput();
  Busy = true;
  FInput->Init();
  const int bits = TAuConverter::GetBitsPerSample();
  FChannels = FInput->Channels();
  BytesPerSample = bits / 8;
  FrameBytes = static_cast<uint32_t>(std::max(0, FChannels * BytesPerSample));
  Position = 0;
  ByteBuffer.Clear();
  const int inRate = FInput->SampleRate();
  // Blocks hold a fifth of a second of either rate: a rate beyond the range
  // would size them by it.
  if (!IsSupportedSampleRate(inRate) || !IsSupportedSampleRate(OutSampleRate)) throw EAuException(kMsgResamplerFormat);
  InRate5 = static_cast<uint32_t>(inRate) / 5;
  OutRate5 = OutSampleRate / 5;
  InBlockBytes = InRate5 * FrameBytes;
  OutBlockBytes = OutRate5 * FrameBytes;
  const int64_t inSize = FInput->Size;
  if (inSize > 0 && InBlockBytes != 0)
    Size = std::llrint(static_cast<double>(inSize) * OutBlockBytes / InBlockBytes);
  else
    Size = inSize;
  FPassThrough = OutBlockBytes == InBlockBytes;
  if (FPassThrough) return;
  // The filter state holds 8 channels; the float routines know 8 to 32 bits;
  // a rate under 5 Hz makes an empty block.
  if (FChannels < 1 || FChannels > MaxChannels || bits % 8 != 0 || bits < 8 || bits > 32 || InRate5 == 0 ||
      OutRate5 == 0)
    throw EAuException(kMsgResamplerFormat);
  if (InRate5 < OutRate5) {
    uint32_t k = 2;
    while (static_cast<uint64_t>(k) * InRate5 < OutRate5) ++k;
    FWorkFrames = k * InRate5;
  } else {
    FWorkFrames = InRate5;
  }
  ByteBuffer.Allocate(static_cast<size_t>(FrameBytes) * FWorkFrames);
  FloatBuffer.assign(static_cast<size_t>(FChannels) * FWorkFrames, 0.0f);
  const long double fc = static_cast<long double>(std::min(InRate5, OutRate5)) /
                         static_cast<long double>(std::max(InRate5, OutRate5)) * 0.85L / 2.0L;
  Coefs = DesignChebyshevLowPass(fc, Poles, 5);
  Cascade.SetCoefficients(Coefs.A, Coefs.B);
  Cascade.Reset(FChannels, FWorkFrames);
  Expanded.assign(InRate5 < OutRate5 ? static_cast<size_t>(FChannels) * FWorkFrames : 0, 0.0f);
}

void TFastResampler::FlushInternal() {
  if (FInput) FInput->Flush();
  ByteBuffer.Release();
  FloatBuffer = {};
  Expanded = {};
  Cascade.Release();
  Busy = false;
}

uint32_t TFastResampler::ProduceBlock(uint32_t BytesRead) {
  const size_t values = BytesRead / BytesPerSample;
  float* f = FloatBuffer.data();
  const uint8_t* bytes = ByteBuffer.Data();
  switch (BytesPerSample) {
    case 1: ByteToSingle(bytes, f, values); break;
    case 2: SmallIntToSingle(reinterpret_cast<const int16_t*>(bytes), f, values); break;
    case 3: Int24ToSingle(bytes, f, values); break;
    case 4: Int32ToSingle(reinterpret_cast<const int32_t*>(bytes), f, values); break;
  }
  const uint32_t frames = BytesRead / FrameBytes;
  const auto channels = static_cast<size_t>(FChannels);
  uint32_t produced = 0;
  if (InRate5 < OutRate5) {
    // Each input frame is repeated for as long as the accumulator says.
    float* e = Expanded.data();
    int64_t s = 0;
    uint32_t i = 0;
    while (i < frames && produced < FWorkFrames) {
      CopyFrame(e + produced * channels, f + i * channels, channels);
      ++produced;
      s -= InBlockBytes;
      if (s < 0) {
        s += OutBlockBytes;
        ++i;
      }
    }
    Cascade.Run(e, produced);
    f = e;
  } else {
    Cascade.Run(f, frames);
    // The frames kept are taken forwards into the same buffer: a kept frame
    // never lies after the one it comes from.
    int64_t s = 0;
    for (uint32_t n = 0; n < frames; ++n) {
      s -= OutBlockBytes;
      if (s < 0) {
        if (produced != n) CopyFrame(f + produced * channels, f + n * channels, channels);
        ++produced;
        s += InBlockBytes;
      }
    }
  }
  const size_t outValues = static_cast<size_t>(produced) * FChannels;
  uint8_t* out = ByteBuffer.Data();
  switch (BytesPerSample) {
    case 1: SingleToByte(f, out, outValues); break;
    case 2: SingleToSmallInt(f, reinterpret_cast<int16_t*>(out), outValues); break;
    case 3: SingleToInt24(f, out, outValues); break;
    case 4: SingleToInt32(f, reinterpret_cast<int32_t*>(out), outValues); break;
  }
  return static_cast<uint32_t>(outValues * BytesPerSample);
}

void TFastResampler::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (FPassThrough) {
    FInput->GetData(Buffer, Bytes);
    return;
  }
  if (!Busy) throw EAuException(kMsgStreamNotOpened);
  if (ByteBuffer.Empty()) {
    bool eof = false;
    const uint32_t got = FInput->FillBuffer(ByteBuffer.Data(), InBlockBytes, eof);
    if (got < FrameBytes) {
      ByteBuffer.Clear();
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    ByteBuffer.Filled(ProduceBlock(got - got % FrameBytes));
  }
  // Whole frames where the request allows it, so no consumer has to re-join one.
  ByteBuffer.Serve(Buffer, Bytes, FrameBytes);
}
