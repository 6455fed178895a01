// Monkey's Audio: read by TMACIn and written by TMACOut through our own
// codec library, at the level of "apeCompression".
#include "codecs/format_catalog.h"
#include "codecs/mac_in.h"
#include "codecs/mac_out.h"

QUELLMARK_FORMAT_DESCRIPTOR(ape) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "APE";
    f.FileDescription = "APE File";
    f.InputExtensions = {".ape"};
    f.OutputType = 4;
    f.OutputExtension = ".ape";
    f.Libraries = {kMacLibraryFileName};
    TFormatSetting level;
    level.Key = "apeCompression";
    level.Default = "2000";
    level.Min = 1000;
    level.Max = 5000;
    level.Step = 1000;
    level.LabelName = "LabelApeCompression";
    level.Label = "Ape Compression";
    level.ControlName = "SpinEditApeCompression";
    f.Settings = {level};

    f.SourceName = "MACIn1";
    f.CreateSource = [](TComponent* owner) -> TAuFileIn* {
      auto* in = new TMACIn(owner);
      in->Loop = false;
      in->EndSample = -1;
      return in;
    };
    f.SourceTags = [](TAuFileIn& in) -> TAuTags* { return &static_cast<TMACIn&>(in).APEv2Tags(); };

    f.SinkName = "MACOut1";
    f.CreateSink = [](TComponent* owner) -> TAuFileOut* {
      auto* out = new TMACOut(owner);
      out->SetCompressionLevel(TMACOut::DefaultCompressionLevel);
      out->MaxAudioBytes = -1;
      out->ShareMode = 0;
      return out;
    };
    f.ConfigureSink = [](TAuFileOut& sink, const TSinkChain&, const TFormatOptions& options) {
      static_cast<TMACOut&>(sink).SetCompressionLevel(options.Integer("apeCompression"));
    };
    f.SinkTags = [](TAuFileOut& out) -> TAuTags* { return &static_cast<TMACOut&>(out).APEv2Tags(); };
    f.DecodeTolerance = [](const TAuFileOut&) {
      TDecodeTolerance t;
      t.Exact = true;
      return t;
    };
    return f;
  }();
  return format;
}
