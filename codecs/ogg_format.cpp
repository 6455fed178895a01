// Ogg Vorbis: read by TVorbisIn (VorbisIn1) and written by TVorbisOut
// (VorbisOut1) with the quality of "oggQuality" (1..10, a tenth of it being
// the encoder's quality).
#include "codecs/format_catalog.h"
#include "codecs/vorbis_in.h"
#include "codecs/vorbis_library.h"
#include "codecs/vorbis_out.h"

QUELLMARK_FORMAT_DESCRIPTOR(ogg) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "OGG";
    f.FileDescription = "OGG Files";
    f.InputExtensions = {".ogg"};
    f.OutputType = 2;
    f.OutputExtension = ".ogg";
    f.Libraries = {kOggLibraryFileName, kVorbisLibraryFileName, kVorbisEncLibraryFileName,
                   kVorbisFileLibraryFileName};
    TFormatSetting quality;
    quality.Key = "oggQuality";
    quality.Default = "3";
    quality.Min = 1;
    quality.Max = 10;
    quality.LabelName = "LabelOggQuality";
    quality.Label = "Ogg Quality:";
    quality.ControlName = "SpinEditOggQuality";
    f.Settings = {quality};

    f.SourceName = "VorbisIn1";
    f.CreateSource = [](TComponent* owner) -> TAuFileIn* {
      auto* in = new TVorbisIn(owner);
      in->Loop = false;
      in->StartSample = 0;
      in->EndSample = -1;
      return in;
    };
    f.SourceTags = [](TAuFileIn& in) -> TAuTags* { return &static_cast<TVorbisIn&>(in).Comments(); };

    f.SinkName = "VorbisOut1";
    f.CreateSink = [](TComponent* owner) -> TAuFileOut* {
      auto* out = new TVorbisOut(owner);
      out->Compression = 0.2f;
      out->SetDesiredNominalBitrate(TVorbisBitRate::brAutoSelect);
      out->SetDesiredMaximumBitrate(TVorbisBitRate::brAutoSelect);
      out->SetMinimumBitrate(TVorbisBitRate::brAutoSelect);
      out->SetFileMode(TFileOutputMode::foRewrite);
      out->Serial = 0;
      out->ShareMode = 0;
      return out;
    };
    f.ConfigureSink = [](TAuFileOut& sink, const TSinkChain&, const TFormatOptions& options) {
      static_cast<TVorbisOut&>(sink).Compression = static_cast<float>(options.Integer("oggQuality")) / 10.0f;
    };
    f.SinkTags = [](TAuFileOut& out) -> TAuTags* { return &static_cast<TVorbisOut&>(out).Comments(); };
    f.DecodeTolerance = [](const TAuFileOut&) {
      // The last page's granule position gives the exact length.
      return TDecodeTolerance{};
    };
    return f;
  }();
  return format;
}
