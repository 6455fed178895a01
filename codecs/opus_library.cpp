#include "codecs/opus_library.h"

#include "platform/dynamic_library.h"

namespace {

platform::DynamicLibrary& Library() {
  static platform::DynamicLibrary library(kOpusEncLibraryFileName);
  return library;
}

TOpusEncLibrary& Exports() {
  static TOpusEncLibrary exports;
  return exports;
}

bool BindExports(platform::DynamicLibrary& lib) {
  TOpusEncLibrary& e = Exports();
  return lib.Bind(e.comments_create, "ope_comments_create") && lib.Bind(e.comments_add, "ope_comments_add") &&
         lib.Bind(e.comments_destroy, "ope_comments_destroy") &&
         lib.Bind(e.encoder_create_callbacks, "ope_encoder_create_callbacks") &&
         lib.Bind(e.encoder_ctl, "ope_encoder_ctl") && lib.Bind(e.encoder_write, "ope_encoder_write") &&
         lib.Bind(e.encoder_write_float, "ope_encoder_write_float") &&
         lib.Bind(e.encoder_drain, "ope_encoder_drain") && lib.Bind(e.encoder_destroy, "ope_encoder_destroy") &&
         lib.Bind(e.strerror, "ope_strerror");
}

}  // namespace

const TOpusEncLibrary* LoadOpusEncLibrary() { return Library().Load(BindExports) ? &Exports() : nullptr; }

std::string OpusEncLibraryLoadFailedMessage() { return Library().LoadFailedMessage(); }
