// The MP3 encoder's stream interface: the be… calls and the 331-byte
// configuration record (the LAME DLL interface's version 1 layout), served
// by an adapter of ours that turns the record into LAME's own lame_set_…
// calls. Results are BE_ERR codes, 0 for success.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// ---- The configuration record ------------------------------------------------

inline constexpr std::size_t kBeConfigSize = 331;
// dwConfig: the LAME layout of the record.
inline constexpr int32_t kBeConfigLame = 256;
inline constexpr int32_t kBeStructVersion = 1;

// Field offsets; every field is a little-endian 32-bit value.
namespace be_config {
inline constexpr std::size_t dwConfig = 0;
inline constexpr std::size_t dwStructVersion = 4;
inline constexpr std::size_t dwStructSize = 8;
inline constexpr std::size_t dwSampleRate = 12;
// 0: the input's rate when MPEG audio has it, else the encoder's choice.
inline constexpr std::size_t dwReSampleRate = 16;
inline constexpr std::size_t nMode = 20;
inline constexpr std::size_t dwBitrate = 24;
inline constexpr std::size_t dwMaxBitrate = 28;
inline constexpr std::size_t bPrivate = 48;
inline constexpr std::size_t bCRC = 52;
inline constexpr std::size_t bCopyright = 56;
inline constexpr std::size_t bOriginal = 60;
inline constexpr std::size_t bWriteVBRHeader = 64;
inline constexpr std::size_t bEnableVBR = 68;
inline constexpr std::size_t nVBRQuality = 72;
// The field's name speaks of bit/s, but the record carries kbit/s here.
inline constexpr std::size_t dwVbrAbr_bps = 76;
inline constexpr std::size_t nVbrMethod = 80;
inline constexpr std::size_t bNoRes = 84;
inline constexpr std::size_t bStrictIso = 88;
}  // namespace be_config

// nMode values.
inline constexpr int32_t kBeModeStereo = 0;
inline constexpr int32_t kBeModeJointStereo = 1;
inline constexpr int32_t kBeModeDualChannel = 2;
inline constexpr int32_t kBeModeMono = 3;

// nVbrMethod values.
inline constexpr int32_t kBeVbrMethodNone = -1;
inline constexpr int32_t kBeVbrMethodDefault = 0;
inline constexpr int32_t kBeVbrMethodOld = 1;
inline constexpr int32_t kBeVbrMethodNew = 2;
inline constexpr int32_t kBeVbrMethodMtrh = 3;
inline constexpr int32_t kBeVbrMethodAbr = 4;

// The record as bytes, zero-filled at construction.
class TBeConfig {
 public:
  void Clear() { Bytes.fill(0); }
  void Set(std::size_t Offset, int32_t Value);
  int32_t Get(std::size_t Offset) const;
  const uint8_t* Data() const { return Bytes.data(); }

 private:
  std::array<uint8_t, kBeConfigSize> Bytes{};
};

// ---- The stream calls ----------------------------------------------------------

using BE_ERR = uint32_t;
inline constexpr BE_ERR kBeErrSuccessful = 0;
inline constexpr BE_ERR kBeErrInvalidFormat = 1;
inline constexpr BE_ERR kBeErrInvalidFormatParameters = 2;
inline constexpr BE_ERR kBeErrNoMoreHandles = 3;
inline constexpr BE_ERR kBeErrInvalidHandle = 4;
inline constexpr BE_ERR kBeErrBufferTooSmall = 5;
// The encoder failed inside an encode or flush call.
inline constexpr BE_ERR kBeErrEncoderFailed = 6;
// beWriteVBRHeader could not read or write the file, or found no frame at
// its start to put the header in.
inline constexpr BE_ERR kBeErrFile = 7;

struct TBeStream;
using HBE_STREAM = TBeStream*;

// Opens an encoder stream for Config (kBeConfigSize bytes). Samples: the
// 16-bit samples (all channels counted) one chunk holds; BufferSize: the
// bytes the output buffer of every encode and deinit call must hold.
BE_ERR beInitStream(const uint8_t* Config, uint32_t* Samples, uint32_t* BufferSize, HBE_STREAM* Stream);
// Encodes Samples 16-bit samples (interleaved, all channels counted, at most
// one chunk) into Output; OutputBytes: the bytes produced.
BE_ERR beEncodeChunk(HBE_STREAM Stream, uint32_t Samples, int16_t* Pcm, uint8_t* Output, uint32_t* OutputBytes);
// As beEncodeChunk, for 32-bit samples at full scale (wider sources keep
// their precision).
BE_ERR beEncodeChunkInt32(HBE_STREAM Stream, uint32_t Samples, const int32_t* Pcm, uint8_t* Output,
                          uint32_t* OutputBytes);
// Flushes the encoder: the last frames go to Output.
BE_ERR beDeinitStream(HBE_STREAM Stream, uint8_t* Output, uint32_t* OutputBytes);
// Frees the stream. The VBR header of a stream that asked for one and was
// flushed stays with the calling thread for beWriteVBRHeader.
BE_ERR beCloseStream(HBE_STREAM Stream);
// Writes the VBR (Xing/Info) header of the stream this thread closed last
// over the first frame of the finished file FileName (an 8-bit path).
BE_ERR beWriteVBRHeader(const char* FileName);
