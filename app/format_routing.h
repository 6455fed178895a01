// Which source serves each input extension and which sink each output type,
// with what each needs from the settings. Formats join by adding a route; the
// window and the command line both read this one table.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/file_list.h"
#include "app/settings.h"
#include "pipeline/au_input.h"
#include "pipeline/au_output.h"

class TPipelineSet;

struct TSourceRoute {
  std::string Ext;  // lower case, with its dot
  TAuFileIn* Source = nullptr;
  // For sources whose row shows the stream bit rate ("128 kbps"): that rate
  // in bit/s. Empty for sources whose row shows bits per sample ("16 bps").
  std::function<long long(TAuFileIn&)> StreamBitrate;
  // A second instance of the source's class that only probes files for the
  // list. Without one the source itself probes, which is refused while it
  // converts (closing its file would pull it from under the worker).
  TAuFileIn* Probe = nullptr;
};

struct TSinkRoute {
  int OutputType = 0;
  std::string Ext;
  TAuFileOut* Sink = nullptr;
  // What the sink reads for a source; empty means the source itself.
  std::function<TAuInput*(const TSourceRoute&)> InputFor;
  // Empties the sink's tag container and copies the source's tags into it.
  std::function<void(const TSourceRoute&)> CopyTags;
  // Sets the sink's file name and format parameters from the settings.
  std::function<void(const TSettings&, const std::string& outputPath)> Configure;
};

class TFormatRouting : public TSourceProber {
 public:
  // Routes every component the set holds.
  explicit TFormatRouting(TPipelineSet& components);

  void AddSource(TSourceRoute route);
  void AddSink(TSinkRoute route);

  const TSourceRoute* SourceFor(const std::string& ext) const;
  const TSinkRoute* SinkFor(int outputType) const;
  // ".wav", ".mp3", ".ogg", ".wma", ".ape" for 0..4; "" otherwise.
  static std::string OutputExtFor(int outputType);

  // Sets the source's file name, connects the sink to it and copies the tags.
  void Connect(const TSinkRoute& sink, const TSourceRoute& source, const std::string& path) const;

  std::optional<TProbeResult> Probe(const std::filesystem::path& path, const std::string& ext) override;

 private:
  std::vector<TSourceRoute> sources_;
  std::vector<TSinkRoute> sinks_;
};
