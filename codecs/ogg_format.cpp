// Ogg Vorbis: read by VorbisIn1 and written by VorbisOut1 with the quality
// of "oggQuality" (1..10, a tenth of it being the encoder's quality). The
// components are not in this build yet.
#include "codecs/format_catalog.h"

QUELLMARK_FORMAT_DESCRIPTOR(ogg) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "OGG";
    f.FileDescription = "OGG Files";
    f.InputExtensions = {".ogg"};
    f.OutputType = 2;
    f.OutputExtension = ".ogg";
    f.Libraries = {"libogg.so.0", "libvorbis.so.0", "libvorbisenc.so.2", "libvorbisfile.so.3"};
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
    f.SinkName = "VorbisOut1";
    return f;
  }();
  return format;
}
