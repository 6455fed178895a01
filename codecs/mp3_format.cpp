// MP3: read through the media runtime (MP3In1), written through LAME
// (MP3Out1) with the bit rate of "Bitrate".
#include <utility>

#include "codecs/format_catalog.h"
#include "codecs/lame_library.h"
#include "codecs/mp3_out.h"
#include "codecs/wm_in.h"

namespace {

// "Bitrate" by its exact text; any other text leaves the choice to the
// encoder.
TMP3BitRate BitRateForText(const std::string& Text) {
  static const std::pair<const char*, TMP3BitRate> rates[] = {
      {"32", TMP3BitRate::mbr32},   {"48", TMP3BitRate::mbr48},   {"56", TMP3BitRate::mbr56},
      {"64", TMP3BitRate::mbr64},   {"80", TMP3BitRate::mbr80},   {"96", TMP3BitRate::mbr96},
      {"112", TMP3BitRate::mbr112}, {"128", TMP3BitRate::mbr128}, {"192", TMP3BitRate::mbr192},
      {"256", TMP3BitRate::mbr256}, {"320", TMP3BitRate::mbr320},
  };
  for (const auto& [text, rate] : rates) {
    if (Text == text) return rate;
  }
  return TMP3BitRate::mbrAuto;
}

}  // namespace

// In wma_format.cpp: the design-time values of the media runtime's readers.
TAuFileIn* CreateMediaRuntimeSource(TWMIn* in);

QUELLMARK_FORMAT_DESCRIPTOR(mp3) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "MP3";
    f.FileDescription = "MP3 Files";
    f.InputExtensions = {".mp3"};
    f.OutputType = 1;
    f.OutputExtension = ".mp3";
    f.Libraries = {kLameLibraryFileName};
    f.Settings = {BitrateSetting()};
    f.SourceName = "MP3In1";
    f.CreateSource = [](TComponent* owner) { return CreateMediaRuntimeSource(new TMP3In(owner)); };
    f.StreamBitrate = [](TAuFileIn& in) -> long long { return static_cast<TMP3In&>(in).Bitrate(); };
    f.SourceTags = [](TAuFileIn& in) -> TAuTags* { return &static_cast<TMP3In&>(in).Id3v2Tags(); };

    f.SinkName = "MP3Out1";
    f.CreateSink = [](TComponent* owner) -> TAuFileOut* {
      auto* out = new TMP3Out(owner);
      out->BitRate = TMP3BitRate::mbr128;
      out->EnableBitReservoir = false;
      out->StrinctISO = false;
      out->VBRQuality = TMP3Quality::mp3ql0;
      out->EnableVBR = 0;
      out->AverageBitrate = TMP3BitRate::mbrAuto;
      out->MaximumBitrate = TMP3BitRate::mbrAuto;
      out->ShareMode = 0;
      return out;
    };
    f.ConfigureSink = [](TAuFileOut& sink, const TSinkChain&, const TFormatOptions& options) {
      static_cast<TMP3Out&>(sink).BitRate = BitRateForText(options.Text("Bitrate"));
    };
    f.SinkTags = [](TAuFileOut& out) -> TAuTags* { return &static_cast<TMP3Out&>(out).Id3v1Tags(); };
    f.DecodeTolerance = [](const TAuFileOut&) {
      // Without a LAME tag (CBR) the decoder keeps the encoder's delay of
      // 1105 frames and the padding of the last frame; with one (VBR) it
      // trims both.
      TDecodeTolerance t;
      t.Longer = 1105 + 2 * 1152;
      return t;
    };
    return f;
  }();
  return format;
}
