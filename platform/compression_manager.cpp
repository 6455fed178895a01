#include "platform/compression_manager.h"

#include "platform/byte_order.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/frame.h>
}

namespace {

using platform::ReadLe16;
using platform::ReadLe32;
using platform::WriteLe16;
using platform::WriteLe32;

constexpr uint32_t StreamHeaderPrepared = 0x00020000;  // ACMSTREAMHEADER_STATUSF_PREPARED

struct TWaveFormatFields {
  uint16_t Tag = 0;
  uint16_t Channels = 0;
  uint32_t SampleRate = 0;
  uint32_t AvgBytesPerSec = 0;
  uint16_t BlockAlign = 0;
  uint16_t BitsPerSample = 0;
};


TWaveFormatFields ReadFormat(const uint8_t* f) {
  TWaveFormatFields r;
  r.Tag = ReadLe16(f);
  r.Channels = ReadLe16(f + 2);
  r.SampleRate = ReadLe32(f + 4);
  r.AvgBytesPerSec = ReadLe32(f + 8);
  r.BlockAlign = ReadLe16(f + 12);
  r.BitsPerSample = ReadLe16(f + 14);
  return r;
}

bool IsMpegRate(uint32_t rate) {
  static constexpr uint32_t Rates[] = {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000};
  return std::find(std::begin(Rates), std::end(Rates), rate) != std::end(Rates);
}

bool IsDecodableMp3(const TWaveFormatFields& f) {
  return f.Tag == WaveFormatMpegLayer3 && (f.Channels == 1 || f.Channels == 2) && IsMpegRate(f.SampleRate);
}

// The lowest standard MP3 bit rate at a sample rate, in bytes per second:
// MPEG-1 (32 kHz and up) starts at 32 kbit/s, MPEG-2 and 2.5 at 8 kbit/s.
uint32_t LowestMp3BytesPerSecond(uint32_t rate) { return rate >= 32000 ? 4000 : 1000; }

// Largest PCM result accepted: keeps a lying header from asking for gigabytes.
constexpr uint64_t MaxDestinationBytes = 0x40000000;  // 1 GiB

struct TCodecContextDeleter {
  void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
struct TParserDeleter {
  void operator()(AVCodecParserContext* p) const { av_parser_close(p); }
};
struct TPacketDeleter {
  void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct TFrameDeleter {
  void operator()(AVFrame* f) const { av_frame_free(&f); }
};

int16_t FloatToS16(float x) {
  // The conversion FFmpeg's resampler applies for float to 16-bit output,
  // so decoded files match what the ffmpeg command produces.
  long v = lrintf(x * 32768.0f);
  return static_cast<int16_t>(std::clamp(v, -32768L, 32767L));
}

}  // namespace

struct TAcmStream {
  TWaveFormatFields Source;
  TWaveFormatFields Target;
};

namespace {

// Appends the PCM of one decoded frame to the destination, interleaved 16-bit;
// frames whose layout differs from the negotiated one are dropped.
void AppendFrame(const AVFrame* frame, const TWaveFormatFields& target, TAcmStreamHeader* h) {
  const int channels = frame->ch_layout.nb_channels;
  if (channels != target.Channels || static_cast<uint32_t>(frame->sample_rate) != target.SampleRate) return;
  const auto fmt = static_cast<AVSampleFormat>(frame->format);
  for (int i = 0; i < frame->nb_samples; ++i) {
    if (h->cbDstLength - h->cbDstLengthUsed < static_cast<uint32_t>(2 * channels)) return;
    uint8_t* out = h->pbDst + h->cbDstLengthUsed;
    for (int c = 0; c < channels; ++c) {
      int16_t s = 0;
      switch (fmt) {
        case AV_SAMPLE_FMT_FLTP:
          s = FloatToS16(reinterpret_cast<const float*>(frame->extended_data[c])[i]);
          break;
        case AV_SAMPLE_FMT_FLT:
          s = FloatToS16(reinterpret_cast<const float*>(frame->extended_data[0])[i * channels + c]);
          break;
        case AV_SAMPLE_FMT_S16P:
          s = reinterpret_cast<const int16_t*>(frame->extended_data[c])[i];
          break;
        case AV_SAMPLE_FMT_S16:
          s = reinterpret_cast<const int16_t*>(frame->extended_data[0])[i * channels + c];
          break;
        default:
          return;
      }
      WriteLe16(out + 2 * c, static_cast<uint16_t>(s));
    }
    h->cbDstLengthUsed += static_cast<uint32_t>(2 * channels);
  }
}

void Drain(AVCodecContext* ctx, AVFrame* frame, const TWaveFormatFields& target, TAcmStreamHeader* h) {
  while (avcodec_receive_frame(ctx, frame) == 0) {
    AppendFrame(frame, target, h);
    av_frame_unref(frame);
  }
}

}  // namespace

uint32_t acmMetrics(void*, uint32_t metric, uint32_t* value) {
  // ACM_METRIC_MAX_SIZE_FORMAT
  if (metric != 50 || !value) return AcmErrInvalidParam;
  *value = AcmMetricMaxSizeFormat;
  return AcmNoError;
}

uint32_t acmFormatSuggest(void*, const uint8_t* srcFormat, uint8_t* dstFormat, uint32_t dstSize, uint32_t flags) {
  if (!srcFormat || !dstFormat || dstSize < WaveFormatExSize) return AcmErrInvalidParam;
  if ((flags & ~AcmFormatSuggestWFormatTag) != 0) return AcmErrInvalidFlag;
  if ((flags & AcmFormatSuggestWFormatTag) && ReadLe16(dstFormat) != WaveFormatPcm) return AcmErrNotPossible;
  const TWaveFormatFields src = ReadFormat(srcFormat);
  if (!IsDecodableMp3(src)) return AcmErrNotPossible;
  std::memset(dstFormat, 0, WaveFormatExSize);
  const uint16_t blockAlign = static_cast<uint16_t>(src.Channels * 2);
  WriteLe16(dstFormat, WaveFormatPcm);
  WriteLe16(dstFormat + 2, src.Channels);
  WriteLe32(dstFormat + 4, src.SampleRate);
  WriteLe32(dstFormat + 8, src.SampleRate * blockAlign);
  WriteLe16(dstFormat + 12, blockAlign);
  WriteLe16(dstFormat + 14, 16);
  return AcmNoError;
}

uint32_t acmStreamOpen(HACMSTREAM* stream, void*, const uint8_t* srcFormat, const uint8_t* dstFormat, void*,
                       uintptr_t, uintptr_t, uint32_t flags) {
  if (!stream || !srcFormat || !dstFormat) return AcmErrInvalidParam;
  *stream = nullptr;
  if ((flags & ~AcmStreamOpenNonRealtime) != 0) return AcmErrInvalidFlag;
  const TWaveFormatFields src = ReadFormat(srcFormat);
  const TWaveFormatFields dst = ReadFormat(dstFormat);
  if (!IsDecodableMp3(src) || dst.Tag != WaveFormatPcm || dst.BitsPerSample != 16 ||
      dst.Channels != src.Channels || dst.SampleRate != src.SampleRate ||
      dst.BlockAlign != dst.Channels * 2)
    return AcmErrNotPossible;
  if (!avcodec_find_decoder(AV_CODEC_ID_MP3)) return AcmErrNotPossible;
  *stream = new (std::nothrow) TAcmStream{src, dst};
  return *stream ? AcmNoError : AcmErrNoMemory;
}

uint32_t acmStreamSize(HACMSTREAM stream, uint32_t srcLength, uint32_t* dstLength, uint32_t flags) {
  if (!stream) return AcmErrInvalidHandle;
  if (!dstLength) return AcmErrInvalidParam;
  if (flags != AcmStreamSizeSource) return AcmErrInvalidFlag;
  const uint32_t bytesPerSecond =
      std::max(stream->Source.AvgBytesPerSec, LowestMp3BytesPerSecond(stream->Source.SampleRate));
  // Frames the source can hold at its bit rate, plus two MPEG-1 frames for
  // the decoder's delay and rounding.
  const uint64_t frames =
      (static_cast<uint64_t>(srcLength) * stream->Source.SampleRate + bytesPerSecond - 1) / bytesPerSecond + 2 * 1152;
  const uint64_t bytes = frames * stream->Target.BlockAlign;
  if (bytes > MaxDestinationBytes) return AcmErrNotPossible;
  *dstLength = static_cast<uint32_t>(bytes);
  return AcmNoError;
}

uint32_t acmStreamPrepareHeader(HACMSTREAM stream, TAcmStreamHeader* header, uint32_t) {
  if (!stream) return AcmErrInvalidHandle;
  if (!header || header->cbStruct < sizeof(TAcmStreamHeader) || (!header->pbSrc && header->cbSrcLength) ||
      (!header->pbDst && header->cbDstLength))
    return AcmErrInvalidParam;
  header->fdwStatus |= StreamHeaderPrepared;
  return AcmNoError;
}

uint32_t acmStreamConvert(HACMSTREAM stream, TAcmStreamHeader* header, uint32_t flags) {
  if (!stream) return AcmErrInvalidHandle;
  if (!header) return AcmErrInvalidParam;
  if ((flags & ~AcmStreamConvertBlockAlign) != 0) return AcmErrInvalidFlag;
  if (!(header->fdwStatus & StreamHeaderPrepared)) return AcmErrUnprepared;
  header->cbSrcLengthUsed = 0;
  header->cbDstLengthUsed = 0;

  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
  if (!codec) return AcmErrNotPossible;
  std::unique_ptr<AVCodecParserContext, TParserDeleter> parser(av_parser_init(codec->id));
  std::unique_ptr<AVCodecContext, TCodecContextDeleter> ctx(avcodec_alloc_context3(codec));
  std::unique_ptr<AVPacket, TPacketDeleter> packet(av_packet_alloc());
  std::unique_ptr<AVFrame, TFrameDeleter> frame(av_frame_alloc());
  if (!parser || !ctx || !packet || !frame) return AcmErrNoMemory;
  if (avcodec_open2(ctx.get(), codec, nullptr) < 0) return AcmErrNotPossible;

  // The parser reads up to AV_INPUT_BUFFER_PADDING_SIZE bytes past its input.
  std::vector<uint8_t> input;
  try {
    input.assign(header->pbSrc, header->pbSrc + header->cbSrcLength);
    input.resize(input.size() + AV_INPUT_BUFFER_PADDING_SIZE, 0);
  } catch (const std::bad_alloc&) {
    return AcmErrNoMemory;
  }

  const uint8_t* data = input.data();
  size_t remaining = header->cbSrcLength;
  bool flushing = false;
  while (true) {
    uint8_t* out = nullptr;
    int outSize = 0;
    const int chunk = static_cast<int>(std::min<size_t>(remaining, 1 << 20));
    const int used = av_parser_parse2(parser.get(), ctx.get(), &out, &outSize, flushing ? nullptr : data,
                                      flushing ? 0 : chunk, AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
    if (used < 0) break;
    if (!flushing) {
      data += used;
      remaining -= static_cast<size_t>(used);
    }
    if (outSize > 0) {
      packet->data = out;
      packet->size = outSize;
      // A damaged frame is skipped, as a player would.
      if (avcodec_send_packet(ctx.get(), packet.get()) == 0) Drain(ctx.get(), frame.get(), stream->Target, header);
    }
    if (flushing) {
      if (outSize == 0) break;
    } else if (remaining == 0) {
      flushing = true;
    } else if (used == 0 && outSize == 0) {
      break;  // the parser made no progress: stop rather than spin
    }
  }
  avcodec_send_packet(ctx.get(), nullptr);
  Drain(ctx.get(), frame.get(), stream->Target, header);
  header->cbSrcLengthUsed = header->cbSrcLength;
  return AcmNoError;
}

uint32_t acmStreamUnprepareHeader(HACMSTREAM stream, TAcmStreamHeader* header, uint32_t) {
  if (!stream) return AcmErrInvalidHandle;
  if (!header) return AcmErrInvalidParam;
  if (!(header->fdwStatus & StreamHeaderPrepared)) return AcmErrUnprepared;
  header->fdwStatus &= ~StreamHeaderPrepared;
  return AcmNoError;
}

uint32_t acmStreamClose(HACMSTREAM stream, uint32_t) {
  if (!stream) return AcmErrInvalidHandle;
  delete stream;
  return AcmNoError;
}
