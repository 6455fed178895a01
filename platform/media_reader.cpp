#include "platform/media_reader.h"

#include <algorithm>
#include <climits>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace media {

const std::vector<TAsfAttributeName>& AsfAttributeNames() {
  // FFmpeg's generic keys on the left of each read list: its ASF demuxer and
  // its ID3v2 reader both report under them. "WM/Year" and "WM/Track" are
  // keys the ASF muxer does not know, so it writes them under their own name.
  static const std::vector<TAsfAttributeName> names = {
      {"Author", {"artist", "Author"}, "artist"},
      {"Title", {"title"}, "title"},
      {"WM/AlbumTitle", {"album", "WM/AlbumTitle"}, "album"},
      {"WM/Genre", {"genre", "WM/Genre"}, "genre"},
      {"WM/Track", {"track", "WM/Track", "WM/TrackNumber"}, "WM/Track"},
      {"WM/Year", {"date", "WM/Year", "year"}, "WM/Year"},
      {"Copyright", {"copyright"}, "copyright"},
  };
  return names;
}

const TAsfAttributeName* FindAsfAttribute(const std::string& AsfName) {
  for (const auto& name : AsfAttributeNames()) {
    if (AsfName == name.AsfName) return &name;
  }
  return nullptr;
}

void SilenceRuntimeLog() {
  static const bool silenced = [] {
    av_log_set_level(AV_LOG_QUIET);
    return true;
  }();
  (void)silenced;
}

namespace {

constexpr int kIoBufferSize = 32768;
// Formats a stream may claim and this reader still delivers.
constexpr int kMaxChannels = 8;
constexpr int kMaxSampleRate = 384000;
// Damaged packets in a row that are skipped before the data counts as ended.
constexpr int kMaxSkippedPackets = 1000;

struct TOutputSettings {
  bool Discrete = false;
  int SpeakerConfig = 0;
  std::optional<TPcmFormat> Chosen;
};

int ReadPacket(void* opaque, uint8_t* buf, int size) {
  auto* stream = static_cast<TMediaByteStream*>(opaque);
  if (size <= 0) return 0;
  const std::size_t got = stream->Read(buf, static_cast<std::size_t>(size));
  if (got == 0) return AVERROR_EOF;
  return static_cast<int>(got);
}

// Nested files (playlists, references) are never opened: the reader reads
// the one stream it was given.
int RefuseNestedOpen(AVFormatContext*, AVIOContext**, const char*, int, AVDictionary**) {
  return AVERROR(EPERM);
}

bool UsableRate(int rate) { return rate > 0 && rate <= kMaxSampleRate; }
bool UsableChannels(int channels) { return channels > 0 && channels <= kMaxChannels; }

}  // namespace

struct TMediaReader::TState {
  // The view of the byte stream the demuxer reads: positions are relative
  // to where the stream stood at OpenStream.
  TMediaByteStream* Stream = nullptr;
  int64_t Base = 0;

  AVIOContext* Io = nullptr;
  AVFormatContext* Format = nullptr;
  std::vector<TOutputSettings> Outputs;

  int Selected = -1;
  AVCodecContext* Decoder = nullptr;
  SwrContext* Resampler = nullptr;
  AVChannelLayout ResamplerInLayout{};
  int ResamplerInRate = 0;
  int ResamplerInFormat = -1;
  AVPacket* Packet = nullptr;
  AVFrame* Frame = nullptr;
  bool DemuxerDrained = false;
  bool DecoderDrained = false;
  bool ResamplerDrained = false;
  int SkippedPackets = 0;

  std::vector<uint8_t> Converted;
  std::vector<uint8_t> Packed;
  // Output-rate frames: where the next delivered frame lies in the file, and
  // where the range starts (frames before it are dropped).
  int64_t NextFrame = 0;
  int64_t RangeStartFrame = 0;
  std::optional<int64_t> PendingStart;
  bool ResyncFromTimestamp = false;

  static int64_t SeekPacket(void* opaque, int64_t offset, int whence) {
    auto* s = static_cast<TState*>(opaque);
    if (whence & AVSEEK_SIZE) {
      const int64_t size = s->Stream->Size();
      return size < 0 ? -1 : std::max<int64_t>(0, size - s->Base);
    }
    int64_t target = -1;
    switch (whence & ~AVSEEK_FORCE) {
      case SEEK_SET: target = s->Base + offset; break;
      case SEEK_CUR: {
        const int64_t pos = s->Stream->Seek(0, TMediaByteStream::TOrigin::Current);
        if (pos < 0) return -1;
        target = pos + offset;
        break;
      }
      case SEEK_END: {
        const int64_t size = s->Stream->Size();
        if (size < 0) return -1;
        target = size + offset;
        break;
      }
      default: return -1;
    }
    if (target < s->Base) return -1;
    const int64_t pos = s->Stream->Seek(target, TMediaByteStream::TOrigin::Begin);
    return pos < 0 ? -1 : pos - s->Base;
  }

  static int ReadPacketOf(void* opaque, uint8_t* buf, int size) {
    return ReadPacket(static_cast<TState*>(opaque)->Stream, buf, size);
  }

  AVStream* SelectedStream() const { return Format->streams[Selected]; }

  int Bytes() const { return Outputs[static_cast<std::size_t>(Selected)].Chosen->BitsPerSample / 8; }
  const TPcmFormat& Chosen() const { return *Outputs[static_cast<std::size_t>(Selected)].Chosen; }

  void CloseDecoding() {
    swr_free(&Resampler);
    av_channel_layout_uninit(&ResamplerInLayout);
    ResamplerInRate = 0;
    ResamplerInFormat = -1;
    avcodec_free_context(&Decoder);
    av_packet_free(&Packet);
    av_frame_free(&Frame);
  }

  void CloseAll() {
    CloseDecoding();
    if (Format) avformat_close_input(&Format);
    if (Io) {
      av_freep(&Io->buffer);
      avio_context_free(&Io);
    }
    Outputs.clear();
    Selected = -1;
    Converted.clear();
    Packed.clear();
  }

  bool OpenDecoder() {
    AVStream* st = SelectedStream();
    const AVCodec* codec = avcodec_find_decoder(st->codecpar->codec_id);
    if (!codec) return false;
    Decoder = avcodec_alloc_context3(codec);
    Packet = av_packet_alloc();
    Frame = av_frame_alloc();
    if (!Decoder || !Packet || !Frame) return false;
    if (avcodec_parameters_to_context(Decoder, st->codecpar) < 0) return false;
    Decoder->pkt_timebase = st->time_base;
    if (avcodec_open2(Decoder, codec, nullptr) < 0) return false;
    RestartDecoding();
    return true;
  }

  void RestartDecoding() {
    DemuxerDrained = DecoderDrained = ResamplerDrained = false;
    SkippedPackets = 0;
    if (Resampler) swr_close(Resampler);
    ResamplerInRate = 0;
  }

  // A resampler from the frame's layout, rate and sample format to the chosen
  // format; rebuilt whenever the stream changes any of them.
  bool PrepareResampler(const AVFrame* f) {
    AVChannelLayout in{};
    if (f->ch_layout.nb_channels <= 0) return false;
    if (f->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC)
      av_channel_layout_default(&in, f->ch_layout.nb_channels);
    else if (av_channel_layout_copy(&in, &f->ch_layout) < 0)
      return false;
    if (Resampler && ResamplerInRate == f->sample_rate && ResamplerInFormat == f->format &&
        av_channel_layout_compare(&in, &ResamplerInLayout) == 0 && swr_is_initialized(Resampler)) {
      av_channel_layout_uninit(&in);
      return true;
    }
    swr_free(&Resampler);
    AVChannelLayout out{};
    av_channel_layout_default(&out, Chosen().Channels);
    const AVSampleFormat outFormat = Chosen().BitsPerSample == 16 ? AV_SAMPLE_FMT_S16 : AV_SAMPLE_FMT_S32;
    const int result = swr_alloc_set_opts2(&Resampler, &out, outFormat, Chosen().SampleRate, &in,
                                           static_cast<AVSampleFormat>(f->format), f->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&out);
    if (result < 0 || swr_init(Resampler) < 0) {
      av_channel_layout_uninit(&in);
      swr_free(&Resampler);
      return false;
    }
    av_channel_layout_uninit(&ResamplerInLayout);
    ResamplerInLayout = in;
    ResamplerInRate = f->sample_rate;
    ResamplerInFormat = f->format;
    return true;
  }

  // Converts the frame (nullptr: what the resampler still holds) into
  // Converted; returns the output frames.
  int Convert(const AVFrame* f) {
    if (!Resampler) return 0;
    const int inFrames = f ? f->nb_samples : 0;
    const int capacity = swr_get_out_samples(Resampler, inFrames);
    if (capacity <= 0) return 0;
    const int channels = Chosen().Channels;
    const int width = Chosen().BitsPerSample == 16 ? 2 : 4;
    Converted.resize(static_cast<std::size_t>(capacity) * static_cast<std::size_t>(channels * width));
    uint8_t* out[1] = {Converted.data()};
    const int got = swr_convert(Resampler, out, capacity, f ? const_cast<const uint8_t**>(f->extended_data) : nullptr,
                                inFrames);
    return std::max(got, 0);
  }

  // Frames' position in the file at the chosen rate, from a frame time stamp.
  std::optional<int64_t> FramePosition(const AVFrame* f) const {
    const int64_t ts = f->best_effort_timestamp;
    if (ts == AV_NOPTS_VALUE) return std::nullopt;
    const AVStream* st = SelectedStream();
    const int64_t start = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    return av_rescale_q(ts - start, st->time_base, AVRational{1, Chosen().SampleRate});
  }

  // Decodes until a frame is in Frame; false at the end or on failure.
  bool DecodeFrame() {
    while (true) {
      if (DecoderDrained) return false;
      const int r = avcodec_receive_frame(Decoder, Frame);
      if (r == 0) return true;
      if (r == AVERROR_EOF) {
        DecoderDrained = true;
        return false;
      }
      if (r != AVERROR(EAGAIN)) {
        // A frame the decoder could not rebuild: go on with the next packet.
        if (++SkippedPackets > kMaxSkippedPackets) return false;
      }
      if (DemuxerDrained) {
        if (avcodec_send_packet(Decoder, nullptr) < 0) {
          DecoderDrained = true;
          return false;
        }
        continue;
      }
      const int read = av_read_frame(Format, Packet);
      if (read < 0) {
        DemuxerDrained = true;
        continue;
      }
      if (Packet->stream_index != Selected) {
        av_packet_unref(Packet);
        continue;
      }
      const int sent = avcodec_send_packet(Decoder, Packet);
      av_packet_unref(Packet);
      if (sent == AVERROR_INVALIDDATA) {
        if (++SkippedPackets > kMaxSkippedPackets) return false;
      } else if (sent < 0 && sent != AVERROR(EAGAIN)) {
        return false;
      } else {
        SkippedPackets = 0;
      }
    }
  }

  // Opens the container again from its first byte, with the same output
  // chosen: the way back to the start of a file that cannot seek.
  bool Reopen() {
    const int output = Selected;
    std::vector<TOutputSettings> outputs = Outputs;
    TMediaByteStream* stream = Stream;
    CloseAll();
    if (stream->Seek(Base, TMediaByteStream::TOrigin::Begin) < 0 || !Open(*stream) ||
        Format->nb_streams != outputs.size())
      return false;
    Outputs = outputs;
    Selected = output;
    for (unsigned i = 0; i < Format->nb_streams; ++i)
      Format->streams[i]->discard = static_cast<int>(i) == output ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
    return OpenDecoder();
  }

  bool Open(TMediaByteStream& stream) {
    Stream = &stream;
    Base = std::max<int64_t>(0, stream.Seek(0, TMediaByteStream::TOrigin::Current));
    auto* buffer = static_cast<uint8_t*>(av_malloc(kIoBufferSize));
    if (!buffer) return false;
    Io = avio_alloc_context(buffer, kIoBufferSize, 0, this, &TState::ReadPacketOf, nullptr, &TState::SeekPacket);
    if (!Io) {
      av_free(buffer);
      return false;
    }
    Format = avformat_alloc_context();
    if (!Format) {
      CloseAll();
      return false;
    }
    Format->pb = Io;
    Format->flags |= AVFMT_FLAG_CUSTOM_IO;
    Format->io_open = RefuseNestedOpen;
    if (avformat_open_input(&Format, nullptr, nullptr, nullptr) < 0) {
      // avformat_open_input frees the context on failure.
      Format = nullptr;
      CloseAll();
      return false;
    }
    if (avformat_find_stream_info(Format, nullptr) < 0) {
      CloseAll();
      return false;
    }
    Outputs.assign(Format->nb_streams, TOutputSettings{});
    return true;
  }

  void ApplyPendingRange() {
    if (!PendingStart) return;
    const int64_t start = *PendingStart;
    PendingStart.reset();
    AVStream* st = SelectedStream();
    const int64_t stStart = st->start_time == AV_NOPTS_VALUE ? 0 : st->start_time;
    const int64_t target =
        stStart + av_rescale_q(start, AVRational{1, static_cast<int>(kMediaTimeUnitsPerSecond)}, st->time_base);
    // The way the ffmpeg command seeks first (it also finds its way in a
    // file without an index); then the stream's own seek; else the file is
    // read again from its start and the frames before the range dropped.
    const int64_t global = av_rescale(start, AV_TIME_BASE, kMediaTimeUnitsPerSecond) +
                           (Format->start_time == AV_NOPTS_VALUE ? 0 : Format->start_time);
    // ASF packet times are whole milliseconds of the packet, not of the
    // frames in it (a seek lands up to a hundred milliseconds off): there the
    // frames are counted from the start.
    const bool exactTimes = std::strcmp(Format->iformat->name, "asf") != 0;
    if (!exactTimes || (avformat_seek_file(Format, -1, INT64_MIN, global, global, 0) < 0 &&
                        av_seek_frame(Format, Selected, target, AVSEEK_FLAG_BACKWARD) < 0)) {
      if (!Reopen()) {
        DemuxerDrained = DecoderDrained = ResamplerDrained = true;
        return;
      }
      ResyncFromTimestamp = false;
    } else {
      avcodec_flush_buffers(Decoder);
      ResyncFromTimestamp = true;
    }
    RestartDecoding();
    RangeStartFrame = av_rescale(start, Chosen().SampleRate, kMediaTimeUnitsPerSecond);
    NextFrame = 0;
  }

  // 24 bits: the upper three bytes of each 32-bit value.
  const uint8_t* Pack(const uint8_t* data, std::size_t values) {
    if (Chosen().BitsPerSample != 24) return data;
    Packed.resize(values * 3);
    for (std::size_t i = 0; i < values; ++i) std::memcpy(Packed.data() + 3 * i, data + 4 * i + 1, 3);
    return Packed.data();
  }
};

TMediaReader::TMediaReader() : State(std::make_unique<TState>()) { SilenceRuntimeLog(); }

TMediaReader::~TMediaReader() { Close(); }

bool TMediaReader::IsOpen() const { return State->Format != nullptr; }

void TMediaReader::Close() { State->CloseAll(); }

bool TMediaReader::OpenStream(TMediaByteStream& Stream) {
  Close();
  return State->Open(Stream);
}

int TMediaReader::OutputCount() const { return State->Format ? static_cast<int>(State->Format->nb_streams) : 0; }

bool TMediaReader::OutputIsAudio(int Output) const {
  if (Output < 0 || Output >= OutputCount()) return false;
  const AVCodecParameters* par = State->Format->streams[Output]->codecpar;
  return par->codec_type == AVMEDIA_TYPE_AUDIO && avcodec_find_decoder(par->codec_id) != nullptr;
}

void TMediaReader::SetDiscreteOutput(int Output, bool Value) {
  if (Output >= 0 && Output < OutputCount()) State->Outputs[static_cast<std::size_t>(Output)].Discrete = Value;
}

void TMediaReader::SetSpeakerConfig(int Output, int Channels) {
  if (Output >= 0 && Output < OutputCount())
    State->Outputs[static_cast<std::size_t>(Output)].SpeakerConfig = UsableChannels(Channels) ? Channels : 0;
}

TPcmFormat TMediaReader::CurrentFormat(int Output) const {
  if (!OutputIsAudio(Output)) return {};
  const AVCodecParameters* par = State->Format->streams[Output]->codecpar;
  return {par->ch_layout.nb_channels, par->sample_rate, 16};
}

int TMediaReader::OwnBitsPerSample(int Output) const {
  if (!OutputIsAudio(Output)) return 16;
  const AVCodecParameters* par = State->Format->streams[Output]->codecpar;
  int bits = par->bits_per_raw_sample;
  if (bits <= 0) {
    const AVCodecDescriptor* codec = avcodec_descriptor_get(par->codec_id);
    const bool lossless = codec != nullptr && (codec->props & AV_CODEC_PROP_LOSSLESS) != 0;
    if (lossless) bits = par->bits_per_coded_sample;
    if (bits <= 0) {
      const auto format = static_cast<AVSampleFormat>(par->format);
      const bool wide = format == AV_SAMPLE_FMT_S32 || format == AV_SAMPLE_FMT_S32P;
      bits = lossless && wide ? 32 : 16;
    }
  }
  return bits <= 16 ? 16 : bits <= 24 ? 24 : 32;
}

std::vector<TPcmFormat> TMediaReader::Formats(int Output) const {
  std::vector<TPcmFormat> formats;
  const TPcmFormat own = CurrentFormat(Output);
  if (!UsableChannels(own.Channels) || !UsableRate(own.SampleRate)) return formats;
  const TOutputSettings& settings = State->Outputs[static_cast<std::size_t>(Output)];
  std::vector<int> widths = {16};
  if (settings.Discrete) widths = {16, 24, 32};
  std::vector<int> layouts = {own.Channels};
  if (settings.SpeakerConfig != 0 && settings.SpeakerConfig != own.Channels) layouts.push_back(settings.SpeakerConfig);
  for (int channels : layouts)
    for (int bits : widths) formats.push_back({channels, own.SampleRate, bits});
  return formats;
}

bool TMediaReader::SetOutputFormat(int Output, const TPcmFormat& Format) {
  const auto formats = Formats(Output);
  if (std::find(formats.begin(), formats.end(), Format) == formats.end()) return false;
  State->Outputs[static_cast<std::size_t>(Output)].Chosen = Format;
  return true;
}

int TMediaReader::StreamNumber(int Output) const { return Output + 1; }

bool TMediaReader::SetReadStreamSamples(int StreamNumber, bool Compressed) {
  TState& s = *State;
  const int output = StreamNumber - 1;
  if (Compressed || !OutputIsAudio(output) || !s.Outputs[static_cast<std::size_t>(output)].Chosen) return false;
  s.CloseDecoding();
  s.Selected = output;
  // Every other stream's packets are dropped by the demuxer itself.
  for (unsigned i = 0; i < s.Format->nb_streams; ++i)
    s.Format->streams[i]->discard = static_cast<int>(i) == output ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  if (!s.OpenDecoder()) {
    s.CloseDecoding();
    s.Selected = -1;
    return false;
  }
  s.NextFrame = 0;
  s.RangeStartFrame = 0;
  s.PendingStart.reset();
  s.ResyncFromTimestamp = false;
  return true;
}

std::optional<int64_t> TMediaReader::Duration() const {
  const AVFormatContext* f = State->Format;
  if (!f) return std::nullopt;
  if (f->duration != AV_NOPTS_VALUE && f->duration > 0)
    return av_rescale(f->duration, kMediaTimeUnitsPerSecond, AV_TIME_BASE);
  for (unsigned i = 0; i < f->nb_streams; ++i) {
    const AVStream* st = f->streams[i];
    if (st->codecpar->codec_type == AVMEDIA_TYPE_AUDIO && st->duration != AV_NOPTS_VALUE && st->duration > 0)
      return av_rescale_q(st->duration, st->time_base, AVRational{1, static_cast<int>(kMediaTimeUnitsPerSecond)});
  }
  return std::nullopt;
}

std::optional<std::string> TMediaReader::Attribute(const std::string& Name) const {
  const AVFormatContext* f = State->Format;
  if (!f) return std::nullopt;
  std::vector<const char*> keys = {Name.c_str()};
  if (const TAsfAttributeName* known = FindAsfAttribute(Name)) keys = known->ReadKeys;
  std::vector<const AVDictionary*> dictionaries = {f->metadata};
  for (unsigned i = 0; i < f->nb_streams; ++i)
    if (f->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) dictionaries.push_back(f->streams[i]->metadata);
  for (const AVDictionary* dict : dictionaries) {
    for (const char* key : keys) {
      if (const AVDictionaryEntry* e = av_dict_get(dict, key, nullptr, 0)) return std::string(e->value);
    }
  }
  return std::nullopt;
}

std::optional<uint32_t> TMediaReader::Bitrate() const {
  const AVFormatContext* f = State->Format;
  if (!f) return std::nullopt;
  int64_t rate = 0;
  for (unsigned i = 0; i < f->nb_streams && rate <= 0; ++i) {
    const AVCodecParameters* par = f->streams[i]->codecpar;
    if (par->codec_type == AVMEDIA_TYPE_AUDIO) rate = par->bit_rate;
  }
  if (rate <= 0) rate = f->bit_rate;
  if (rate <= 0) return std::nullopt;
  return static_cast<uint32_t>(std::min<int64_t>(rate, UINT32_MAX));
}

bool TMediaReader::SetRange(int64_t Start, int64_t Duration) {
  if (State->Selected < 0 || Start < 0) return false;
  State->PendingStart = Start;
  return true;
}

bool TMediaReader::GetNextSample(int StreamNumber, const uint8_t*& Data, std::size_t& Size) {
  TState& s = *State;
  Data = nullptr;
  Size = 0;
  if (s.Selected < 0 || StreamNumber - 1 != s.Selected) return false;
  s.ApplyPendingRange();
  const std::size_t frameBytes =
      static_cast<std::size_t>(s.Chosen().Channels) * static_cast<std::size_t>(s.Chosen().BitsPerSample == 16 ? 2 : 4);
  while (true) {
    int frames = 0;
    if (s.DecodeFrame()) {
      if (s.ResyncFromTimestamp) {
        if (auto pos = s.FramePosition(s.Frame)) s.NextFrame = *pos;
        s.ResyncFromTimestamp = false;
      }
      const bool ok = s.PrepareResampler(s.Frame);
      frames = ok ? s.Convert(s.Frame) : 0;
      av_frame_unref(s.Frame);
      if (!ok) return false;
    } else if (!s.ResamplerDrained) {
      s.ResamplerDrained = true;
      frames = s.Convert(nullptr);
      if (frames == 0) return false;
    } else {
      return false;
    }
    if (frames == 0) continue;
    int64_t first = 0;
    if (s.NextFrame < s.RangeStartFrame) first = std::min<int64_t>(frames, s.RangeStartFrame - s.NextFrame);
    s.NextFrame += frames;
    if (first >= frames) continue;
    const uint8_t* start = s.Converted.data() + static_cast<std::size_t>(first) * frameBytes;
    const std::size_t values = static_cast<std::size_t>(frames - first) * static_cast<std::size_t>(s.Chosen().Channels);
    Data = s.Pack(start, values);
    Size = values * static_cast<std::size_t>(s.Bytes());
    return true;
  }
}

}  // namespace media
