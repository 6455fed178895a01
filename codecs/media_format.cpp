// Every other audio file the media runtime decodes: read by TMediaIn
// (MediaIn1) in its stream's own sample width, never written. Its tags are
// the runtime's attributes in an ID3v2 container, as a WMA file's are, and
// travel as a WMA file's do. ".ogg" stays Ogg Vorbis's own reader's.
#include "codecs/format_catalog.h"
#include "codecs/wm_in.h"

QUELLMARK_FORMAT_DESCRIPTOR(media) {
  static const TFormatDescriptor format = [] {
    TFormatDescriptor f;
    f.Name = "MEDIA";
    f.FileDescription = "Other Audio Files";
    f.InputExtensions = {".flac", ".m4a", ".aac", ".opus", ".oga", ".aif", ".aiff", ".aifc", ".wv",
                         ".mpc",  ".ac3", ".mp2", ".au",   ".caf", ".mka", ".tta",  ".spx"};
    f.SourceName = "MediaIn1";
    f.CreateSource = [](TComponent* owner) -> TAuFileIn* {
      auto* in = new TMediaIn(owner);
      in->Loop = false;
      in->EndSample = -1;
      in->SetOutputChannels(TChannelsNumber::cnMonoOrStereo);
      return in;
    };
    f.StreamBitrate = [](TAuFileIn& in) -> long long { return static_cast<TMediaIn&>(in).Bitrate(); };
    f.SourceTags = [](TAuFileIn& in) -> TAuTags* { return &static_cast<TMediaIn&>(in).Id3v2Tags(); };
    f.TagsLike = "WMA";
    return f;
  }();
  return format;
}
