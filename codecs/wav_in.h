// TWaveIn: the file source for RIFF/WAVE files. Delivers PCM as stored, IMA
// and Microsoft ADPCM decoded to 16 bits, IEEE float as 32-bit integers, and
// MPEG Layer 3 data converted as a whole when the file is opened.
#pragma once

#include <array>
#include <cstdint>
#include <memory>

#include "codecs/adpcm.h"
#include "pipeline/au_input.h"
#include "pipeline/au_memory_stream.h"

enum class TWavType { wtUnsupported, wtPCM, wtDVIADPCM, wtMSADPCM, wtACM, wtIEEEFloat, wtExtPCM, wtExtIEEEFloat };

// Sub-format GUIDs of the extensible header, as stored in the file.
extern const uint8_t KsDataFormatSubtypePcm[16];
extern const uint8_t KsDataFormatSubtypeIeeeFloat[16];

class TWaveIn : public TAuFileIn {
 public:
  static constexpr uint32_t DecodeBufferSize = 16384;

  explicit TWaveIn(TComponent* AOwner = nullptr);
  ~TWaveIn() override;

  bool SeekInternal(int64_t& SampleNum) override;

  TWavType WavType() const { return FWavType; }
  // Stream offset of the first byte of the "data" body.
  uint16_t HeaderSize() const { return FHeaderSize; }

 protected:
  bool OpenHeader() override;
  void CloseHeader() override;
  void DecodeBlock() override;

 private:
  // Scans the header from the stream's current position; sets the format
  // values, Size, WavType and HeaderSize. Anything it cannot use leaves
  // WavType unsupported.
  void ReadRIFFHeader();
  bool ParseFormatChunk(const uint8_t* body, uint32_t size);
  // The header scan and what the format needs at open; false when a
  // compressed file could not be converted (the file then stays unopened).
  // Read errors raise.
  bool ReadHeaderAndFormat();
  bool ConvertCompressed();
  // The first ADPCM block's headers lie within the tables.
  bool FirstBlockDecodes();
  bool ReadDVIBlock(uint32_t& got);
  bool ReadMSBlock(uint32_t& got);
  bool StreamAtEnd();
  void RefuseFormat();

  // ADPCM block as read from the file.
  std::vector<uint8_t> BlockBuffer;
  TWavType FWavType = TWavType::wtUnsupported;
  uint16_t DVIBlockAlign = 0;
  uint16_t DVISamplesPerBlock = 0;
  uint32_t DVIFactSamples = 0;
  uint16_t MSBlockAlign = 0;
  uint16_t MSSamplesPerBlock = 0;
  uint32_t MSFactSamples = 0;
  uint16_t MSNumCoef = 0;
  std::array<TMsCoefficient, MsMaxCoefficients> MSCoefs{};
  uint16_t FHeaderSize = 0;
  // While a converted MPEG file is open it stands in for Stream.
  std::unique_ptr<TAuMemoryStream> ConvertedStream;
  TStream* SavedStream = nullptr;
  bool Float32 = false;
};
