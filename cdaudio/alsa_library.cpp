#include "cdaudio/alsa_library.h"

#include "platform/dynamic_library.h"

namespace {

platform::DynamicLibrary& Library() {
  static platform::DynamicLibrary library(kAlsaLibraryFileName);
  return library;
}

TAlsaLibrary& Exports() {
  static TAlsaLibrary exports;
  return exports;
}

// Without a handler of its own the library prints every failed open
// ("Unknown PCM ...") to standard error, beside the message we raise.
void IgnoreLibraryMessage(const char*, int, const char*, int, const char*, ...) {}

bool BindExports(platform::DynamicLibrary& lib) {
  TAlsaLibrary& e = Exports();
  const bool bound = lib.Bind(e.pcm_open, "snd_pcm_open") && lib.Bind(e.pcm_close, "snd_pcm_close") &&
                     lib.Bind(e.pcm_set_params, "snd_pcm_set_params") &&
                     lib.Bind(e.pcm_writei, "snd_pcm_writei") && lib.Bind(e.pcm_recover, "snd_pcm_recover") &&
                     lib.Bind(e.pcm_prepare, "snd_pcm_prepare") && lib.Bind(e.pcm_pause, "snd_pcm_pause") &&
                     lib.Bind(e.pcm_drain, "snd_pcm_drain") && lib.Bind(e.pcm_drop, "snd_pcm_drop") &&
                     lib.Bind(e.pcm_state, "snd_pcm_state") && lib.Bind(e.strerror, "snd_strerror") &&
                     lib.Bind(e.lib_error_set_handler, "snd_lib_error_set_handler") &&
                     lib.Bind(e.device_name_hint, "snd_device_name_hint") &&
                     lib.Bind(e.device_name_get_hint, "snd_device_name_get_hint") &&
                     lib.Bind(e.device_name_free_hint, "snd_device_name_free_hint");
  if (bound) e.lib_error_set_handler(IgnoreLibraryMessage);
  return bound;
}

}  // namespace

const TAlsaLibrary* LoadAlsaLibrary() {
  return Library().Load(BindExports) ? &Exports() : nullptr;
}

bool AlsaLibraryLoaded() { return Library().Loaded(); }

std::string AlsaNotLoadedMessage() { return Library().LoadFailedMessage(); }
