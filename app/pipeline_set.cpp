#include "app/pipeline_set.h"

#include "app/wav_components.h"

TPipelineSet::TPipelineSet() : Owner(std::make_unique<TComponent>()) {
#if QUELLMARK_HAVE_WAV_PATH
  WaveIn1 = new TWaveIn(Owner.get());
  WaveIn1->SetName("WaveIn1");
  WaveIn1->Loop = false;
  WaveIn1->EndSample = -1;

  WaveInProbe = new TWaveIn(Owner.get());
  WaveInProbe->SetName("WaveInProbe");

  FastResampler1 = new TFastResampler(Owner.get());
  FastResampler1->SetName("FastResampler1");
  FastResampler1->SetInput(WaveIn1);
  FastResampler1->OutSampleRate = 22050;

  AudioConverter1 = new TAudioConverter(Owner.get());
  AudioConverter1->SetName("AudioConverter1");
  AudioConverter1->SetInput(FastResampler1);
  AudioConverter1->Mode = TMSConverterMode::msmMonoToBoth;
  AudioConverter1->OutBitsPerSample = 0;
  AudioConverter1->OutChannels = 0;

  WaveOut1 = new TWaveOut(Owner.get());
  WaveOut1->SetName("WaveOut1");
  WaveOut1->SetInput(AudioConverter1);
  WaveOut1->SetWavType(TWavType::wtPCM);
  WaveOut1->SetBlockSize(512);
  WaveOut1->CreateNonMsHeaders = false;
  WaveOut1->SetFileMode(TFileOutputMode::foRewrite);
  WaveOut1->ShareMode = 0;
#endif
}

TPipelineSet::~TPipelineSet() = default;

TAuFileIn* TPipelineSet::WaveInBase() const {
#if QUELLMARK_HAVE_WAV_PATH
  return WaveIn1;
#else
  return nullptr;
#endif
}

TAuFileIn* TPipelineSet::WaveProbeBase() const {
#if QUELLMARK_HAVE_WAV_PATH
  return WaveInProbe;
#else
  return nullptr;
#endif
}

TAuConverter* TPipelineSet::ResamplerBase() const {
#if QUELLMARK_HAVE_WAV_PATH
  return FastResampler1;
#else
  return nullptr;
#endif
}

TAuConverter* TPipelineSet::ConverterBase() const {
#if QUELLMARK_HAVE_WAV_PATH
  return AudioConverter1;
#else
  return nullptr;
#endif
}

TAuFileOut* TPipelineSet::WaveOutBase() const {
#if QUELLMARK_HAVE_WAV_PATH
  return WaveOut1;
#else
  return nullptr;
#endif
}

void TPipelineSet::ConfigureWavPath(int channels, int bitsPerSample, int sampleRate, int wavFormat,
                                    const std::string& outputPath) {
#if QUELLMARK_HAVE_WAV_PATH
  AudioConverter1->OutChannels = channels;
  AudioConverter1->OutBitsPerSample = bitsPerSample;
  FastResampler1->OutSampleRate = static_cast<uint32_t>(sampleRate);
  WaveOut1->SetFileName(outputPath);
  if (wavFormat == 0) {
    WaveOut1->SetWavType(TWavType::wtPCM);
  } else if (wavFormat == 1) {
    WaveOut1->SetWavType(TWavType::wtDVIADPCM);
  }
#else
  (void)channels;
  (void)bitsPerSample;
  (void)sampleRate;
  (void)wavFormat;
  (void)outputPath;
#endif
}
