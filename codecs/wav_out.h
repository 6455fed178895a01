// TWaveOut: the file sink for RIFF/WAVE files: plain PCM, extensible PCM
// (more than two channels or more than 16 bits) and IMA ADPCM, written anew
// or appended to an existing PCM or IMA ADPCM file of the same format.
#pragma once

#include <cstdint>
#include <string>

#include "codecs/adpcm.h"
#include "codecs/wav_in.h"
#include "pipeline/au_output.h"
#include "platform/messages.h"

class TWaveOut : public TAuFileOut {
 public:
  explicit TWaveOut(TComponent* AOwner = nullptr);
  ~TWaveOut() override;

  // Accepts wtPCM and wtDVIADPCM only, and only while not Busy.
  void SetWavType(TWavType Value);
  TWavType WavType() const { return FWavType; }
  // IMA ADPCM block size: a non-zero multiple of 4, set only while not Busy.
  void SetBlockSize(uint16_t Value);
  uint16_t BlockSize() const { return FBlockSize; }
  void SetFileMode(TFileOutputMode Value) override;

  // When false, more than 2 channels or more than 16 bits get the
  // extensible header.
  bool CreateNonMsHeaders = true;

 protected:
  // Creates the file or opens the one appended to, and writes the header.
  void Prepare() override;
  // One block of PCM as delivered, or one IMA ADPCM block.
  bool EncodeStep() override;
  // The header's sizes put right (or the data padded to the size announced).
  void Finish() override;

 private:
  void ReadExistingHeader();
  [[noreturn]] void Fail(const char* Message);
  void WritePcmHeader(int64_t size);
  void WriteExtensibleHeader(int64_t size);
  void WriteImaHeader(int64_t size);
  void PatchHeader();
  void CheckFits(uint64_t bytes) const;
  bool EncodeImaStep();

  TWavType FWavType = TWavType::wtPCM;
  TImaChannelState EncState[2];
  uint32_t ExistingSampleRate = 0;
  uint16_t ExistingChannels = 0;
  uint16_t ExistingBits = 0;
  uint32_t ExistingFactSamples = 0;
  uint32_t FactPos = 0;
  uint32_t ExistingDataSize = 0;
  uint32_t DataSizePos = 0;
  TWavType ExistingType = TWavType::wtUnsupported;
  uint32_t DataStart = 0;
  uint16_t FBlockSize = 512;
  // This run's Prepare appended to an existing non-empty file.
  bool Appended = false;
  // Prepare wrote the header (or reached the end of the file appended to).
  bool HeaderWritten = false;
  // IMA ADPCM: frames the input delivered into blocks this run, and the end
  // of the existing file an append started at.
  uint64_t EncodedFrames = 0;
  int64_t AppendStart = 0;
  // Where the next block goes in the file.
  uint64_t WritePosition = 0;
  // Format of the run, taken from the input in Prepare.
  int Channels = 0;
  int Bits = 0;
  int SampleRate = 0;
  std::vector<int16_t> SampleBuffer;
  // PCM as read from the input, or an IMA ADPCM block as encoded.
  std::vector<uint8_t> BlockBuffer;
};
