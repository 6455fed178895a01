// The LAME encoder (libmp3lame.so.0), loaded at run time and bound by export
// name. Only its ordinary library interface is bound; the stream calls the
// MP3 sink makes are our own adapter over it (mp3_encoder_config.h).
#pragma once

#include <lame/lame.h>

#include <string>

inline constexpr const char* kLameLibraryFileName = "libmp3lame.so.0";

// The exports the adapter calls, bound once per process.
struct TLameLibrary {
  decltype(&::lame_init) init = nullptr;
  decltype(&::lame_close) close = nullptr;
  decltype(&::lame_set_errorf) set_errorf = nullptr;
  decltype(&::lame_set_debugf) set_debugf = nullptr;
  decltype(&::lame_set_msgf) set_msgf = nullptr;
  decltype(&::lame_set_in_samplerate) set_in_samplerate = nullptr;
  decltype(&::lame_set_out_samplerate) set_out_samplerate = nullptr;
  decltype(&::lame_set_num_channels) set_num_channels = nullptr;
  decltype(&::lame_get_num_channels) get_num_channels = nullptr;
  decltype(&::lame_set_mode) set_mode = nullptr;
  decltype(&::lame_set_brate) set_brate = nullptr;
  decltype(&::lame_set_extension) set_extension = nullptr;
  decltype(&::lame_set_error_protection) set_error_protection = nullptr;
  decltype(&::lame_set_copyright) set_copyright = nullptr;
  decltype(&::lame_set_original) set_original = nullptr;
  decltype(&::lame_set_bWriteVbrTag) set_bWriteVbrTag = nullptr;
  decltype(&::lame_set_VBR) set_VBR = nullptr;
  decltype(&::lame_set_VBR_q) set_VBR_q = nullptr;
  decltype(&::lame_set_VBR_mean_bitrate_kbps) set_VBR_mean_bitrate_kbps = nullptr;
  decltype(&::lame_set_VBR_min_bitrate_kbps) set_VBR_min_bitrate_kbps = nullptr;
  decltype(&::lame_set_VBR_max_bitrate_kbps) set_VBR_max_bitrate_kbps = nullptr;
  decltype(&::lame_set_disable_reservoir) set_disable_reservoir = nullptr;
  decltype(&::lame_set_strict_ISO) set_strict_ISO = nullptr;
  decltype(&::lame_init_params) init_params = nullptr;
  decltype(&::lame_get_framesize) get_framesize = nullptr;
  decltype(&::lame_encode_buffer) encode_buffer = nullptr;
  decltype(&::lame_encode_buffer_interleaved) encode_buffer_interleaved = nullptr;
  decltype(&::lame_encode_buffer_int) encode_buffer_int = nullptr;
  decltype(&::lame_encode_buffer_interleaved_int) encode_buffer_interleaved_int = nullptr;
  decltype(&::lame_encode_flush) encode_flush = nullptr;
  decltype(&::lame_get_lametag_frame) get_lametag_frame = nullptr;
};

// Loads the library on first use; a failed load is tried again at the next
// call. Returns nullptr when it cannot be loaded (or lacks an export).
const TLameLibrary* LoadLameLibrary();
// "libmp3lame.so.0 library could not be loaded."
std::string LameLibraryLoadFailedMessage();
// This process has loaded and bound the library (it is then kept).
bool LameLibraryLoaded();
