#include "codecs/mp3_encoder_config.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <memory>
#include <vector>

#include "codecs/lame_library.h"
#include "platform/byte_order.h"

void TBeConfig::Set(std::size_t Offset, int32_t Value) {
  platform::WriteLe32(Bytes.data() + Offset, static_cast<uint32_t>(Value));
}

int32_t TBeConfig::Get(std::size_t Offset) const {
  return static_cast<int32_t>(platform::ReadLe32(Bytes.data() + Offset));
}

namespace {

int32_t Field(const uint8_t* config, std::size_t offset) {
  return static_cast<int32_t>(platform::ReadLe32(config + offset));
}

// LAME reports to standard error unless told otherwise; the program's
// output is its own.
void Quiet(const char*, va_list) {}

struct TLameClose {
  const TLameLibrary* Lame;
  void operator()(lame_global_flags* gfp) const { Lame->close(gfp); }
};
using TLameHandle = std::unique_ptr<lame_global_flags, TLameClose>;

// dwReSampleRate 0: the input's rate, when MPEG audio has it. Left to LAME,
// it would also resample rates it can carry whenever the bit rate is low
// (44.1 kHz stereo at 96 kbit/s comes out at 32 kHz). Other rates are
// LAME's choice (0).
int KeptRate(int inputRate) {
  for (int r : {8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000}) {
    if (r == inputRate) return r;
  }
  return 0;
}

// The largest frame MPEG audio has (MPEG 2.5 at 8 kHz and 160 kbit/s, with
// room to spare): the VBR header frame is no longer.
constexpr std::size_t kMaxFrameBytes = 2880;

// The header frame of the stream this thread closed last. Every call of one
// encoder stream comes from the one worker thread of its sink, so this is
// the stream beWriteVBRHeader's file belongs to.
thread_local std::vector<uint8_t> tPendingVbrHeader;

}  // namespace

struct TBeStream {
  const TLameLibrary* Lame = nullptr;
  TLameHandle Encoder;
  int Channels = 0;
  int FrameSamples = 0;
  uint32_t OutputSize = 0;
  bool WriteVbrHeader = false;
  std::vector<uint8_t> VbrHeader;
};

BE_ERR beInitStream(const uint8_t* Config, uint32_t* Samples, uint32_t* BufferSize, HBE_STREAM* Stream) {
  if (Config == nullptr || Samples == nullptr || BufferSize == nullptr || Stream == nullptr)
    return kBeErrInvalidFormatParameters;
  *Stream = nullptr;
  tPendingVbrHeader.clear();
  if (Field(Config, be_config::dwConfig) != kBeConfigLame ||
      Field(Config, be_config::dwStructVersion) < kBeStructVersion ||
      Field(Config, be_config::dwStructSize) < static_cast<int32_t>(kBeConfigSize))
    return kBeErrInvalidFormat;
  const TLameLibrary* lame = LoadLameLibrary();
  if (lame == nullptr) return kBeErrNoMoreHandles;

  const int32_t mode = Field(Config, be_config::nMode);
  if (mode < kBeModeStereo || mode > kBeModeMono) return kBeErrInvalidFormatParameters;
  const int32_t rate = Field(Config, be_config::dwSampleRate);
  const int32_t outRate = Field(Config, be_config::dwReSampleRate);
  const int32_t bitrate = Field(Config, be_config::dwBitrate);
  const int32_t maxBitrate = Field(Config, be_config::dwMaxBitrate);
  const int32_t vbrQuality = Field(Config, be_config::nVBRQuality);
  const int32_t abrBitrate = Field(Config, be_config::dwVbrAbr_bps);
  if (rate <= 0 || outRate < 0 || bitrate < 0 || maxBitrate < 0 || abrBitrate < 0)
    return kBeErrInvalidFormatParameters;

  TLameHandle gfp(lame->init(), TLameClose{lame});
  if (!gfp) return kBeErrNoMoreHandles;
  lame->set_errorf(gfp.get(), Quiet);
  lame->set_debugf(gfp.get(), Quiet);
  lame->set_msgf(gfp.get(), Quiet);

  // The record carries no channel count: mono mode means one channel in,
  // every other mode two.
  const int channels = mode == kBeModeMono ? 1 : 2;
  lame->set_in_samplerate(gfp.get(), rate);
  lame->set_out_samplerate(gfp.get(), outRate != 0 ? outRate : KeptRate(rate));
  lame->set_num_channels(gfp.get(), channels);
  lame->set_mode(gfp.get(), static_cast<MPEG_mode>(mode));
  lame->set_extension(gfp.get(), Field(Config, be_config::bPrivate) != 0);
  lame->set_error_protection(gfp.get(), Field(Config, be_config::bCRC) != 0);
  lame->set_copyright(gfp.get(), Field(Config, be_config::bCopyright) != 0);
  lame->set_original(gfp.get(), Field(Config, be_config::bOriginal) != 0);
  const bool writeVbrHeader = Field(Config, be_config::bWriteVBRHeader) != 0;
  lame->set_bWriteVbrTag(gfp.get(), writeVbrHeader);
  lame->set_disable_reservoir(gfp.get(), Field(Config, be_config::bNoRes) != 0);
  lame->set_strict_ISO(gfp.get(), Field(Config, be_config::bStrictIso) != 0);

  if (Field(Config, be_config::bEnableVBR) != 0) {
    vbr_mode vbr = vbr_off;
    switch (Field(Config, be_config::nVbrMethod)) {
      case kBeVbrMethodNone: vbr = vbr_off; break;
      case kBeVbrMethodDefault: vbr = vbr_default; break;
      case kBeVbrMethodOld: vbr = vbr_rh; break;
      case kBeVbrMethodNew:
      case kBeVbrMethodMtrh: vbr = vbr_mtrh; break;
      case kBeVbrMethodAbr: vbr = vbr_abr; break;
      default: return kBeErrInvalidFormatParameters;
    }
    lame->set_VBR(gfp.get(), vbr);
    if (vbr == vbr_abr) {
      if (abrBitrate > 0) lame->set_VBR_mean_bitrate_kbps(gfp.get(), abrBitrate);
    } else if (vbr != vbr_off) {
      if (vbrQuality < 0 || vbrQuality > 9) return kBeErrInvalidFormatParameters;
      lame->set_VBR_q(gfp.get(), vbrQuality);
    }
    if (vbr == vbr_off) {
      if (bitrate > 0) lame->set_brate(gfp.get(), bitrate);
    } else {
      if (bitrate > 0) lame->set_VBR_min_bitrate_kbps(gfp.get(), bitrate);
      if (maxBitrate > 0) lame->set_VBR_max_bitrate_kbps(gfp.get(), maxBitrate);
    }
  } else {
    lame->set_VBR(gfp.get(), vbr_off);
    // 0 leaves LAME's own default rate.
    if (bitrate > 0) lame->set_brate(gfp.get(), bitrate);
  }
  if (lame->init_params(gfp.get()) < 0) return kBeErrInvalidFormatParameters;

  auto stream = std::make_unique<TBeStream>();
  stream->Lame = lame;
  stream->Channels = channels;
  stream->FrameSamples = lame->get_framesize(gfp.get());
  if (stream->FrameSamples <= 0) return kBeErrInvalidFormatParameters;
  // LAME's worst case for one call: 1.25 bytes per sample of a channel plus
  // 7200, which also holds everything a flush returns.
  stream->OutputSize = static_cast<uint32_t>(stream->FrameSamples + stream->FrameSamples / 4 + 7200);
  stream->WriteVbrHeader = writeVbrHeader;
  stream->Encoder = std::move(gfp);
  *Samples = static_cast<uint32_t>(stream->FrameSamples * channels);
  *BufferSize = stream->OutputSize;
  *Stream = stream.release();
  return kBeErrSuccessful;
}

namespace {

BE_ERR Produced(int result, uint32_t* OutputBytes) {
  if (result >= 0) {
    *OutputBytes = static_cast<uint32_t>(result);
    return kBeErrSuccessful;
  }
  // -1: the output buffer was too small; the rest are LAME's internal
  // failures.
  return result == -1 ? kBeErrBufferTooSmall : kBeErrEncoderFailed;
}

template <typename Sample, typename MonoFn, typename InterleavedFn>
BE_ERR Encode(HBE_STREAM Stream, uint32_t Samples, Sample* Pcm, uint8_t* Output, uint32_t* OutputBytes,
              MonoFn mono, InterleavedFn interleaved) {
  if (Stream == nullptr || !Stream->Encoder) return kBeErrInvalidHandle;
  if (OutputBytes == nullptr || Output == nullptr || (Pcm == nullptr && Samples > 0))
    return kBeErrInvalidFormatParameters;
  *OutputBytes = 0;
  const uint32_t frames = Samples / static_cast<uint32_t>(Stream->Channels);
  if (frames > static_cast<uint32_t>(Stream->FrameSamples)) return kBeErrBufferTooSmall;
  if (frames == 0) return kBeErrSuccessful;
  const int size = static_cast<int>(Stream->OutputSize);
  lame_global_flags* gfp = Stream->Encoder.get();
  // LAME's interleaved calls always step over two channels; one channel
  // goes in as a left channel alone.
  const int result = Stream->Channels == 1 ? mono(gfp, Pcm, static_cast<int>(frames), Output, size)
                                           : interleaved(gfp, Pcm, static_cast<int>(frames), Output, size);
  return Produced(result, OutputBytes);
}

}  // namespace

BE_ERR beEncodeChunk(HBE_STREAM Stream, uint32_t Samples, int16_t* Pcm, uint8_t* Output, uint32_t* OutputBytes) {
  if (Stream == nullptr) return kBeErrInvalidHandle;
  const TLameLibrary* lame = Stream->Lame;
  return Encode(
      Stream, Samples, Pcm, Output, OutputBytes,
      [lame](lame_global_flags* gfp, int16_t* pcm, int frames, uint8_t* out, int size) {
        return lame->encode_buffer(gfp, pcm, pcm, frames, out, size);
      },
      [lame](lame_global_flags* gfp, int16_t* pcm, int frames, uint8_t* out, int size) {
        return lame->encode_buffer_interleaved(gfp, pcm, frames, out, size);
      });
}

BE_ERR beEncodeChunkInt32(HBE_STREAM Stream, uint32_t Samples, const int32_t* Pcm, uint8_t* Output,
                          uint32_t* OutputBytes) {
  if (Stream == nullptr) return kBeErrInvalidHandle;
  const TLameLibrary* lame = Stream->Lame;
  return Encode(
      Stream, Samples, Pcm, Output, OutputBytes,
      [lame](lame_global_flags* gfp, const int32_t* pcm, int frames, uint8_t* out, int size) {
        return lame->encode_buffer_int(gfp, pcm, pcm, frames, out, size);
      },
      [lame](lame_global_flags* gfp, const int32_t* pcm, int frames, uint8_t* out, int size) {
        return lame->encode_buffer_interleaved_int(gfp, pcm, frames, out, size);
      });
}

BE_ERR beDeinitStream(HBE_STREAM Stream, uint8_t* Output, uint32_t* OutputBytes) {
  if (Stream == nullptr || !Stream->Encoder) return kBeErrInvalidHandle;
  if (Output == nullptr || OutputBytes == nullptr) return kBeErrInvalidFormatParameters;
  *OutputBytes = 0;
  lame_global_flags* gfp = Stream->Encoder.get();
  const BE_ERR result =
      Produced(Stream->Lame->encode_flush(gfp, Output, static_cast<int>(Stream->OutputSize)), OutputBytes);
  if (result != kBeErrSuccessful || !Stream->WriteVbrHeader) return result;
  // The header frame is complete only once the encoder has been flushed.
  Stream->VbrHeader.assign(kMaxFrameBytes, 0);
  std::size_t bytes = Stream->Lame->get_lametag_frame(gfp, Stream->VbrHeader.data(), Stream->VbrHeader.size());
  if (bytes > Stream->VbrHeader.size()) {
    Stream->VbrHeader.assign(bytes, 0);
    bytes = Stream->Lame->get_lametag_frame(gfp, Stream->VbrHeader.data(), Stream->VbrHeader.size());
  }
  Stream->VbrHeader.resize(bytes <= Stream->VbrHeader.size() ? bytes : 0);
  return kBeErrSuccessful;
}

BE_ERR beCloseStream(HBE_STREAM Stream) {
  if (Stream == nullptr) return kBeErrInvalidHandle;
  std::unique_ptr<TBeStream> owned(Stream);
  tPendingVbrHeader = std::move(owned->VbrHeader);
  return kBeErrSuccessful;
}

namespace {

class TFileDescriptor {
 public:
  explicit TFileDescriptor(int fd) : Fd(fd) {}
  ~TFileDescriptor() {
    if (Fd >= 0) ::close(Fd);
  }
  TFileDescriptor(const TFileDescriptor&) = delete;
  TFileDescriptor& operator=(const TFileDescriptor&) = delete;
  int Get() const { return Fd; }
  // The close's own result: a write-back error may surface only here.
  bool Close() {
    const int fd = Fd;
    Fd = -1;
    return ::close(fd) == 0;
  }

 private:
  int Fd;
};

bool ReadAt(int fd, uint8_t* buffer, std::size_t count, off_t offset) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t got = ::pread(fd, buffer + done, count - done, offset + static_cast<off_t>(done));
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    done += static_cast<std::size_t>(got);
  }
  return true;
}

bool WriteAt(int fd, const uint8_t* buffer, std::size_t count, off_t offset) {
  std::size_t done = 0;
  while (done < count) {
    const ssize_t put = ::pwrite(fd, buffer + done, count - done, offset + static_cast<off_t>(done));
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// Where the audio frames start: after an ID3v2 tag, when the file has one.
off_t FirstFrameOffset(int fd, off_t fileSize) {
  uint8_t h[10];
  if (fileSize < static_cast<off_t>(sizeof h) || !ReadAt(fd, h, sizeof h, 0)) return 0;
  if (h[0] != 'I' || h[1] != 'D' || h[2] != '3') return 0;
  if ((h[6] | h[7] | h[8] | h[9]) & 0x80) return 0;
  off_t size = (static_cast<off_t>(h[6]) << 21) | (h[7] << 14) | (h[8] << 7) | h[9];
  size += 10;
  if (h[5] & 0x10) size += 10;  // footer
  return size;
}

}  // namespace

BE_ERR beWriteVBRHeader(const char* FileName) {
  std::vector<uint8_t> header = std::move(tPendingVbrHeader);
  tPendingVbrHeader.clear();
  if (FileName == nullptr || header.empty()) return kBeErrInvalidHandle;
  TFileDescriptor file(::open(FileName, O_RDWR | O_CLOEXEC));
  if (file.Get() < 0) return kBeErrFile;
  const off_t size = ::lseek(file.Get(), 0, SEEK_END);
  if (size < 0) return kBeErrFile;
  const off_t at = FirstFrameOffset(file.Get(), size);
  // The encoder left a frame of the header's size at the start for it.
  uint8_t sync[2];
  if (at + static_cast<off_t>(header.size()) > size || !ReadAt(file.Get(), sync, sizeof sync, at) ||
      sync[0] != 0xFF || (sync[1] & 0xE0) != 0xE0)
    return kBeErrFile;
  if (!WriteAt(file.Get(), header.data(), header.size(), at)) return kBeErrFile;
  return file.Close() ? kBeErrSuccessful : kBeErrFile;
}
