#include "codecs/vorbis_library.h"

#include <mutex>

#include "pipeline/au_exception.h"
#include "platform/dynamic_library.h"

namespace {

// Held by every loader while it loads: a probe on the main thread and a
// sink's worker may ask for the libraries at the same time.
std::mutex& LoaderLock() {
  static std::mutex lock;
  return lock;
}

template <typename Exports>
struct TLoaded {
  platform::DynamicLibrary Library;
  Exports Functions;
  explicit TLoaded(const char* fileName) : Library(fileName) {}
};

template <typename Exports>
bool LoadWith(TLoaded<Exports>& loaded, bool (*bind)(const platform::DynamicLibrary&, Exports&)) {
  if (loaded.Library.Loaded()) return true;
  std::lock_guard lock(LoaderLock());
  return loaded.Library.Load([&](platform::DynamicLibrary& lib) { return bind(lib, loaded.Functions); });
}

TLoaded<TOggLibrary>& Ogg() {
  static TLoaded<TOggLibrary> loaded(kOggLibraryFileName);
  return loaded;
}

TLoaded<TVorbisLibrary>& Vorbis() {
  static TLoaded<TVorbisLibrary> loaded(kVorbisLibraryFileName);
  return loaded;
}

TLoaded<TVorbisEncLibrary>& VorbisEnc() {
  static TLoaded<TVorbisEncLibrary> loaded(kVorbisEncLibraryFileName);
  return loaded;
}

TLoaded<TVorbisFileLibrary>& VorbisFile() {
  static TLoaded<TVorbisFileLibrary> loaded(kVorbisFileLibraryFileName);
  return loaded;
}

bool BindOgg(const platform::DynamicLibrary& lib, TOggLibrary& e) {
  return lib.Bind(e.stream_init, "ogg_stream_init") && lib.Bind(e.stream_packetin, "ogg_stream_packetin") &&
         lib.Bind(e.stream_flush, "ogg_stream_flush") && lib.Bind(e.stream_pageout, "ogg_stream_pageout") &&
         lib.Bind(e.page_eos, "ogg_page_eos") && lib.Bind(e.stream_clear, "ogg_stream_clear");
}

bool BindVorbis(const platform::DynamicLibrary& lib, TVorbisLibrary& e) {
  return lib.Bind(e.info_init, "vorbis_info_init") && lib.Bind(e.info_clear, "vorbis_info_clear") &&
         lib.Bind(e.comment_init, "vorbis_comment_init") &&
         lib.Bind(e.comment_add_tag, "vorbis_comment_add_tag") &&
         lib.Bind(e.comment_clear, "vorbis_comment_clear") && lib.Bind(e.analysis_init, "vorbis_analysis_init") &&
         lib.Bind(e.block_init, "vorbis_block_init") &&
         lib.Bind(e.analysis_headerout, "vorbis_analysis_headerout") &&
         lib.Bind(e.analysis_buffer, "vorbis_analysis_buffer") &&
         lib.Bind(e.analysis_wrote, "vorbis_analysis_wrote") &&
         lib.Bind(e.analysis_blockout, "vorbis_analysis_blockout") && lib.Bind(e.analysis, "vorbis_analysis") &&
         lib.Bind(e.bitrate_addblock, "vorbis_bitrate_addblock") &&
         lib.Bind(e.bitrate_flushpacket, "vorbis_bitrate_flushpacket") &&
         lib.Bind(e.block_clear, "vorbis_block_clear") && lib.Bind(e.dsp_clear, "vorbis_dsp_clear");
}

bool BindVorbisEnc(const platform::DynamicLibrary& lib, TVorbisEncLibrary& e) {
  return lib.Bind(e.encode_init, "vorbis_encode_init") && lib.Bind(e.encode_setup_vbr, "vorbis_encode_setup_vbr") &&
         lib.Bind(e.encode_setup_init, "vorbis_encode_setup_init");
}

bool BindVorbisFile(const platform::DynamicLibrary& lib, TVorbisFileLibrary& e) {
  return lib.Bind(e.test_callbacks, "ov_test_callbacks") && lib.Bind(e.test_open, "ov_test_open") &&
         lib.Bind(e.comment, "ov_comment") && lib.Bind(e.info, "ov_info") && lib.Bind(e.pcm_total, "ov_pcm_total") &&
         lib.Bind(e.read, "ov_read") && lib.Bind(e.pcm_seek, "ov_pcm_seek") && lib.Bind(e.clear, "ov_clear");
}

}  // namespace

bool LoadOgg() { return LoadWith(Ogg(), BindOgg); }
bool LoadVorbis() { return LoadWith(Vorbis(), BindVorbis); }
bool LoadVorbisFile() { return LoadWith(VorbisFile(), BindVorbisFile); }
bool LoadVorbisEnc() { return LoadWith(VorbisEnc(), BindVorbisEnc); }

const TOggLibrary& OggLibrary() { return Ogg().Functions; }
const TVorbisLibrary& VorbisLibrary() { return Vorbis().Functions; }
const TVorbisEncLibrary& VorbisEncLibrary() { return VorbisEnc().Functions; }
const TVorbisFileLibrary& VorbisFileLibrary() { return VorbisFile().Functions; }

void RequireVorbisLibraries() {
  const bool ogg = LoadOgg();
  const bool vorbis = LoadVorbis();
  const bool vorbisFile = LoadVorbisFile();
  const bool vorbisEnc = LoadVorbisEnc();
  if (!ogg) throw EAuException(Ogg().Library.LoadFailedMessage());
  if (!vorbis) throw EAuException(Vorbis().Library.LoadFailedMessage());
  if (!vorbisFile) throw EAuException(VorbisFile().Library.LoadFailedMessage());
  if (!vorbisEnc) throw EAuException(VorbisEnc().Library.LoadFailedMessage());
}
