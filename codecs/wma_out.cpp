#include "codecs/wma_out.h"

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "pipeline/au_exception.h"
#include "pipeline/event_handler.h"

namespace {

int64_t Distance(int64_t a, int64_t b) { return a > b ? a - b : b - a; }

}  // namespace

std::optional<media::TMediaCodecFormat> ChooseCodecFormat(media::TMediaCodecInfo& Info,
                                                          const TCodecFormatRequest& Request) {
  const int64_t target = Request.Target;
  std::optional<media::TMediaCodecFormat> candidate;
  int64_t bestBitrate = 0;
  int64_t bestRate = 0;
  int64_t bestQuality = 0;
  bool match = false;
  for (int codec = 0; codec < Info.CodecCount(); ++codec) {
    if ((Request.Lossless || Request.VBR) && !Info.SetVbrEnabled(codec, true)) continue;
    for (int index = 0;; ++index) {
      const auto format = Info.Format(codec, index);
      if (!format) break;
      int64_t bitrate = 0;
      if (Request.Lossless) {
        match = format->Subtype == media::kWmaLosslessSubtype;
      } else if (Request.VBR) {
        if (const auto quality = Info.VbrQuality(codec, index)) {
          if (Distance(target, *quality) < Distance(target, bestQuality)) {
            bestQuality = *quality;
            match = true;
          }
        }
      } else {
        bitrate = format->Bitrate;
        match = Distance(bitrate, target) < Distance(bestBitrate, target);
      }
      const bool fits = format->Channels == Request.Channels && format->BitsPerSample == Request.BitsPerSample;
      const int64_t rateDistance = Distance(format->SampleRate, Request.SampleRate);
      const int64_t bestRateDistance = Distance(bestRate, Request.SampleRate);
      if (match && (Request.Lossless || Request.VBR) && !candidate) candidate = format;
      // A format at a nearer sample rate is taken even at a bit rate no
      // closer than the candidate's: in a list that offers every bit rate at
      // every rate, the bit rate alone would settle on the first rate listed
      // and write the file at another rate than its input's.
      const bool bitrateMode = !Request.Lossless && !Request.VBR;
      if (fits && ((match && rateDistance <= bestRateDistance) || (bitrateMode && rateDistance < bestRateDistance))) {
        candidate = format;
        bestBitrate = bitrate;
        bestRate = format->SampleRate;
      }
    }
  }
  return candidate;
}

// ---- TWMAOut ----------------------------------------------------------------

TWMAOut::TWMAOut(TComponent* AOwner) : TAuTaggedFileOut(AOwner) {}

TWMAOut::~TWMAOut() {
  DestroyWorker();
  if (Context.Writer) Context.Writer->Close();
}

bool TWMAOut::OpenSink(media::TMediaWriter& Writer) { return Writer.OpenFile(TargetFileName()); }

void TWMAOut::OnStatus(uint32_t Status) {
  if (Status != media::kMediaStatusError) return;
  // Called while a block is written, on the worker: the failure ends the
  // run, and the event goes to the main thread like every other.
  ReportFailure(kMsgWmaOutputError);
  if (OnOutputError) {
    TOutputErrorEvent handler = OnOutputError;
    TEventHandler::Instance()->PostSenderEvent(this, [handler, Status](TComponent* sender) { handler(sender, Status); });
  }
}

void TWMAOut::ChooseAndSetProfile() {
  TCodecFormatRequest request;
  request.Lossless = Lossless;
  request.VBR = VBR;
  request.Target = VBR ? VBRQuality : (DesiredBitrate < 1000 ? DesiredBitrate * 1000 : DesiredBitrate);
  request.Channels = FInput->Channels();
  request.BitsPerSample = FInput->BitsPerSample();
  request.SampleRate = FInput->SampleRate();
  media::TMediaCodecInfo info;
  FChosenFormat = ChooseCodecFormat(info, request);
  if (!FChosenFormat) throw EAuException(kMsgWmaFailedToInitCodec);
  if (!Context.Writer->SetProfile(*FChosenFormat, 1, "NAAudioStream", "NAAudioConnection"))
    throw EAuException(kMsgWmaProfileRejected);
}

void TWMAOut::SetWriterInput() {
  media::TMediaWriter& writer = *Context.Writer;
  for (int input = 0; input < writer.InputCount(); ++input) {
    if (!writer.InputIsAudio(input)) continue;
    const media::TPcmFormat format{FInput->Channels(), FInput->SampleRate(), FInput->BitsPerSample()};
    const uint32_t blockAlign = static_cast<uint32_t>(format.BitsPerSample * format.Channels / 8);
    Context.BytesPerSecond = static_cast<uint32_t>(format.SampleRate) * blockAlign;
    Context.InputNumber = input;
    if (!writer.SetInputProps(input, format)) throw EAuException(kMsgWmaProfileRejected);
    return;
  }
  throw EAuException(kMsgWmaProfileRejected);
}

void TWMAOut::SetAttributes() {
  const auto set = [this](const char* name, const std::u16string& text) {
    if (!text.empty()) Context.Writer->SetAttribute(name, text.data(), text.size() * 2);
  };
  const auto wide = [](const std::string& narrow) { return std::u16string(narrow.begin(), narrow.end()); };
  set("Author", FId3v2Tags.Artist());
  set("WM/AlbumTitle", FId3v2Tags.Album());
  set("WM/Genre", FId3v2Tags.Genre());
  set("WM/Year", wide(FId3v2Tags.Year()));
  set("WM/Track", wide(FId3v2Tags.Track()));
  set("Title", FId3v2Tags.Title());
  set("Copyright", FId3v2Tags.Comment());
}

void TWMAOut::Prepare() {
  if (!NetworkPath && FileName().empty()) throw EAuException(kMsgWmaFileNameNotAssigned);
  FInput->Init();
  Context = TWMWriterContext{};
  Context.Writer = std::make_unique<media::TMediaWriter>();
  Context.Writer->SetStatusCallback([this](uint32_t status) { OnStatus(status); });
  Context.Ready = OpenSink(*Context.Writer);
  if (!Context.Ready) throw EAuException(kMsgWmaCannotCreateFile);
  ChooseAndSetProfile();
  SetWriterInput();
  const int channels = FInput->Channels();
  const int bits = FInput->BitsPerSample();
  const int rate = FInput->SampleRate();
  BlockBuffer.assign(static_cast<std::size_t>(channels) * static_cast<std::size_t>(bits) *
                         static_cast<std::size_t>(rate) / 100,
                     0);
  FBlockSize = static_cast<uint32_t>(BlockBuffer.size());
  SetAttributes();
  if (Context.Writer->BeginWriting() != media::kMediaOk) throw EAuException(kMsgWmaBeginWritingFailed);
  Context.SampleTime = 0;
}

bool TWMAOut::EncodeStep() {
  const uint32_t bytes = ReadInput(BlockBuffer.data(), static_cast<uint32_t>(BlockBuffer.size()));
  if (bytes > 0) {
    Context.SampleTime += static_cast<int64_t>(
        std::llround(static_cast<double>(bytes) / static_cast<double>(Context.BytesPerSecond) / 1e-7));
    const uint32_t status =
        Context.Writer->WriteSample(Context.InputNumber, Context.SampleTime, BlockBuffer.data(), bytes);
    if (status != media::kMediaOk) {
      char code[9];
      std::snprintf(code, sizeof code, "%08X", status);
      throw EAuException(std::string(kMsgWmaWriteFailed) + code);
    }
  }
  return true;
}

void TWMAOut::Finish() {
  // A run that failed ends without finishing the file, which then goes.
  if (!Context.Writer || !Context.Ready || !ExceptionMessage.empty()) return;
  if (Context.Writer->EndWriting() != media::kMediaOk) throw EAuException(kMsgWmaOutputError);
}

void TWMAOut::AfterClose() {
  if (Context.Writer) Context.Writer->Close();
  Context = TWMWriterContext{};
  BlockBuffer = {};
}

// ---- TWMStreamedOut -----------------------------------------------------------

TWMStreamedOut::TWMStreamedOut(TComponent* AOwner) : TWMAOut(AOwner) { NetworkPath = true; }

TWMStreamedOut::~TWMStreamedOut() { DestroyWorker(); }

bool TWMStreamedOut::OpenSink(media::TMediaWriter& Writer) { return Writer.OpenNetwork(Port, MaxClients); }

void TWMStreamedOut::OnStatus(uint32_t Status) {
  const TStreamedAudioEvent* handler = Status == media::kMediaStatusClientConnected      ? &OnClientConnected
                                       : Status == media::kMediaStatusClientDisconnected ? &OnClientDisconnected
                                                                                         : nullptr;
  if (handler == nullptr) {
    TWMAOut::OnStatus(Status);
    return;
  }
  if (*handler) TEventHandler::Instance()->PostSenderEvent(this, *handler);
}
