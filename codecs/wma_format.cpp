// Windows Media Audio: read (WMIn1) and written (WMAOut1) through the media
// runtime, at the bit rate of "Bitrate".
#include "codecs/format_catalog.h"
#include "codecs/wm_in.h"
#include "codecs/wma_out.h"
#include "platform/ini_file.h"

// MP3In1 and WMIn1 alike.
TAuFileIn* CreateMediaRuntimeSource(TWMIn* in) {
  in->Loop = false;
  in->EndSample = -1;
  in->SetHighPrecision(false);
  in->SetOutputChannels(TChannelsNumber::cnMonoOrStereo);
  return in;
}

QUELLMARK_FORMAT_DESCRIPTOR(wma) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "WMA";
    f.FileDescription = "WMA File";
    f.InputExtensions = {".wma"};
    f.OutputType = 3;
    f.OutputExtension = ".wma";
    f.Settings = {BitrateSetting()};

    f.SourceName = "WMIn1";
    f.CreateSource = [](TComponent* owner) { return CreateMediaRuntimeSource(new TWMIn(owner)); };
    f.StreamBitrate = [](TAuFileIn& in) -> long long { return static_cast<TWMIn&>(in).Bitrate(); };
    f.SourceTags = [](TAuFileIn& in) -> TAuTags* { return &static_cast<TWMIn&>(in).Id3v2Tags(); };

    f.SinkName = "WMAOut1";
    f.CreateSink = [](TComponent* owner) -> TAuFileOut* {
      auto* out = new TWMAOut(owner);
      out->DesiredBitrate = 0;
      out->Lossless = false;
      out->VBR = false;
      out->VBRQuality = 0;
      out->ShareMode = 0;
      return out;
    };
    f.ConfigureSink = [](TAuFileOut& sink, const TSinkChain&, const TFormatOptions& options) {
      // Raises "'x' is not a valid integer value" for any other text.
      const int bitrate = platform::IniTextToInt(options.Text("Bitrate"));
      static_cast<TWMAOut&>(sink).DesiredBitrate = static_cast<uint32_t>(bitrate);
    };
    f.SinkTags = [](TAuFileOut& out) -> TAuTags* { return &static_cast<TWMAOut&>(out).Id3v2Tags(); };
    f.DecodeTolerance = [](const TAuFileOut&) {
      // The decoder drops the encoder's first 2048 frames (its priming);
      // the last frame is filled up to 2048.
      TDecodeTolerance t;
      t.Shorter = 2048;
      t.Longer = 2048;
      return t;
    };
    return f;
  }();
  return format;
}
