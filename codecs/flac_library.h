// The FLAC library (libFLAC.so.12), loaded at run time and bound by export
// name: the native stream encoder and the metadata objects it writes.
#pragma once

#include <FLAC/metadata.h>
#include <FLAC/stream_encoder.h>

#include <string>

inline constexpr const char* kFlacLibraryFileName = "libFLAC.so.12";

// The exports the FLAC sink calls, bound once per process.
struct TFlacLibrary {
  decltype(&::FLAC__stream_encoder_new) encoder_new = nullptr;
  decltype(&::FLAC__stream_encoder_delete) encoder_delete = nullptr;
  decltype(&::FLAC__stream_encoder_set_channels) set_channels = nullptr;
  decltype(&::FLAC__stream_encoder_set_bits_per_sample) set_bits_per_sample = nullptr;
  decltype(&::FLAC__stream_encoder_set_sample_rate) set_sample_rate = nullptr;
  decltype(&::FLAC__stream_encoder_set_compression_level) set_compression_level = nullptr;
  decltype(&::FLAC__stream_encoder_set_streamable_subset) set_streamable_subset = nullptr;
  decltype(&::FLAC__stream_encoder_set_total_samples_estimate) set_total_samples_estimate = nullptr;
  decltype(&::FLAC__stream_encoder_set_metadata) set_metadata = nullptr;
  decltype(&::FLAC__stream_encoder_init_stream) init_stream = nullptr;
  decltype(&::FLAC__stream_encoder_process_interleaved) process_interleaved = nullptr;
  decltype(&::FLAC__stream_encoder_finish) finish = nullptr;
  decltype(&::FLAC__stream_encoder_get_resolved_state_string) resolved_state_string = nullptr;
  // Indexed by FLAC__StreamEncoderInitStatus.
  const char* const* init_status_string = nullptr;
  decltype(&::FLAC__metadata_object_new) object_new = nullptr;
  decltype(&::FLAC__metadata_object_delete) object_delete = nullptr;
  decltype(&::FLAC__metadata_object_seektable_template_append_spaced_points_by_samples) seektable_spaced_points =
      nullptr;
  decltype(&::FLAC__metadata_object_seektable_template_sort) seektable_sort = nullptr;
  decltype(&::FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair) comment_entry = nullptr;
  decltype(&::FLAC__metadata_object_vorbiscomment_append_comment) append_comment = nullptr;
};

// Loads the library on first use; a failed load is tried again at the next
// call. Returns nullptr when it cannot be loaded (or lacks an export).
const TFlacLibrary* LoadFlacLibrary();
// "libFLAC.so.12 library could not be loaded."
std::string FlacLibraryLoadFailedMessage();
