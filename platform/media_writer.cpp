#include "platform/media_writer.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/media_http_server.h"
#include "platform/text_codec.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace media {

namespace {

// The rates, layouts, widths and bit rates offered as codec formats. wmav2
// encodes every rate from 8000 to 48000 Hz, one or two channels, from 24000
// bit/s up; the list holds the usual rates. Every PCM width is offered: the
// encoder takes float, so the width is only the input's.
constexpr std::array<int, 7> kRates = {8000, 11025, 16000, 22050, 32000, 44100, 48000};
constexpr std::array<int, 2> kChannels = {1, 2};
constexpr std::array<int, 4> kWidths = {8, 16, 24, 32};
constexpr std::array<uint32_t, 10> kBitrates = {32000,  48000,  64000,  80000,  96000,
                                                128000, 160000, 192000, 256000, 320000};
constexpr std::size_t kFormatsPerCodec = kRates.size() * kChannels.size() * kWidths.size() * kBitrates.size();
constexpr int kIoBufferSize = 65536;

}  // namespace

int TMediaCodecInfo::CodecCount() const { return 1; }

bool TMediaCodecInfo::SetVbrEnabled(int Codec, bool Value) {
  if (Codec != 0) return false;
  if (Value) return false;
  FVbrEnabled = false;
  return true;
}

std::optional<TMediaCodecFormat> TMediaCodecInfo::Format(int Codec, int Index) const {
  if (Codec != 0 || Index < 0 || static_cast<std::size_t>(Index) >= kFormatsPerCodec) return std::nullopt;
  std::size_t i = static_cast<std::size_t>(Index);
  TMediaCodecFormat f;
  f.Codec = Codec;
  f.Subtype = kWmaAudioV2Subtype;
  f.Bitrate = kBitrates[i % kBitrates.size()];
  i /= kBitrates.size();
  f.BitsPerSample = kWidths[i % kWidths.size()];
  i /= kWidths.size();
  f.Channels = kChannels[i % kChannels.size()];
  i /= kChannels.size();
  f.SampleRate = kRates[i];
  return f;
}

std::optional<int> TMediaCodecInfo::VbrQuality(int Codec, int Index) const { return std::nullopt; }

struct TMediaWriter::TState {
  std::filesystem::path Path;
  AVIOContext* FilePb = nullptr;
  std::unique_ptr<TMediaHttpServer> Server;
  TStatusCallback Callback;

  std::optional<TMediaCodecFormat> Profile;
  std::optional<TPcmFormat> Input;
  AVDictionary* Metadata = nullptr;

  AVFormatContext* Output = nullptr;
  AVIOContext* NetworkPb = nullptr;
  AVStream* Stream = nullptr;
  AVCodecContext* Encoder = nullptr;
  SwrContext* Resampler = nullptr;
  AVAudioFifo* Fifo = nullptr;
  AVFrame* Frame = nullptr;
  AVPacket* Packet = nullptr;
  int64_t NextPts = 0;
  bool Writing = false;
  // The network sink collects the header for clients that join later.
  bool CollectingHeader = false;
  std::vector<uint8_t> Header;
  std::vector<int32_t> Widened;
  std::vector<std::vector<float>> Planes;

  void Report(uint32_t status) {
    if (Callback) Callback(status);
  }

  static int WriteToNetwork(void* opaque, uint8_t* buf, int size) {
    auto* s = static_cast<TState*>(opaque);
    if (size <= 0) return 0;
    if (s->CollectingHeader) s->Header.insert(s->Header.end(), buf, buf + size);
    s->Server->Send(buf, static_cast<std::size_t>(size));
    return size;
  }

  void FreeEncoding() {
    av_packet_free(&Packet);
    av_frame_free(&Frame);
    if (Fifo) av_audio_fifo_free(Fifo);
    Fifo = nullptr;
    swr_free(&Resampler);
    avcodec_free_context(&Encoder);
    if (Output) {
      // The file's context belongs to FilePb, closed apart.
      Output->pb = nullptr;
      avformat_free_context(Output);
      Output = nullptr;
    }
    if (NetworkPb) {
      av_freep(&NetworkPb->buffer);
      avio_context_free(&NetworkPb);
    }
    Stream = nullptr;
    Writing = false;
  }

  uint32_t WritePackets() {
    while (true) {
      const int r = avcodec_receive_packet(Encoder, Packet);
      if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return kMediaOk;
      if (r < 0) return kMediaErrorFail;
      av_packet_rescale_ts(Packet, Encoder->time_base, Stream->time_base);
      Packet->stream_index = Stream->index;
      const int w = av_interleaved_write_frame(Output, Packet);
      av_packet_unref(Packet);
      if (w < 0 || (Output->pb && Output->pb->error < 0)) {
        Report(kMediaStatusError);
        return kMediaErrorFail;
      }
    }
  }

  // Encodes whole frames from the FIFO; with Final also the rest, padded
  // with silence to a whole frame when the codec takes only whole frames.
  uint32_t EncodeFifo(bool Final) {
    const int frameSize = Encoder->frame_size > 0 ? Encoder->frame_size : 2048;
    const bool smallLast = (Encoder->codec->capabilities & AV_CODEC_CAP_SMALL_LAST_FRAME) != 0;
    while (av_audio_fifo_size(Fifo) >= frameSize || (Final && av_audio_fifo_size(Fifo) > 0)) {
      const int available = std::min(av_audio_fifo_size(Fifo), frameSize);
      av_frame_unref(Frame);
      Frame->nb_samples = (available < frameSize && !smallLast) ? frameSize : available;
      Frame->format = Encoder->sample_fmt;
      Frame->sample_rate = Encoder->sample_rate;
      if (av_channel_layout_copy(&Frame->ch_layout, &Encoder->ch_layout) < 0) return kMediaErrorFail;
      if (av_frame_get_buffer(Frame, 0) < 0) return kMediaErrorFail;
      av_samples_set_silence(Frame->extended_data, 0, Frame->nb_samples, Encoder->ch_layout.nb_channels,
                             Encoder->sample_fmt);
      if (av_audio_fifo_read(Fifo, reinterpret_cast<void**>(Frame->extended_data), available) != available)
        return kMediaErrorFail;
      Frame->pts = NextPts;
      NextPts += Frame->nb_samples;
      if (avcodec_send_frame(Encoder, Frame) < 0) return kMediaErrorFail;
      if (const uint32_t r = WritePackets(); r != kMediaOk) return r;
    }
    return kMediaOk;
  }

  // Resamples Frames of input (nullptr: what the resampler still holds)
  // into the FIFO.
  uint32_t Resample(const uint8_t* in, int frames) {
    const int capacity = swr_get_out_samples(Resampler, frames);
    if (capacity < 0) return kMediaErrorFail;
    if (capacity == 0) return kMediaOk;
    const int channels = Encoder->ch_layout.nb_channels;
    Planes.resize(static_cast<std::size_t>(channels));
    std::vector<uint8_t*> out(static_cast<std::size_t>(channels));
    for (int c = 0; c < channels; ++c) {
      Planes[static_cast<std::size_t>(c)].resize(static_cast<std::size_t>(capacity));
      out[static_cast<std::size_t>(c)] = reinterpret_cast<uint8_t*>(Planes[static_cast<std::size_t>(c)].data());
    }
    const uint8_t* inPlanes[1] = {in};
    const int got = swr_convert(Resampler, out.data(), capacity, in ? inPlanes : nullptr, frames);
    if (got < 0) return kMediaErrorFail;
    if (got > 0 && av_audio_fifo_write(Fifo, reinterpret_cast<void**>(out.data()), got) != got) return kMediaErrorFail;
    return kMediaOk;
  }
};

TMediaWriter::TMediaWriter() : State(std::make_unique<TState>()) { SilenceRuntimeLog(); }

TMediaWriter::~TMediaWriter() {
  Close();
  av_dict_free(&State->Metadata);
}

bool TMediaWriter::OpenFile(const std::filesystem::path& Path) {
  TState& s = *State;
  if (s.FilePb || s.Server) return false;
  // "file:" keeps a name with a colon from being taken for a protocol.
  const std::string url = "file:" + Path.string();
  if (avio_open(&s.FilePb, url.c_str(), AVIO_FLAG_WRITE) < 0) {
    s.FilePb = nullptr;
    return false;
  }
  s.Path = Path;
  return true;
}

bool TMediaWriter::OpenNetwork(uint32_t& Port, uint32_t MaxClients) {
  TState& s = *State;
  if (s.FilePb || s.Server) return false;
  s.Server = std::make_unique<TMediaHttpServer>([&s](uint32_t status) { s.Report(status); });
  if (!s.Server->Open(Port, MaxClients)) {
    s.Server.reset();
    return false;
  }
  return true;
}

void TMediaWriter::SetStatusCallback(TStatusCallback Callback) { State->Callback = std::move(Callback); }

bool TMediaWriter::SetProfile(const TMediaCodecFormat& Format, int StreamNumber, const std::string& StreamName,
                              const std::string& ConnectionName) {
  if (Format.Subtype != kWmaAudioV2Subtype || StreamNumber < 1 || StreamNumber > 127 || StreamName.empty() ||
      ConnectionName.empty())
    return false;
  if (Format.Channels < 1 || Format.Channels > 2 || Format.SampleRate < 8000 || Format.SampleRate > 48000 ||
      Format.Bitrate < 24000)
    return false;
  State->Profile = Format;
  return true;
}

const std::optional<TMediaCodecFormat>& TMediaWriter::Profile() const { return State->Profile; }

int TMediaWriter::InputCount() const { return State->Profile ? 1 : 0; }

bool TMediaWriter::InputIsAudio(int Input) const { return Input == 0 && State->Profile.has_value(); }

bool TMediaWriter::SetInputProps(int Input, const TPcmFormat& Format) {
  if (!InputIsAudio(Input)) return false;
  const int b = Format.BitsPerSample;
  if (Format.Channels < 1 || Format.Channels > 8 || Format.SampleRate < 1 || Format.SampleRate > 768000 ||
      (b != 8 && b != 16 && b != 24 && b != 32))
    return false;
  State->Input = Format;
  return true;
}

bool TMediaWriter::SetAttribute(const std::string& Name, const char16_t* Text, std::size_t Bytes) {
  const TAsfAttributeName* known = FindAsfAttribute(Name);
  const std::string key = known ? known->WriteKey : Name;
  const std::string value = platform::Utf16ToUtf8(std::u16string_view(Text, Bytes / 2));
  return av_dict_set(&State->Metadata, key.c_str(), value.c_str(), 0) >= 0;
}

uint32_t TMediaWriter::BeginWriting() {
  TState& s = *State;
  if (s.Writing || !s.Profile || !s.Input || (!s.FilePb && !s.Server)) return kMediaErrorNotReady;
  const TMediaCodecFormat& p = *s.Profile;
  auto fail = [&s](uint32_t code) {
    s.FreeEncoding();
    return code;
  };
  if (avformat_alloc_output_context2(&s.Output, nullptr, "asf", nullptr) < 0 || !s.Output)
    return fail(kMediaErrorFail);
  const AVCodec* codec = avcodec_find_encoder(AV_CODEC_ID_WMAV2);
  if (!codec) return fail(kMediaErrorFail);
  s.Encoder = avcodec_alloc_context3(codec);
  s.Frame = av_frame_alloc();
  s.Packet = av_packet_alloc();
  if (!s.Encoder || !s.Frame || !s.Packet) return fail(kMediaErrorFail);
  s.Encoder->sample_fmt = AV_SAMPLE_FMT_FLTP;
  s.Encoder->sample_rate = p.SampleRate;
  av_channel_layout_default(&s.Encoder->ch_layout, p.Channels);
  s.Encoder->bit_rate = p.Bitrate;
  s.Encoder->time_base = AVRational{1, p.SampleRate};
  if (s.Output->oformat->flags & AVFMT_GLOBALHEADER) s.Encoder->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  if (avcodec_open2(s.Encoder, codec, nullptr) < 0) return fail(kMediaErrorFail);
  s.Stream = avformat_new_stream(s.Output, nullptr);
  if (!s.Stream || avcodec_parameters_from_context(s.Stream->codecpar, s.Encoder) < 0) return fail(kMediaErrorFail);
  s.Stream->time_base = s.Encoder->time_base;

  const TPcmFormat& in = *s.Input;
  AVChannelLayout inLayout{};
  av_channel_layout_default(&inLayout, in.Channels);
  const AVSampleFormat inFormat =
      in.BitsPerSample == 8 ? AV_SAMPLE_FMT_U8 : in.BitsPerSample == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
  const int r = swr_alloc_set_opts2(&s.Resampler, &s.Encoder->ch_layout, AV_SAMPLE_FMT_FLTP, p.SampleRate, &inLayout,
                                    inFormat, in.SampleRate, 0, nullptr);
  av_channel_layout_uninit(&inLayout);
  if (r < 0 || swr_init(s.Resampler) < 0) return fail(kMediaErrorFail);
  s.Fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, p.Channels, std::max(s.Encoder->frame_size, 1) * 2);
  if (!s.Fifo) return fail(kMediaErrorFail);

  av_dict_copy(&s.Output->metadata, s.Metadata, 0);
  if (s.FilePb) {
    s.Output->pb = s.FilePb;
  } else {
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) return fail(kMediaErrorFail);
    s.NetworkPb = avio_alloc_context(buffer, kIoBufferSize, 1, &s, nullptr, &TState::WriteToNetwork, nullptr);
    if (!s.NetworkPb) {
      av_free(buffer);
      return fail(kMediaErrorFail);
    }
    s.NetworkPb->seekable = 0;
    s.Output->pb = s.NetworkPb;
    s.Output->flags |= AVFMT_FLAG_CUSTOM_IO;
    s.CollectingHeader = true;
    s.Header.clear();
  }
  const int header = avformat_write_header(s.Output, nullptr);
  avio_flush(s.Output->pb);
  if (s.Server) {
    s.CollectingHeader = false;
    s.Server->SetHeader(s.Header);
  }
  if (header < 0 || s.Output->pb->error < 0) return fail(kMediaErrorFail);
  s.NextPts = 0;
  s.Writing = true;
  return kMediaOk;
}

uint32_t TMediaWriter::WriteSample(int Input, int64_t Time, const uint8_t* Data, std::size_t Bytes) {
  TState& s = *State;
  if (!s.Writing) return kMediaErrorNotReady;
  if (Input != 0 || (Bytes > 0 && !Data)) return kMediaErrorInvalidArgument;
  const TPcmFormat& in = *s.Input;
  const std::size_t frameBytes = static_cast<std::size_t>(in.Channels) * static_cast<std::size_t>(in.BitsPerSample / 8);
  const std::size_t frames = Bytes / frameBytes;
  if (frames == 0) return kMediaOk;
  if (frames > static_cast<std::size_t>(INT32_MAX / 8)) return kMediaErrorInvalidArgument;
  const uint8_t* pcm = Data;
  if (in.BitsPerSample == 24) {
    const std::size_t values = frames * static_cast<std::size_t>(in.Channels);
    s.Widened.resize(values);
    for (std::size_t i = 0; i < values; ++i) {
      const uint8_t* b = Data + 3 * i;
      s.Widened[i] = static_cast<int32_t>((static_cast<uint32_t>(b[0]) << 8) | (static_cast<uint32_t>(b[1]) << 16) |
                                          (static_cast<uint32_t>(b[2]) << 24));
    }
    pcm = reinterpret_cast<const uint8_t*>(s.Widened.data());
  }
  if (const uint32_t r = s.Resample(pcm, static_cast<int>(frames)); r != kMediaOk) return r;
  return s.EncodeFifo(false);
}

uint32_t TMediaWriter::EndWriting() {
  TState& s = *State;
  if (!s.Writing) return kMediaErrorNotReady;
  uint32_t result = s.Resample(nullptr, 0);
  if (result == kMediaOk) result = s.EncodeFifo(true);
  if (result == kMediaOk && avcodec_send_frame(s.Encoder, nullptr) >= 0) result = s.WritePackets();
  if (av_write_trailer(s.Output) < 0 && result == kMediaOk) result = kMediaErrorFail;
  avio_flush(s.Output->pb);
  if (s.Output->pb->error < 0 && result == kMediaOk) {
    s.Report(kMediaStatusError);
    result = kMediaErrorFail;
  }
  s.FreeEncoding();
  if (s.FilePb) {
    const int closed = avio_closep(&s.FilePb);
    if (closed < 0 && result == kMediaOk) {
      s.Report(kMediaStatusError);
      result = kMediaErrorFail;
    }
  }
  if (s.Server) s.Server->Close();
  return result;
}

void TMediaWriter::Close() {
  TState& s = *State;
  s.FreeEncoding();
  if (s.FilePb) avio_closep(&s.FilePb);
  if (s.Server) {
    s.Server->Close();
    s.Server.reset();
  }
  s.Profile.reset();
  s.Input.reset();
}

}  // namespace media
