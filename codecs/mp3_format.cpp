// MP3: read through the media runtime (MP3In1), written through LAME
// (MP3Out1) with the bit rate of "Bitrate". Neither component is in this
// build yet: .mp3 files are listed only when a reader exists.
#include "codecs/format_catalog.h"

QUELLMARK_FORMAT_DESCRIPTOR(mp3) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "MP3";
    f.FileDescription = "MP3 Files";
    f.InputExtensions = {".mp3"};
    f.OutputType = 1;
    f.OutputExtension = ".mp3";
    f.Libraries = {"libmp3lame.so.0"};
    f.Settings = {BitrateSetting()};
    f.SourceName = "MP3In1";
    f.SinkName = "MP3Out1";
    return f;
  }();
  return format;
}
