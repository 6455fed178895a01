#include "codecs/flac_library.h"

#include "platform/dynamic_library.h"

namespace {

platform::DynamicLibrary& Library() {
  static platform::DynamicLibrary library(kFlacLibraryFileName);
  return library;
}

TFlacLibrary& Exports() {
  static TFlacLibrary exports;
  return exports;
}

bool BindExports(platform::DynamicLibrary& lib) {
  TFlacLibrary& e = Exports();
  e.init_status_string = static_cast<const char* const*>(lib.Symbol("FLAC__StreamEncoderInitStatusString"));
  return e.init_status_string != nullptr && lib.Bind(e.encoder_new, "FLAC__stream_encoder_new") &&
         lib.Bind(e.encoder_delete, "FLAC__stream_encoder_delete") &&
         lib.Bind(e.set_channels, "FLAC__stream_encoder_set_channels") &&
         lib.Bind(e.set_bits_per_sample, "FLAC__stream_encoder_set_bits_per_sample") &&
         lib.Bind(e.set_sample_rate, "FLAC__stream_encoder_set_sample_rate") &&
         lib.Bind(e.set_compression_level, "FLAC__stream_encoder_set_compression_level") &&
         lib.Bind(e.set_streamable_subset, "FLAC__stream_encoder_set_streamable_subset") &&
         lib.Bind(e.set_total_samples_estimate, "FLAC__stream_encoder_set_total_samples_estimate") &&
         lib.Bind(e.set_metadata, "FLAC__stream_encoder_set_metadata") &&
         lib.Bind(e.init_stream, "FLAC__stream_encoder_init_stream") &&
         lib.Bind(e.process_interleaved, "FLAC__stream_encoder_process_interleaved") &&
         lib.Bind(e.finish, "FLAC__stream_encoder_finish") &&
         lib.Bind(e.resolved_state_string, "FLAC__stream_encoder_get_resolved_state_string") &&
         lib.Bind(e.object_new, "FLAC__metadata_object_new") &&
         lib.Bind(e.object_delete, "FLAC__metadata_object_delete") &&
         lib.Bind(e.seektable_spaced_points,
                  "FLAC__metadata_object_seektable_template_append_spaced_points_by_samples") &&
         lib.Bind(e.seektable_sort, "FLAC__metadata_object_seektable_template_sort") &&
         lib.Bind(e.comment_entry, "FLAC__metadata_object_vorbiscomment_entry_from_name_value_pair") &&
         lib.Bind(e.append_comment, "FLAC__metadata_object_vorbiscomment_append_comment");
}

}  // namespace

const TFlacLibrary* LoadFlacLibrary() { return Library().Load(BindExports) ? &Exports() : nullptr; }

std::string FlacLibraryLoadFailedMessage() { return Library().LoadFailedMessage(); }
