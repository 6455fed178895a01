// The system's audio output library (ALSA's libasound.so.2), loaded at run
// time and bound by export name, like the codec libraries: the program starts
// and converts without it, and only playing a CD track reports that it could
// not be loaded. Only the playback calls the CD player needs are bound.
#pragma once

#include <alsa/asoundlib.h>

#include <string>

inline constexpr const char* kAlsaLibraryFileName = "libasound.so.2";

struct TAlsaLibrary {
  decltype(&::snd_pcm_open) pcm_open = nullptr;
  decltype(&::snd_pcm_close) pcm_close = nullptr;
  decltype(&::snd_pcm_set_params) pcm_set_params = nullptr;
  decltype(&::snd_pcm_writei) pcm_writei = nullptr;
  decltype(&::snd_pcm_recover) pcm_recover = nullptr;
  decltype(&::snd_pcm_prepare) pcm_prepare = nullptr;
  decltype(&::snd_pcm_pause) pcm_pause = nullptr;
  decltype(&::snd_pcm_drain) pcm_drain = nullptr;
  decltype(&::snd_pcm_drop) pcm_drop = nullptr;
  decltype(&::snd_pcm_state) pcm_state = nullptr;
  decltype(&::snd_strerror) strerror = nullptr;
  decltype(&::snd_lib_error_set_handler) lib_error_set_handler = nullptr;
  decltype(&::snd_device_name_hint) device_name_hint = nullptr;
  decltype(&::snd_device_name_get_hint) device_name_get_hint = nullptr;
  decltype(&::snd_device_name_free_hint) device_name_free_hint = nullptr;
};

// Loads and binds the library once (a failed load is tried again at the next
// call) and silences the library's own messages on standard error: its
// errors come back as codes, which the player reports. nullptr when it
// cannot be loaded or lacks an export.
const TAlsaLibrary* LoadAlsaLibrary();

// Loaded in this process already (it stays loaded).
bool AlsaLibraryLoaded();

// "libasound.so.2 library could not be loaded."
std::string AlsaNotLoadedMessage();
