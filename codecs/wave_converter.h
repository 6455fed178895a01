// Converts the compressed payload of a WAV file (MPEG Layer 3) to PCM as a
// whole, through the audio compression manager. The stream's contents are
// audio data without a header.
#pragma once

#include <array>
#include <cstdint>

#include "pipeline/au_memory_stream.h"

class TWaveConverter : public TAuMemoryStream {
 public:
  static constexpr uint32_t FormatRecordSize = 129;

  TWaveConverter();

  // Takes the "fmt " record and the "data" body of a WAV stream.
  void LoadFromWave(TStream& Source);
  // 0 on success, else the error code of the first compression call that
  // failed. On success the contents are PCM in TargetFormat.
  uint32_t Convert();
  // Writes the contents as a PCM WAV stream.
  void SaveToWave(TStream& Dest);

  uint32_t MaxFormatSize = 0;
  std::array<uint8_t, FormatRecordSize> SourceFormat{};
  std::array<uint8_t, FormatRecordSize> TargetFormat{};
};
