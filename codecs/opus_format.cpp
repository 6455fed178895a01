// Opus: written by TOpusOut (OpusOut1) through libopusenc at the bit rate
// of "opusBitrate" (kbit/s, 6..512). Reading Opus files is not this
// format's: it has no source here.
#include "codecs/format_catalog.h"
#include "codecs/opus_library.h"
#include "codecs/opus_out.h"

QUELLMARK_FORMAT_DESCRIPTOR(opus) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "Opus";
    f.FileDescription = "Opus Files";
    f.OutputType = 6;
    f.OutputExtension = ".opus";
    f.Libraries = {kOpusEncLibraryFileName};
    TFormatSetting bitrate;
    bitrate.Key = "opusBitrate";
    bitrate.Default = std::to_string(TOpusOut::DefaultBitrate);
    bitrate.Control = TFormatSetting::TControl::Edit;
    bitrate.ValidMin = TOpusOut::MinBitrate;
    bitrate.ValidMax = TOpusOut::MaxBitrate;
    bitrate.LabelName = "LabelOpusBitrate";
    bitrate.Label = "Opus Bitrate (kbit/s):";
    bitrate.ControlName = "EditOpusBitrate";
    f.Settings = {bitrate};

    f.SinkName = "OpusOut1";
    f.CreateSink = [](TComponent* owner) -> TAuFileOut* {
      auto* out = new TOpusOut(owner);
      out->ShareMode = 0;
      return out;
    };
    f.ConfigureSink = [](TAuFileOut& sink, const TSinkChain&, const TFormatOptions& options) {
      static_cast<TOpusOut&>(sink).SetBitrate(options.Integer("opusBitrate"));
    };
    f.SinkTags = [](TAuFileOut& out) -> TAuTags* { return &static_cast<TOpusOut&>(out).Comments(); };
    return f;
  }();
  return format;
}
