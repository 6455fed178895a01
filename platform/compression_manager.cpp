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

// One conversion session. The decoder, its parser and the PCM the last
// destination had no room for live here, so that a conversion stopped by a
// full destination goes on where it stopped when it is called again.
struct TAcmStream {
  TWaveFormatFields Source;
  TWaveFormatFields Target;
  std::unique_ptr<AVCodecParserContext, TParserDeleter> Parser;
  std::unique_ptr<AVCodecContext, TCodecContextDeleter> Context;
  std::unique_ptr<AVPacket, TPacketDeleter> Packet;
  std::unique_ptr<AVFrame, TFrameDeleter> Frame;
  // Decoded, not yet delivered: at most one frame's PCM once a call returns.
  std::vector<uint8_t> Pending;
  size_t PendingStart = 0;
  // The end of the source was reached and the decoder has given its last frame.
  bool Drained = false;
};

namespace {

// Appends the PCM of one decoded frame to the session's pending PCM,
// interleaved 16-bit; frames whose layout differs from the negotiated one are
// dropped.
void AppendFrame(const AVFrame* frame, TAcmStream* stream) {
  const TWaveFormatFields& target = stream->Target;
  const int channels = frame->ch_layout.nb_channels;
  if (channels != target.Channels || static_cast<uint32_t>(frame->sample_rate) != target.SampleRate) return;
  const auto fmt = static_cast<AVSampleFormat>(frame->format);
  if (fmt != AV_SAMPLE_FMT_FLTP && fmt != AV_SAMPLE_FMT_FLT && fmt != AV_SAMPLE_FMT_S16P && fmt != AV_SAMPLE_FMT_S16)
    return;
  std::vector<uint8_t>& pending = stream->Pending;
  const size_t at = pending.size();
  pending.resize(at + static_cast<size_t>(frame->nb_samples) * 2 * channels);
  uint8_t* out = pending.data() + at;
  for (int i = 0; i < frame->nb_samples; ++i) {
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
        default:
          s = reinterpret_cast<const int16_t*>(frame->extended_data[0])[i * channels + c];
          break;
      }
      WriteLe16(out, static_cast<uint16_t>(s));
      out += 2;
    }
  }
}

void ReceiveFrames(TAcmStream* stream) {
  while (avcodec_receive_frame(stream->Context.get(), stream->Frame.get()) == 0) {
    AppendFrame(stream->Frame.get(), stream);
    av_frame_unref(stream->Frame.get());
  }
}

// Moves pending PCM into the destination, whole frames only; true when
// nothing is left pending.
bool DeliverPending(TAcmStream* stream, TAcmStreamHeader* h) {
  const uint32_t frameBytes = stream->Target.BlockAlign;
  const size_t pending = stream->Pending.size() - stream->PendingStart;
  const size_t room = h->cbDstLength - h->cbDstLengthUsed;
  const size_t n = std::min(pending, room - room % frameBytes);
  if (n != 0) {
    std::memcpy(h->pbDst + h->cbDstLengthUsed, stream->Pending.data() + stream->PendingStart, n);
    h->cbDstLengthUsed += static_cast<uint32_t>(n);
    stream->PendingStart += n;
  }
  if (stream->PendingStart < stream->Pending.size()) return false;
  stream->Pending.clear();
  stream->PendingStart = 0;
  return true;
}

void Decode(TAcmStream* stream, uint8_t* data, int size) {
  AVPacket* packet = stream->Packet.get();
  packet->data = data;
  packet->size = size;
  // A damaged frame is skipped, as a player would.
  if (avcodec_send_packet(stream->Context.get(), packet) == 0) ReceiveFrames(stream);
}

// Source bytes handed to the parser at a time, copied into a buffer with the
// zero padding the parser reads past its input.
constexpr size_t ParseChunk = 64 * 1024;

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
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_MP3);
  if (!codec) return AcmErrNotPossible;
  std::unique_ptr<TAcmStream> session(new (std::nothrow) TAcmStream);
  if (!session) return AcmErrNoMemory;
  session->Source = src;
  session->Target = dst;
  session->Parser.reset(av_parser_init(codec->id));
  session->Context.reset(avcodec_alloc_context3(codec));
  session->Packet.reset(av_packet_alloc());
  session->Frame.reset(av_frame_alloc());
  if (!session->Parser || !session->Context || !session->Packet || !session->Frame) return AcmErrNoMemory;
  if (avcodec_open2(session->Context.get(), codec, nullptr) < 0) return AcmErrNotPossible;
  *stream = session.release();
  return AcmNoError;
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
  if (bytes > AcmMaxConvertedBytes) return AcmErrNotPossible;
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
  if ((flags & ~(AcmStreamConvertBlockAlign | AcmStreamConvertEnd)) != 0)
    return AcmErrInvalidFlag;
  if (!(header->fdwStatus & StreamHeaderPrepared)) return AcmErrUnprepared;
  header->cbSrcLengthUsed = 0;
  header->cbDstLengthUsed = 0;

  std::vector<uint8_t> chunk;
  try {
    chunk.resize(ParseChunk + AV_INPUT_BUFFER_PADDING_SIZE, 0);
    // The chunk holds the source bytes from chunkStart on, chunkEnd - chunkStart of them.
    size_t chunkStart = 0;
    size_t chunkEnd = 0;
    size_t used = 0;
    while (DeliverPending(stream, header) && !stream->Drained) {
      uint8_t* out = nullptr;
      int outSize = 0;
      if (used < header->cbSrcLength) {
        if (used >= chunkEnd) {
          chunkStart = used;
          chunkEnd = used + std::min<size_t>(header->cbSrcLength - used, ParseChunk);
          std::memcpy(chunk.data(), header->pbSrc + chunkStart, chunkEnd - chunkStart);
          std::memset(chunk.data() + (chunkEnd - chunkStart), 0, AV_INPUT_BUFFER_PADDING_SIZE);
        }
        const int taken =
            av_parser_parse2(stream->Parser.get(), stream->Context.get(), &out, &outSize, chunk.data() + (used - chunkStart),
                             static_cast<int>(chunkEnd - used), AV_NOPTS_VALUE, AV_NOPTS_VALUE, 0);
        // A parser that takes nothing and gives nothing would never get
        // through the rest: it is given up, as unreadable data.
        if (taken < 0 || (taken == 0 && outSize == 0))
          used = header->cbSrcLength;
        else
          used = std::min<size_t>(used + static_cast<size_t>(taken), chunkEnd);
        if (outSize > 0) Decode(stream, out, outSize);
      } else if (flags & AcmStreamConvertEnd) {
        av_parser_parse2(stream->Parser.get(), stream->Context.get(), &out, &outSize, nullptr, 0, AV_NOPTS_VALUE,
                         AV_NOPTS_VALUE, 0);
        if (outSize > 0) {
          Decode(stream, out, outSize);
        } else {
          avcodec_send_packet(stream->Context.get(), nullptr);
          ReceiveFrames(stream);
          stream->Drained = true;
        }
      } else {
        break;  // more source is to come in the next call
      }
    }
    header->cbSrcLengthUsed = static_cast<uint32_t>(used);
  } catch (const std::bad_alloc&) {
    return AcmErrNoMemory;
  }
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
