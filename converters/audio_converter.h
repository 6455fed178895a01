// TAudioConverter: changes bits per sample (8, 16, 24, 32) and the channel
// count (mono and stereo) of the PCM passing through, by way of 32-bit float.
// With both output properties 0, or when they ask for the input's own width
// and channel count, it is transparent.
#pragma once

#include <cstdint>
#include <vector>

#include "pipeline/au_converter.h"
#include "platform/messages.h"

enum class TMSConverterMode { msmMonoToBoth, msmMonoToLeft, msmMonoToRight };

class TAudioConverter : public TAuConverter {
 public:
  explicit TAudioConverter(TComponent* AOwner = nullptr) : TAuConverter(AOwner) {}
  ~TAudioConverter() override;

  int GetBitsPerSample() override;
  int GetChannels() override;
  int GetSampleRate() override;

  // Stored with the component; mono to stereo always fills both channels.
  TMSConverterMode Mode = TMSConverterMode::msmMonoToBoth;
  // 0 = as the input.
  int OutBitsPerSample = 0;
  // 0 = as the input; only 1 and 2 take effect, and only on mono or stereo input.
  int OutChannels = 0;

 protected:
  void InitInternal() override;
  void FlushInternal() override;
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override;

 private:
  std::vector<uint8_t> OutputBuffer;
  std::vector<float> FloatBuffer;
  // Frames both buffers hold (0 = none allocated).
  uint32_t Capacity = 0;
  int InBytesPerSample = 0;
  int OutBytesPerSample = 0;
  int InChannels = 0;
  int EffectiveChannels = 0;
  int EffectiveBits = 0;
  // The run's output format is the input's: blocks pass unchanged.
  bool FCopy = false;
};
