#include "codecs/wm_in.h"

#include <cmath>
#include <cstring>
#include <mutex>

#include "pipeline/au_exception.h"
#include "platform/text_codec.h"

int ChannelRequestOf(TChannelsNumber Value) {
  switch (Value) {
    case TChannelsNumber::cnMaxAvailable: return -1;
    case TChannelsNumber::cnMonoOrStereo: return 0;
    case TChannelsNumber::cn5dot1: return 6;
    case TChannelsNumber::cn7dot1: return 8;
  }
  return 0;
}

// ---- TAudioStream -----------------------------------------------------------

std::size_t TAudioStream::Read(uint8_t* Buffer, std::size_t Count) { return FStream.Read(Buffer, Count); }

int64_t TAudioStream::Seek(int64_t Offset, TOrigin Origin) {
  const TSeekOrigin origin = Origin == TOrigin::Begin     ? TSeekOrigin::soBeginning
                             : Origin == TOrigin::Current ? TSeekOrigin::soCurrent
                                                          : TSeekOrigin::soEnd;
  return FStream.Seek(Offset, origin);
}

int64_t TAudioStream::Size() { return FStream.Size(); }

// ---- TWMIn ------------------------------------------------------------------

TWMIn::TWMIn(TComponent* AOwner) : TAuTaggedFileIn(AOwner) {}

TWMIn::~TWMIn() { ReleaseSource(); }

void TWMIn::SelectOutputFormat(int Output, int ChannelRequest) {
  media::TMediaReader& reader = *Context.Reader;
  reader.SetDiscreteOutput(Output, FHighPrecision || OwnWidth);
  const auto take = [&](const media::TPcmFormat& f) {
    Context.FormatSelected = true;
    Context.OutputNumber = Output;
    Context.Channels = f.Channels;
    Context.SampleRate = f.SampleRate;
    Context.BitsPerSample = f.BitsPerSample;
    reader.SetOutputFormat(Output, f);
  };
  if (ChannelRequest != 0) {
    if (ChannelRequest > 2) reader.SetSpeakerConfig(Output, ChannelRequest);
    int channels = 0, rate = 0, bits = 0;
    for (const media::TPcmFormat& f : reader.Formats(Output)) {
      if (ChannelRequest == -1) {
        if (f.Channels >= channels && f.SampleRate >= rate && f.BitsPerSample >= bits) {
          channels = f.Channels;
          rate = f.SampleRate;
          bits = f.BitsPerSample;
          take(f);
        }
      } else if (f.Channels == ChannelRequest) {
        take(f);
      }
    }
    return;
  }
  const media::TPcmFormat own = reader.CurrentFormat(Output);
  const int ownBits = OwnWidth && !FHighPrecision ? reader.OwnBitsPerSample(Output) : 0;
  int bits = 0;
  for (const media::TPcmFormat& f : reader.Formats(Output)) {
    if (f.Channels != own.Channels || f.SampleRate != own.SampleRate) continue;
    if (ownBits != 0 ? f.BitsPerSample == ownBits : f.BitsPerSample >= bits) {
      bits = f.BitsPerSample;
      take(f);
    }
  }
}

bool TWMIn::OpenReader() {
  Context = TWMReaderContext{};
  Context.AudioStream = std::make_unique<TAudioStream>(*Stream);
  Context.Reader = std::make_unique<media::TMediaReader>();
  media::TMediaReader& reader = *Context.Reader;
  if (!reader.OpenStream(*Context.AudioStream)) {
    // A file behind a 30-byte prefix of another container.
    Stream->Seek(30, TSeekOrigin::soBeginning);
    if (!reader.OpenStream(*Context.AudioStream)) {
      Context = TWMReaderContext{};
      return false;
    }
  }
  const int request = ChannelRequestOf(FOutputChannels);
  for (int output = 0; output < reader.OutputCount(); ++output) {
    if (reader.OutputIsAudio(output)) SelectOutputFormat(output, request);
  }
  if (Context.FormatSelected) {
    Context.StreamNumber = reader.StreamNumber(Context.OutputNumber);
    if (!reader.SetReadStreamSamples(Context.StreamNumber, false)) Context.FormatSelected = false;
    Context.Duration = reader.Duration().value_or(0);
  }
  return true;
}

void TWMIn::ReadAttributes() {
  FId3v2Tags.Clear();
  const auto text = [this](const char* name) {
    std::string value = Context.Reader->Attribute(name).value_or("");
    // Up to the terminating zero.
    if (const auto zero = value.find('\0'); zero != std::string::npos) value.resize(zero);
    return value;
  };
  FId3v2Tags.SetArtist(platform::Utf8ToUtf16(text("Author")));
  FId3v2Tags.SetTitle(platform::Utf8ToUtf16(text("Title")));
  FId3v2Tags.SetAlbum(platform::Utf8ToUtf16(text("WM/AlbumTitle")));
  FId3v2Tags.SetGenre(platform::Utf8ToUtf16(text("WM/Genre")));
  // Track and Year are narrow texts of the container.
  FId3v2Tags.SetTrack(platform::Utf8ToCp1252(text("WM/Track")));
  FId3v2Tags.SetYear(platform::Utf8ToCp1252(text("WM/Year")));
  FId3v2Tags.SetComment(platform::Utf8ToUtf16(text("Copyright")));
}

bool TWMIn::OpenHeader() {
  // Nothing of the file read before stays when this one cannot be read.
  FId3v2Tags.Clear();
  FSampleRate = FChannels = FBitsPerSample = 0;
  FDurationHundredths = FFileTotalSamples = 0;
  if (!OpenReader()) return false;
  Valid = Context.FormatSelected;
  FDurationHundredths = static_cast<int64_t>(std::llround(static_cast<double>(Context.Duration) / 100000.0));
  FBitsPerSample = Context.BitsPerSample;
  FSampleRate = Context.SampleRate;
  FChannels = Context.Channels;
  FFileTotalSamples =
      static_cast<int64_t>(std::llround(static_cast<double>(FDurationHundredths) / 100.0 * FSampleRate));
  Size = FFileTotalSamples * FChannels * (FBitsPerSample / 8);
  Seekable = true;
  ReadAttributes();
  return true;
}

void TWMIn::CloseHeader() { Context = TWMReaderContext{}; }

void TWMIn::Reopen() {
  std::lock_guard lock(FileLock);
  if (OpenCount <= 0) return;
  CloseFile();
  OpenFile();
}

void TWMIn::SetHighPrecision(bool Value) {
  if (Busy || FOutputChannels != TChannelsNumber::cnMonoOrStereo) return;
  FHighPrecision = Value;
  Reopen();
}

void TWMIn::SetOutputChannels(TChannelsNumber Value) {
  if (Busy) return;
  if (Value != TChannelsNumber::cnMonoOrStereo) FHighPrecision = true;
  FOutputChannels = Value;
  Reopen();
}

uint32_t TWMIn::Bitrate() {
  OpenFile();
  std::lock_guard lock(FileLock);
  if (OpenCount <= 0 || !Context.Reader) return 0;
  return Context.Reader->Bitrate().value_or(0);
}

TId3v2Tags& TWMIn::Id3v2Tags() {
  OpenFile();
  return FId3v2Tags;
}

void TWMIn::InitInternal() {
  // The base refuses a run without a file name or a busy source itself.
  if (!Busy && (StreamAssigned || !FileName().empty())) {
    OpenFile();
    if (!Valid) throw EAuException(kMsgWmNoAudio);
  }
  TAuTaggedFileIn::InitInternal();
  // A range with an end is cut there; otherwise the run goes on to the end
  // of the data, whatever the estimated Size says.
  RangeBytes = EndSample != -1 ? Size.load() : -1;
}

void TWMIn::GetDataInternal(void*& Buffer, uint32_t& Bytes) {
  if (RangeBytes >= 0) {
    const int64_t left = RangeBytes - Position;
    if (left <= 0) {
      Buffer = nullptr;
      Bytes = 0;
      return;
    }
    if (left < Bytes) Bytes = static_cast<uint32_t>(left);
  }
  TAuTaggedFileIn::GetDataInternal(Buffer, Bytes);
}

void TWMIn::DecodeBlock() {
  if (!Context.Reader || !Context.FormatSelected || FrameSize == 0) return;
  const uint8_t* data = nullptr;
  std::size_t size = 0;
  if (!Context.Reader->GetNextSample(Context.StreamNumber, data, size)) return;
  if (size > Decoded.Capacity()) Decoded.Allocate(size);
  std::memcpy(Decoded.Data(), data, size);
  Decoded.Filled(size);
}

bool TWMIn::SeekInternal(int64_t& SampleNum) {
  if (!Busy || !Context.Reader || FSampleRate <= 0 || SampleNum < 0) return false;
  // The frame's time at the stream's rate, in hundredths: the same as its
  // share of the reported length for a WMA, and still right for an MP3,
  // whose reported length is a third of a second longer than its duration.
  const int64_t hundredths =
      static_cast<int64_t>(std::llround(static_cast<double>(SampleNum) * 100.0 / static_cast<double>(FSampleRate)));
  Decoded.Clear();
  return Context.Reader->SetRange(hundredths * 100000, 0);
}

// ---- TMP3In -----------------------------------------------------------------

bool TMP3In::OpenHeader() {
  if (!TWMIn::OpenHeader()) return false;
  // The container's length of an MP3 is often short of its decoded samples.
  const int third = FSampleRate / 3;
  FFileTotalSamples += third;
  Size += static_cast<int64_t>(FBitsPerSample / 8) * FChannels * third;
  return true;
}
