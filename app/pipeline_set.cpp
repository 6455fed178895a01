#include "app/pipeline_set.h"

#include "converters/audio_converter.h"
#include "converters/fast_resampler.h"

TPipelineSet::TPipelineSet() : Owner(std::make_unique<TComponent>()) {
  // Sources first, so that destruction (last created first) takes every
  // sink before the components it reads.
  for (const TFormatDescriptor* format : format_catalog::All()) {
    TFormatComponents c;
    c.Format = format;
    if (format->Reads()) {
      c.Source = format->CreateSource(Owner.get());
      c.Source->SetName(format->SourceName);
      c.Probe = format->CreateSource(Owner.get());
      c.Probe->SetName(format->SourceName + "Probe");
    }
    formats_.push_back(c);
  }
  CDIn1 = new TCDIn(Owner.get());
  CDIn1->SetName("CDIn1");
  CDPlayer1 = new TCDPlayer(Owner.get());
  CDPlayer1->SetName("CDPlayer1");

  FastResampler1 = new TFastResampler(Owner.get());
  FastResampler1->SetName("FastResampler1");
  FastResampler1->OutSampleRate = 22050;
  AudioConverter1 = new TAudioConverter(Owner.get());
  AudioConverter1->SetName("AudioConverter1");
  AudioConverter1->SetInput(FastResampler1);
  AudioConverter1->Mode = TMSConverterMode::msmMonoToBoth;
  AudioConverter1->OutBitsPerSample = 0;
  AudioConverter1->OutChannels = 0;

  for (TFormatComponents& c : formats_) {
    if (!c.Format->Writes()) continue;
    c.Sink = c.Format->CreateSink(Owner.get());
    c.Sink->SetName(c.Format->SinkName);
  }
  // The WAV path as it stands before the first row: the resampler reads the
  // WAV source and the WAV sink the converter.
  if (const TFormatDescriptor* wav = format_catalog::ForOutputType(0)) {
    for (TFormatComponents& c : formats_) {
      if (c.Format != wav || c.Source == nullptr || c.Sink == nullptr) continue;
      TAuInput* input = wav->SinkInput ? wav->SinkInput(*wav, *c.Source, Chain()) : c.Source;
      c.Sink->SetInput(input);
    }
  }
}

TPipelineSet::~TPipelineSet() = default;

TComponent* TPipelineSet::Find(const std::string& name) const {
  if (name == "FastResampler1") return FastResampler1;
  if (name == "AudioConverter1") return AudioConverter1;
  if (name == "CDIn1") return CDIn1;
  if (name == "CDPlayer1") return CDPlayer1;
  for (const TFormatComponents& c : formats_) {
    for (TComponent* component : {static_cast<TComponent*>(c.Source), static_cast<TComponent*>(c.Probe),
                                  static_cast<TComponent*>(c.Sink)}) {
      if (component != nullptr && component->Name() == name) return component;
    }
  }
  return nullptr;
}
