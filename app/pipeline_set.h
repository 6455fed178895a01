// The pipeline components the application owns: for every format of the
// catalog, one instance of its source and of its sink (named as the format
// names them, "WaveIn1", "WaveOut1", ...), a second source that only probes
// files for the list, the two converters of the WAV path, the CD ripping
// source "CDIn1" and the CD player "CDPlayer1" (both load the CD reading
// library only when first used).
// Each is reused for every row. Destroying the set destroys them, sinks
// first; destroying a sink stops it, so closing during a run leaves the
// partly written file on disk.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "cdaudio/cd_in.h"
#include "cdaudio/cd_player.h"
#include "codecs/format_catalog.h"
#include "pipeline/au_converter.h"
#include "pipeline/component.h"

class TPipelineSet {
 public:
  TPipelineSet();
  ~TPipelineSet();
  TPipelineSet(const TPipelineSet&) = delete;
  TPipelineSet& operator=(const TPipelineSet&) = delete;

  struct TFormatComponents {
    const TFormatDescriptor* Format = nullptr;
    // Null where this build has no such component.
    TAuFileIn* Source = nullptr;
    // Probes files for the list, so adding files while Source converts
    // never closes the file under the running conversion.
    TAuFileIn* Probe = nullptr;
    TAuFileOut* Sink = nullptr;
  };

  // Owns every component; destroying it destroys them, last created first
  // (sinks before the sources they read).
  std::unique_ptr<TComponent> Owner;
  // The WAV path: FastResampler1 reads the WAV source, AudioConverter1 reads
  // FastResampler1, and the WAV sink reads AudioConverter1.
  TFastResampler* FastResampler1 = nullptr;
  TAudioConverter* AudioConverter1 = nullptr;
  TCDIn* CDIn1 = nullptr;
  TCDPlayer* CDPlayer1 = nullptr;

  const std::vector<TFormatComponents>& Formats() const { return formats_; }
  TSinkChain Chain() const { return TSinkChain{FastResampler1, AudioConverter1}; }
  // A component by its name ("WaveOut1"), or nullptr.
  TComponent* Find(const std::string& name) const;

 private:
  std::vector<TFormatComponents> formats_;
};
