// Which source serves each input extension and which sink each output type,
// with what each needs from the settings, built from the format catalog over
// one pipeline set. The window and the command line both read this one table.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/file_list.h"
#include "app/settings.h"
#include "codecs/format_catalog.h"
#include "pipeline/au_input.h"
#include "pipeline/au_output.h"

class TPipelineSet;

struct TSourceRoute {
  std::string Ext;  // lower case, with its dot
  const TFormatDescriptor* Format = nullptr;
  TAuFileIn* Source = nullptr;
  // A second instance of the source's class that only probes files for the
  // list. Without one the source itself probes, which is refused while it
  // converts (closing its file would pull it from under the worker).
  TAuFileIn* Probe = nullptr;
};

struct TSinkRoute {
  int OutputType = 0;
  std::string Ext;
  const TFormatDescriptor* Format = nullptr;
  TAuFileOut* Sink = nullptr;
  TSinkChain Chain;
  // Empties the sink's tag container and copies the source's tags into it.
  std::function<void(const TSourceRoute&)> CopyTags;
};

class TFormatRouting : public TSourceProber {
 public:
  // Routes every component the set holds.
  explicit TFormatRouting(TPipelineSet& components);

  const TSourceRoute* SourceFor(const std::string& ext) const;
  const TSinkRoute* SinkFor(int outputType) const;
  const std::vector<TSinkRoute>& Sinks() const { return sinks_; }
  // The output extension of a type (".wav" for 0); "" for a type the
  // catalog does not know.
  static std::string OutputExtFor(int outputType);

  // Sets the source's file name, connects the sink to it and copies the tags.
  void Connect(const TSinkRoute& sink, const TSourceRoute& source, const std::string& path) const;
  // Sets the sink's file name and format parameters from the settings.
  void Configure(const TSinkRoute& sink, const TSettings& settings, const std::string& outputPath) const;

  std::optional<TProbeResult> Probe(const std::filesystem::path& path, const std::string& ext) override;

  // What the tag container of the file's source holds: the container's key
  // texts with their values as UTF-8, in the container's key order, empty
  // values left out. Empty for a format without tags or without a source.
  // Opened with the probing source; throws as Probe does.
  std::vector<std::pair<std::string, std::string>> ProbeTags(const std::filesystem::path& path,
                                                             const std::string& ext);

 private:
  std::vector<TSourceRoute> sources_;
  std::vector<TSinkRoute> sinks_;
};
