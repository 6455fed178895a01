// The pipeline components the application owns: one instance of each source,
// converter and sink, reused for every row. Created with the owner (the
// window or the command line) and destroyed with it; destroying a sink stops
// it, so closing during a run leaves the partly written file on disk.
#pragma once

#include <memory>

#include "pipeline/au_converter.h"
#include "pipeline/au_input.h"
#include "pipeline/au_output.h"
#include "pipeline/component.h"

class TWaveIn;
class TWaveOut;
class TFastResampler;
class TAudioConverter;

class TPipelineSet {
 public:
  TPipelineSet();
  ~TPipelineSet();
  TPipelineSet(const TPipelineSet&) = delete;
  TPipelineSet& operator=(const TPipelineSet&) = delete;

  // Owns every component below; destroying it destroys them, last created
  // first (sinks before the sources they read).
  std::unique_ptr<TComponent> Owner;

  // The WAV path. Null in a build without the WAV components.
  TWaveIn* WaveIn1 = nullptr;
  TFastResampler* FastResampler1 = nullptr;
  TAudioConverter* AudioConverter1 = nullptr;
  TWaveOut* WaveOut1 = nullptr;
  // Probes files for the list, so adding files while WaveIn1 converts never
  // closes the file under the running conversion.
  TWaveIn* WaveInProbe = nullptr;

  // The same components through their base classes, for the format routing.
  TAuFileIn* WaveInBase() const;
  TAuFileIn* WaveProbeBase() const;
  TAuConverter* ResamplerBase() const;
  TAuConverter* ConverterBase() const;
  TAuFileOut* WaveOutBase() const;

  // Fills the WAV settings into the two converters and the WAV sink.
  void ConfigureWavPath(int channels, int bitsPerSample, int sampleRate, int wavFormat,
                        const std::string& outputPath);
};
