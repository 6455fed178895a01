// The Ogg Opus encoder library (libopusenc.so.0), loaded at run time and
// bound by export name. It brings libopus with it.
#pragma once

#include <opusenc.h>

#include <string>

inline constexpr const char* kOpusEncLibraryFileName = "libopusenc.so.0";

// The exports the Opus sink calls, bound once per process.
struct TOpusEncLibrary {
  decltype(&::ope_comments_create) comments_create = nullptr;
  decltype(&::ope_comments_add) comments_add = nullptr;
  decltype(&::ope_comments_destroy) comments_destroy = nullptr;
  decltype(&::ope_encoder_create_callbacks) encoder_create_callbacks = nullptr;
  decltype(&::ope_encoder_ctl) encoder_ctl = nullptr;
  decltype(&::ope_encoder_write) encoder_write = nullptr;
  decltype(&::ope_encoder_write_float) encoder_write_float = nullptr;
  decltype(&::ope_encoder_drain) encoder_drain = nullptr;
  decltype(&::ope_encoder_destroy) encoder_destroy = nullptr;
  decltype(&::ope_strerror) strerror = nullptr;
};

// Loads the library on first use; a failed load is tried again at the next
// call. Returns nullptr when it cannot be loaded (or lacks an export).
const TOpusEncLibrary* LoadOpusEncLibrary();
// "libopusenc.so.0 library could not be loaded."
std::string OpusEncLibraryLoadFailedMessage();
