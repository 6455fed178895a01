// WAV: read by TWaveIn, written by TWaveOut. A WAV source going to WAV
// passes through the sample-rate and the channel and bit-depth converters,
// so the four WAV settings apply to it; other sources are written in their
// own rate, channels and width, and only "wavFormat" applies.
#include "codecs/adpcm.h"
#include "codecs/format_catalog.h"
#include "codecs/wav_in.h"
#include "codecs/wav_out.h"
#include "converters/audio_converter.h"
#include "converters/fast_resampler.h"
#include "pipeline/sample_rate.h"

QUELLMARK_FORMAT_DESCRIPTOR(wav);

namespace {

TFormatSetting Spin(const char* key, const char* def, int min, int max, int step, const char* label,
                    const char* labelText, const char* control) {
  TFormatSetting s;
  s.Key = key;
  s.Default = def;
  s.Min = min;
  s.Max = max;
  s.Step = step;
  s.LabelName = label;
  s.Label = labelText;
  s.ControlName = control;
  return s;
}

TFormatDescriptor Describe() {
  TFormatDescriptor f;
  f.Name = "WAV";
  f.FileDescription = "WAV Files";
  f.InputExtensions = {".wav"};
  f.OutputType = 0;
  f.OutputExtension = ".wav";
  f.SettingsGroupName = "GroupBoxWav";
  f.SettingsGroupCaption = " WAV File ";

  f.Settings.push_back(Spin("wavCh", "1", 1, 2, 1, "LabelChannels", "Channels:", "SpinEditChannels"));
  TFormatSetting rate;
  rate.Key = "wavSr";
  rate.Default = "22050";
  rate.Control = TFormatSetting::TControl::Edit;
  rate.ValidMin = kMinSampleRate;
  rate.ValidMax = kMaxSampleRate;
  rate.LabelName = "LabelSr";
  rate.Label = "Sample Rate:";
  rate.ControlName = "EditSr";
  f.Settings.push_back(rate);
  f.Settings.push_back(Spin("wavBps", "8", 8, 32, 8, "LabelBps", "Bits Per Sample:", "SpinEditBps"));
  TFormatSetting format;
  format.Key = "wavFormat";
  format.Default = "0";
  format.Control = TFormatSetting::TControl::IndexList;
  format.Items = {"RAW PCM", "DVI IMA ADPCM"};
  format.LabelName = "LabelFormat";
  format.Label = "Format:";
  format.ControlName = "ComboBoxFormat";
  f.Settings.push_back(format);

  f.SourceName = "WaveIn1";
  f.CreateSource = [](TComponent* owner) -> TAuFileIn* {
    auto* in = new TWaveIn(owner);
    in->Loop = false;
    in->EndSample = -1;
    return in;
  };

  f.SinkName = "WaveOut1";
  f.CreateSink = [](TComponent* owner) -> TAuFileOut* {
    auto* out = new TWaveOut(owner);
    out->SetWavType(TWavType::wtPCM);
    out->SetBlockSize(512);
    out->CreateNonMsHeaders = false;
    out->SetFileMode(TFileOutputMode::foRewrite);
    out->ShareMode = 0;
    return out;
  };
  f.SinkInput = [](const TFormatDescriptor& from, TAuInput& source, const TSinkChain& chain) -> TAuInput* {
    if (&from != &QuellmarkFormat_wav() || chain.Converter == nullptr) return &source;
    chain.Resampler->SetInput(&source);
    return chain.Converter;
  };
  f.ConfigureSink = [](TAuFileOut& sink, const TSinkChain& chain, const TFormatOptions& options) {
    if (chain.Converter != nullptr) {
      chain.Converter->OutChannels = options.Integer("wavCh");
      chain.Converter->OutBitsPerSample = options.Integer("wavBps");
      chain.Resampler->OutSampleRate = static_cast<uint32_t>(options.Integer("wavSr"));
    }
    auto& out = static_cast<TWaveOut&>(sink);
    const int wavFormat = options.Integer("wavFormat");
    if (wavFormat == 0) {
      out.SetWavType(TWavType::wtPCM);
    } else if (wavFormat == 1) {
      out.SetWavType(TWavType::wtDVIADPCM);
    }
  };
  f.DecodeTolerance = [](const TAuFileOut& sink) {
    const auto& out = static_cast<const TWaveOut&>(sink);
    TDecodeTolerance t;
    if (out.WavType() == TWavType::wtDVIADPCM) {
      // The last block is filled up with silence; a mono block holds the
      // most frames.
      t.Longer = static_cast<int64_t>(ImaFramesPerBlock(out.BlockSize(), 1));
    } else {
      // The writer fills the data up to the length its input announced:
      // a resampler's estimate is a few frames over what it delivers.
      t.Exact = true;
      t.Longer = 64;
    }
    return t;
  };
  return f;
}

}  // namespace

QUELLMARK_FORMAT_DESCRIPTOR(wav) {
  static const TFormatDescriptor format = Describe();
  return format;
}
