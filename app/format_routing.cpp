#include "app/format_routing.h"

#include "app/pipeline_set.h"
#include "pipeline/au_exception.h"

TFormatRouting::TFormatRouting(TPipelineSet& components) {
  if (TAuFileIn* waveIn = components.WaveInBase()) {
    TSourceRoute wav;
    wav.Ext = ".wav";
    wav.Source = waveIn;
    wav.Probe = components.WaveProbeBase();
    AddSource(std::move(wav));
  }
  if (TAuFileOut* waveOut = components.WaveOutBase()) {
    TSinkRoute wav;
    wav.OutputType = 0;
    wav.Ext = ".wav";
    wav.Sink = waveOut;
    // A WAV source goes through the resampler and the channel and bit-depth
    // converter, so the WAV settings apply; other sources are written in their
    // own format.
    TAuInput* converted = components.ConverterBase();
    wav.InputFor = [converted](const TSourceRoute& source) -> TAuInput* {
      return source.Ext == ".wav" && converted != nullptr ? converted : source.Source;
    };
    TPipelineSet* set = &components;
    wav.Configure = [set](const TSettings& s, const std::string& outputPath) {
      set->ConfigureWavPath(s.wavCh, s.wavBps, s.wavSr, s.wavFormat, outputPath);
    };
    AddSink(std::move(wav));
  }
}

void TFormatRouting::AddSource(TSourceRoute route) {
  for (auto& r : sources_) {
    if (r.Ext == route.Ext) {
      r = std::move(route);
      return;
    }
  }
  sources_.push_back(std::move(route));
}

void TFormatRouting::AddSink(TSinkRoute route) {
  for (auto& r : sinks_) {
    if (r.OutputType == route.OutputType) {
      r = std::move(route);
      return;
    }
  }
  sinks_.push_back(std::move(route));
}

const TSourceRoute* TFormatRouting::SourceFor(const std::string& ext) const {
  for (const auto& r : sources_) {
    if (r.Ext == ext) return &r;
  }
  return nullptr;
}

const TSinkRoute* TFormatRouting::SinkFor(int outputType) const {
  for (const auto& r : sinks_) {
    if (r.OutputType == outputType) return &r;
  }
  return nullptr;
}

std::string TFormatRouting::OutputExtFor(int outputType) {
  static const char* const exts[] = {".wav", ".mp3", ".ogg", ".wma", ".ape"};
  return outputType >= 0 && outputType < 5 ? exts[outputType] : "";
}

void TFormatRouting::Connect(const TSinkRoute& sink, const TSourceRoute& source,
                             const std::string& path) const {
  source.Source->SetFileName(path);
  sink.Sink->SetInput(sink.InputFor ? sink.InputFor(source) : source.Source);
  if (sink.CopyTags) sink.CopyTags(source);
}

std::optional<TProbeResult> TFormatRouting::Probe(const std::filesystem::path& path,
                                                  const std::string& ext) {
  const TSourceRoute* route = SourceFor(ext);
  if (route == nullptr) return std::nullopt;
  TAuFileIn& source = route->Probe != nullptr ? *route->Probe : *route->Source;
  if (source.Busy) throw EAuException(kMsgComponentIsBusy);
  source.SetFileName(path.string());
  TProbeResult result;
  result.Seconds = source.TotalTime();
  result.SampleRate = source.SampleRate();
  if (route->StreamBitrate) {
    result.BitrateText = std::to_string(route->StreamBitrate(source) / 1000) + " kbps";
  } else {
    result.BitrateText = std::to_string(source.BitsPerSample()) + " bps";
  }
  // The format queries opened the file; the list does not keep it open.
  source.SetFileName(std::string());
  return result;
}
