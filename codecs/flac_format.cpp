// FLAC: written by TFLACOut (FLACOut1) through libFLAC at the level of
// "flacLevel" (0..8). Reading FLAC files is not this format's: it has no
// source here.
#include "codecs/flac_library.h"
#include "codecs/flac_out.h"
#include "codecs/format_catalog.h"

QUELLMARK_FORMAT_DESCRIPTOR(flac) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "FLAC";
    f.FileDescription = "FLAC Files";
    f.OutputType = 5;
    f.OutputExtension = ".flac";
    f.Libraries = {kFlacLibraryFileName};
    TFormatSetting level;
    level.Key = "flacLevel";
    level.Default = std::to_string(TFLACOut::DefaultCompressionLevel);
    level.Min = TFLACOut::MinCompressionLevel;
    level.Max = TFLACOut::MaxCompressionLevel;
    level.ValidMin = level.Min;
    level.ValidMax = level.Max;
    level.LabelName = "LabelFlacLevel";
    level.Label = "FLAC Level:";
    level.ControlName = "SpinEditFlacLevel";
    f.Settings = {level};

    f.SinkName = "FLACOut1";
    f.CreateSink = [](TComponent* owner) -> TAuFileOut* {
      auto* out = new TFLACOut(owner);
      out->ShareMode = 0;
      return out;
    };
    f.ConfigureSink = [](TAuFileOut& sink, const TSinkChain&, const TFormatOptions& options) {
      static_cast<TFLACOut&>(sink).SetCompressionLevel(options.Integer("flacLevel"));
    };
    f.SinkTags = [](TAuFileOut& out) -> TAuTags* { return &static_cast<TFLACOut&>(out).Comments(); };
    f.DecodeTolerance = [](const TAuFileOut& sink) {
      // Lossless: read back in its own width (16 and 24 bits), the samples
      // must be the very ones written. Other widths come back widened, so
      // only their length is compared.
      TDecodeTolerance t;
      const int bits = sink.InputRecord().BitsPerSample;
      t.Exact = bits == 16 || bits == 24;
      return t;
    };
    return f;
  }();
  return format;
}
