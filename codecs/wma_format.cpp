// Windows Media Audio: read (WMIn1) and written (WMAOut1) through the media
// runtime, at the bit rate of "Bitrate". The components are not in this
// build yet.
#include "codecs/format_catalog.h"

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
    f.SinkName = "WMAOut1";
    return f;
  }();
  return format;
}
