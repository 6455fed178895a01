// TMP3Out: the file sink that encodes PCM into an MPEG Layer 3 file through
// the LAME encoder, with an ID3v1.1 block at its end and, for VBR, the
// VBR header in its first frame.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "codecs/mp3_encoder_config.h"
#include "tags/au_tagged_file.h"
#include "platform/messages.h"

enum class TMP3BitRate {
  mbrAuto, mbr32, mbr40, mbr48, mbr56, mbr64, mbr80, mbr96,
  mbr112, mbr128, mbr144, mbr160, mbr192, mbr224, mbr256, mbr320
};
enum class TMP3Mode { mmStereo, mmJointStereo, mmDual, mmMono };
enum class TMP3Quality { mp3ql0, mp3ql1, mp3ql2, mp3ql3, mp3ql4, mp3ql5, mp3ql6, mp3ql7, mp3ql8, mp3ql9 };

// kbit/s of a bit rate value; 0 for mbrAuto.
int MP3BitRateKbps(TMP3BitRate Value);

// A 32-bit Boolean, copied into the encoder's record as stored: true is -1.
using TLongBool = int32_t;
inline constexpr TLongBool kLongTrue = -1;

class TMP3Out : public TAuTaggedFileOut {
 public:
  explicit TMP3Out(TComponent* AOwner = nullptr);
  ~TMP3Out() override;

  TMP3BitRate BitRate = TMP3BitRate::mbr128;
  // One-channel input is encoded as mono whatever this says; mmMono folds
  // two channels into one.
  TMP3Mode Mode = TMP3Mode::mmStereo;
  TLongBool CRC = 0;
  TLongBool Copyright = 0;
  TLongBool Original = kLongTrue;
  // False asks the encoder for no bit reservoir.
  bool EnableBitReservoir = false;
  bool StrinctISO = false;
  TMP3Quality VBRQuality = TMP3Quality::mp3ql0;
  // VBR, and the VBR header written into the finished file.
  TLongBool EnableVBR = 0;
  // Not mbrAuto: average bit rate (ABR) instead of quality-driven VBR.
  TMP3BitRate AverageBitrate = TMP3BitRate::mbrAuto;
  TMP3BitRate MaximumBitrate = TMP3BitRate::mbrAuto;

  // The record the last Prepare handed to the encoder.
  const TBeConfig& EncoderConfig() const { return FEncoderConfig; }

 protected:
  void Prepare() override;
  bool EncodeStep() override;
  // The encoder's last frames and the ID3v1 block.
  void Finish() override;
  // The VBR header; a failed run's file removed.
  void AfterClose() override;

 private:
  void FillEncoderConfig(int SampleRate, int Channels);
  // Encodes Bytes of PCMBuffer (whole frames); raises on an encoder or
  // write error.
  void EncodeChunk(uint32_t Bytes);
  void WriteMp3(uint32_t Bytes);

  TBeConfig FEncoderConfig;
  HBE_STREAM EncoderStream = nullptr;
  // The input's bytes of one chunk, in the input's own width (held as 16-bit
  // values, so that 16-bit input goes to the encoder as it is).
  std::vector<int16_t> PCMBuffer;
  uint32_t PCMBufferSize = 0;
  // The chunk as full-scale 32-bit samples in the encoder's channels, for
  // every input but 16-bit in as many channels as the encoder takes.
  std::vector<int32_t> WideSamples;
  std::vector<uint8_t> MP3Buffer;
  uint32_t MP3BufferSize = 0;
  int InputChannels = 0;
  int InputBits = 0;
  int EncoderChannels = 0;
};
