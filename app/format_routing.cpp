#include "app/format_routing.h"

#include "app/pipeline_set.h"
#include "app/tag_transfer.h"
#include "pipeline/au_exception.h"
#include "platform/text_codec.h"
#include "tags/au_tags.h"

TFormatRouting::TFormatRouting(TPipelineSet& components) {
  for (const TPipelineSet::TFormatComponents& c : components.Formats()) {
    if (c.Source != nullptr) {
      for (const std::string& ext : c.Format->InputExtensions) {
        sources_.push_back(TSourceRoute{ext, c.Format, c.Source, c.Probe});
      }
    }
    if (c.Sink != nullptr) {
      TSinkRoute sink;
      sink.OutputType = c.Format->OutputType;
      sink.Ext = c.Format->OutputExtension;
      sink.Format = c.Format;
      sink.Sink = c.Sink;
      sink.Chain = components.Chain();
      if (c.Format->SinkTags) {
        sink.CopyTags = [format = c.Format, out = c.Sink](const TSourceRoute& source) {
          TAuTags* tags = format->SinkTags(*out);
          if (tags == nullptr) return;
          // Reading the source's container opens its file, so what it holds
          // is there before the sink starts.
          const TAuTags* from = source.Format->SourceTags ? source.Format->SourceTags(*source.Source) : nullptr;
          TransferTags(TagTransferFor(*source.Format, *format), from, *tags);
        };
      }
      sinks_.push_back(std::move(sink));
    }
  }
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
  const TFormatDescriptor* format = format_catalog::ForOutputType(outputType);
  return format != nullptr ? format->OutputExtension : std::string();
}

void TFormatRouting::Connect(const TSinkRoute& sink, const TSourceRoute& source, const std::string& path) const {
  source.Source->SetFileName(path);
  const TFormatDescriptor& sinkFormat = *sink.Format;
  TAuInput* input = sinkFormat.SinkInput ? sinkFormat.SinkInput(*source.Format, *source.Source, sink.Chain)
                                         : source.Source;
  sink.Sink->SetInput(input);
  // A file never carries the tags the sink was given for an earlier row or
  // a grabbed track: the copy starts from an empty container.
  if (sink.CopyTags) sink.CopyTags(source);
}

void TFormatRouting::Configure(const TSinkRoute& sink, const TSettings& settings,
                               const std::string& outputPath) const {
  sink.Sink->SetFileName(outputPath);
  if (sink.Format->ConfigureSink) sink.Format->ConfigureSink(*sink.Sink, sink.Chain, settings);
}

namespace {

// The source that probes files for the list; refused while it converts.
TAuFileIn& ProbingSource(const TSourceRoute& route) {
  TAuFileIn& source = route.Probe != nullptr ? *route.Probe : *route.Source;
  if (source.Busy) throw EAuException(kMsgComponentIsBusy);
  return source;
}

// The probing source opened on a file for as long as it is queried: the
// list never keeps a file open, also when a query throws.
class TProbedFile {
 public:
  TProbedFile(TAuFileIn& source, const std::filesystem::path& path) : source_(source) {
    source_.SetFileName(path.string());
  }
  ~TProbedFile() {
    try {
      source_.SetFileName(std::string());
    } catch (...) {
    }
  }
  TProbedFile(const TProbedFile&) = delete;
  TProbedFile& operator=(const TProbedFile&) = delete;

 private:
  TAuFileIn& source_;
};

}  // namespace

std::optional<TProbeResult> TFormatRouting::Probe(const std::filesystem::path& path,
                                                  const std::string& ext) {
  const TSourceRoute* route = SourceFor(ext);
  if (route == nullptr) return std::nullopt;
  TAuFileIn& source = ProbingSource(*route);
  const TProbedFile open(source, path);
  TProbeResult result;
  result.Seconds = source.TotalTime();
  result.SampleRate = source.SampleRate();
  if (route->Format->StreamBitrate) {
    result.BitrateText = std::to_string(route->Format->StreamBitrate(source) / 1000) + " kbps";
  } else {
    result.BitrateText = std::to_string(source.BitsPerSample()) + " bps";
  }
  return result;
}

std::vector<std::pair<std::string, std::string>> TFormatRouting::ProbeTags(const std::filesystem::path& path,
                                                                           const std::string& ext) {
  std::vector<std::pair<std::string, std::string>> held;
  const TSourceRoute* route = SourceFor(ext);
  if (route == nullptr || !route->Format->SourceTags) return held;
  TAuFileIn& source = ProbingSource(*route);
  const TProbedFile open(source, path);
  if (const TAuTags* tags = route->Format->SourceTags(source)) {
    for (int i = 0; i < tags->Count(); ++i) {
      const std::string key = tags->KeyAt(i);
      const std::string value = platform::Utf16ToUtf8(tags->GetWideString(key));
      if (!value.empty()) held.emplace_back(key, value);
    }
  }
  return held;
}
