// TFastResampler: changes the sample rate in blocks of one fifth of a second
// of input, repeating samples to raise the rate or dropping them to lower
// it, and removes the images or aliases with a 16-pole recursive low-pass
// (four cascaded 4-pole Chebyshev sections, 5 % ripple) run at the higher of
// the two rates. Bits per sample and channels pass unchanged.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "converters/cascade_filter.h"
#include "pipeline/au_converter.h"
#include "platform/messages.h"

// Coefficients of one 4-pole Chebyshev type I low-pass section:
// y[n] = sum a[k] x[n-k] (k = 0..4) + sum b[k] y[n-1-k] (k = 0..3).
struct TChebyshevCoefficients {
  std::array<float, 5> A{};
  std::array<float, 4> B{};
};

// Designs the section for a cutoff in cycles per sample (0 < fc < 0.5).
TChebyshevCoefficients DesignChebyshevLowPass(long double Cutoff, int Poles = 4, long double RipplePercent = 5);

class TFastResampler : public TAuConverter {
 public:
  static constexpr int MaxChannels = 8;
  static constexpr int Stages = 4;
  static constexpr int Poles = 4;

  explicit TFastResampler(TComponent* AOwner = nullptr) : TAuConverter(AOwner) {}
  ~TFastResampler() override;

  int GetBitsPerSample() override;
  int GetChannels() override;
  int GetSampleRate() override;

  uint32_t OutSampleRate = 0;

  // Valid during a run.
  bool PassThrough() const { return FPassThrough; }
  uint32_t WorkFrames() const { return FWorkFrames; }
  const TChebyshevCoefficients& Coefficients() const { return Coefs; }

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  uint32_t ProduceBlock(uint32_t BytesRead);

  bool FPassThrough = false;
  TChebyshevCoefficients Coefs;
  // The four sections with their history of every channel, carried from
  // block to block.
  TCascadeFilter Cascade;
  uint32_t InRate5 = 0;
  uint32_t OutRate5 = 0;
  uint32_t InBlockBytes = 0;
  uint32_t OutBlockBytes = 0;
  uint32_t FWorkFrames = 0;
  std::vector<float> FloatBuffer;
  // Raising the rate: the block with its frames repeated, filtered in place.
  std::vector<float> Expanded;
  int BytesPerSample = 0;
  uint32_t FrameBytes = 0;
  int FChannels = 0;
  // A block read from the input, then the block produced from it in place.
  TDecodeBuffer ByteBuffer;
};
