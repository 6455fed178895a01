// Audio compression manager: converts compressed WAV payloads (MPEG Layer 3)
// to PCM. The calls mirror the Windows ACM ones that the WAV reader was
// designed around, so the reader keeps its order of calls and error handling;
// behind them sits FFmpeg's MP3 decoder fed through its parser.
//
// Format records are WAVEFORMATEX byte images (little-endian): tag, channels,
// rate, average bytes per second, block align, bits per sample, extra size.
#pragma once

#include <cstddef>
#include <cstdint>

// Return codes: 0 is success, anything else an ACM-style error number.
constexpr uint32_t AcmNoError = 0;
constexpr uint32_t AcmErrInvalidHandle = 5;   // MMSYSERR_INVALHANDLE
constexpr uint32_t AcmErrNoMemory = 7;        // MMSYSERR_NOMEM
constexpr uint32_t AcmErrInvalidFlag = 10;    // MMSYSERR_INVALFLAG
constexpr uint32_t AcmErrInvalidParam = 11;   // MMSYSERR_INVALPARAM
constexpr uint32_t AcmErrNotPossible = 512;   // ACMERR_NOTPOSSIBLE
constexpr uint32_t AcmErrUnprepared = 515;    // ACMERR_UNPREPARED

// acmMetrics: the largest format record any supported format needs.
constexpr uint32_t AcmMetricMaxSizeFormat = 50;
// acmFormatSuggest: only the destination's format tag is fixed by the caller.
constexpr uint32_t AcmFormatSuggestWFormatTag = 0x10000;
constexpr uint32_t AcmStreamOpenNonRealtime = 0x4;
constexpr uint32_t AcmStreamSizeSource = 0x0;
constexpr uint32_t AcmStreamConvertBlockAlign = 0x4;
// The source given is the last of the stream: the decoder is emptied too.
constexpr uint32_t AcmStreamConvertEnd = 0x20;

// The largest PCM result a conversion may grow to (1 GiB): a file that needs
// more is refused, so a lying header cannot ask for gigabytes.
constexpr uint64_t AcmMaxConvertedBytes = 0x40000000;

constexpr uint16_t WaveFormatPcm = 1;
constexpr uint16_t WaveFormatMpegLayer3 = 0x55;
// Size of WAVEFORMATEX without its extra bytes.
constexpr uint32_t WaveFormatExSize = 18;

struct TAcmStreamHeader {
  uint32_t cbStruct = 0;
  uint32_t fdwStatus = 0;
  uintptr_t dwUser = 0;
  uint8_t* pbSrc = nullptr;
  uint32_t cbSrcLength = 0;
  uint32_t cbSrcLengthUsed = 0;
  uintptr_t dwSrcUser = 0;
  uint8_t* pbDst = nullptr;
  uint32_t cbDstLength = 0;
  uint32_t cbDstLengthUsed = 0;
  uintptr_t dwDstUser = 0;
  uint32_t dwReservedDriver[10] = {};
};

struct TAcmStream;  // opaque conversion session
using HACMSTREAM = TAcmStream*;

// Only AcmMetricMaxSizeFormat is supported; the object argument is unused.
uint32_t acmMetrics(void* object, uint32_t metric, uint32_t* value);

// Fills dstFormat (dstSize bytes) with the PCM format the source converts to.
// srcFormat must hold at least WaveFormatExSize bytes.
uint32_t acmFormatSuggest(void* driver, const uint8_t* srcFormat, uint8_t* dstFormat, uint32_t dstSize,
                          uint32_t flags);

uint32_t acmStreamOpen(HACMSTREAM* stream, void* driver, const uint8_t* srcFormat, const uint8_t* dstFormat,
                       void* filter, uintptr_t callback, uintptr_t instance, uint32_t flags);
// An estimate of the destination bytes srcLength source bytes produce, from
// the source format's average byte rate. It is no bound: a variable bit rate
// file may produce far more than its header's rate suggests. Refuses an
// estimate above AcmMaxConvertedBytes.
uint32_t acmStreamSize(HACMSTREAM stream, uint32_t srcLength, uint32_t* dstLength, uint32_t flags);
uint32_t acmStreamPrepareHeader(HACMSTREAM stream, TAcmStreamHeader* header, uint32_t flags);
// Converts the source into the destination until the source is used up or
// the destination is full; cbSrcLengthUsed and cbDstLengthUsed tell how far
// it got. Nothing is dropped: a conversion stopped by a full destination goes
// on, at the next call, with the rest of the source (from pbSrc +
// cbSrcLengthUsed) and a new destination. With AcmStreamConvertEnd the
// decoder is emptied once the source is used up; the conversion is complete
// when such a call leaves room for at least one more frame in its destination.
uint32_t acmStreamConvert(HACMSTREAM stream, TAcmStreamHeader* header, uint32_t flags);
uint32_t acmStreamUnprepareHeader(HACMSTREAM stream, TAcmStreamHeader* header, uint32_t flags);
uint32_t acmStreamClose(HACMSTREAM stream, uint32_t flags);
