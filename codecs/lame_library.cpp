#include "codecs/lame_library.h"

#include "platform/dynamic_library.h"

namespace {

platform::DynamicLibrary& Library() {
  static platform::DynamicLibrary library(kLameLibraryFileName);
  return library;
}

TLameLibrary& Exports() {
  static TLameLibrary exports;
  return exports;
}

bool BindExports(platform::DynamicLibrary& lib) {
  TLameLibrary& e = Exports();
  return lib.Bind(e.init, "lame_init") && lib.Bind(e.close, "lame_close") &&
         lib.Bind(e.set_errorf, "lame_set_errorf") && lib.Bind(e.set_debugf, "lame_set_debugf") &&
         lib.Bind(e.set_msgf, "lame_set_msgf") && lib.Bind(e.set_in_samplerate, "lame_set_in_samplerate") &&
         lib.Bind(e.set_out_samplerate, "lame_set_out_samplerate") &&
         lib.Bind(e.set_num_channels, "lame_set_num_channels") &&
         lib.Bind(e.get_num_channels, "lame_get_num_channels") && lib.Bind(e.set_mode, "lame_set_mode") &&
         lib.Bind(e.set_brate, "lame_set_brate") && lib.Bind(e.set_extension, "lame_set_extension") &&
         lib.Bind(e.set_error_protection, "lame_set_error_protection") &&
         lib.Bind(e.set_copyright, "lame_set_copyright") && lib.Bind(e.set_original, "lame_set_original") &&
         lib.Bind(e.set_bWriteVbrTag, "lame_set_bWriteVbrTag") && lib.Bind(e.set_VBR, "lame_set_VBR") &&
         lib.Bind(e.set_VBR_q, "lame_set_VBR_q") &&
         lib.Bind(e.set_VBR_mean_bitrate_kbps, "lame_set_VBR_mean_bitrate_kbps") &&
         lib.Bind(e.set_VBR_min_bitrate_kbps, "lame_set_VBR_min_bitrate_kbps") &&
         lib.Bind(e.set_VBR_max_bitrate_kbps, "lame_set_VBR_max_bitrate_kbps") &&
         lib.Bind(e.set_disable_reservoir, "lame_set_disable_reservoir") &&
         lib.Bind(e.set_strict_ISO, "lame_set_strict_ISO") && lib.Bind(e.init_params, "lame_init_params") &&
         lib.Bind(e.get_framesize, "lame_get_framesize") && lib.Bind(e.encode_buffer, "lame_encode_buffer") &&
         lib.Bind(e.encode_buffer_interleaved, "lame_encode_buffer_interleaved") &&
         lib.Bind(e.encode_buffer_int, "lame_encode_buffer_int") &&
         lib.Bind(e.encode_buffer_interleaved_int, "lame_encode_buffer_interleaved_int") &&
         lib.Bind(e.encode_flush, "lame_encode_flush") &&
         lib.Bind(e.get_lametag_frame, "lame_get_lametag_frame");
}

}  // namespace

const TLameLibrary* LoadLameLibrary() { return Library().Load(BindExports) ? &Exports() : nullptr; }

std::string LameLibraryLoadFailedMessage() { return Library().LoadFailedMessage(); }

bool LameLibraryLoaded() { return Library().Loaded(); }
