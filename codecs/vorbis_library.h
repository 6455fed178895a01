// The Ogg and Vorbis libraries (libogg.so.0, libvorbis.so.0,
// libvorbisenc.so.2, libvorbisfile.so.3), loaded at run time and bound by
// export name. The Ogg Vorbis sink and source both need all four.
#pragma once

#define OV_EXCLUDE_STATIC_CALLBACKS
#include <ogg/ogg.h>
#include <vorbis/codec.h>
#include <vorbis/vorbisenc.h>
#include <vorbis/vorbisfile.h>

#include <string>

inline constexpr const char* kOggLibraryFileName = "libogg.so.0";
inline constexpr const char* kVorbisLibraryFileName = "libvorbis.so.0";
inline constexpr const char* kVorbisEncLibraryFileName = "libvorbisenc.so.2";
inline constexpr const char* kVorbisFileLibraryFileName = "libvorbisfile.so.3";

struct TOggLibrary {
  decltype(&::ogg_stream_init) stream_init = nullptr;
  decltype(&::ogg_stream_packetin) stream_packetin = nullptr;
  decltype(&::ogg_stream_flush) stream_flush = nullptr;
  decltype(&::ogg_stream_pageout) stream_pageout = nullptr;
  decltype(&::ogg_page_eos) page_eos = nullptr;
  decltype(&::ogg_stream_clear) stream_clear = nullptr;
};

struct TVorbisLibrary {
  decltype(&::vorbis_info_init) info_init = nullptr;
  decltype(&::vorbis_info_clear) info_clear = nullptr;
  decltype(&::vorbis_comment_init) comment_init = nullptr;
  decltype(&::vorbis_comment_add_tag) comment_add_tag = nullptr;
  decltype(&::vorbis_comment_clear) comment_clear = nullptr;
  decltype(&::vorbis_analysis_init) analysis_init = nullptr;
  decltype(&::vorbis_block_init) block_init = nullptr;
  decltype(&::vorbis_analysis_headerout) analysis_headerout = nullptr;
  decltype(&::vorbis_analysis_buffer) analysis_buffer = nullptr;
  decltype(&::vorbis_analysis_wrote) analysis_wrote = nullptr;
  decltype(&::vorbis_analysis_blockout) analysis_blockout = nullptr;
  decltype(&::vorbis_analysis) analysis = nullptr;
  decltype(&::vorbis_bitrate_addblock) bitrate_addblock = nullptr;
  decltype(&::vorbis_bitrate_flushpacket) bitrate_flushpacket = nullptr;
  decltype(&::vorbis_block_clear) block_clear = nullptr;
  decltype(&::vorbis_dsp_clear) dsp_clear = nullptr;
};

struct TVorbisEncLibrary {
  decltype(&::vorbis_encode_init) encode_init = nullptr;
  decltype(&::vorbis_encode_setup_vbr) encode_setup_vbr = nullptr;
  decltype(&::vorbis_encode_setup_init) encode_setup_init = nullptr;
};

struct TVorbisFileLibrary {
  decltype(&::ov_test_callbacks) test_callbacks = nullptr;
  decltype(&::ov_test_open) test_open = nullptr;
  decltype(&::ov_comment) comment = nullptr;
  decltype(&::ov_info) info = nullptr;
  decltype(&::ov_pcm_total) pcm_total = nullptr;
  decltype(&::ov_read) read = nullptr;
  decltype(&::ov_pcm_seek) pcm_seek = nullptr;
  decltype(&::ov_clear) clear = nullptr;
};

// Each loader loads its library once, under one lock the four share, and
// binds its exports; a failed load is tried again at the next call. True
// when the library is loaded.
bool LoadOgg();
bool LoadVorbis();
bool LoadVorbisFile();
bool LoadVorbisEnc();

// The bound exports; valid once the loader has returned true.
const TOggLibrary& OggLibrary();
const TVorbisLibrary& VorbisLibrary();
const TVorbisEncLibrary& VorbisEncLibrary();
const TVorbisFileLibrary& VorbisFileLibrary();

// Runs the four loaders, then raises EAuException "<file name> library could
// not be loaded." for the first missing one, in the order libogg, libvorbis,
// libvorbisfile, libvorbisenc.
void RequireVorbisLibraries();
