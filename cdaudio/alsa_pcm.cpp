#include "cdaudio/alsa_pcm.h"

#include <cstdlib>

#include "pipeline/au_exception.h"
#include "platform/messages.h"

std::vector<std::string> AlsaPlaybackDevices() {
  std::vector<std::string> names;
  const TAlsaLibrary* lib = LoadAlsaLibrary();
  void** hints = nullptr;
  if (lib == nullptr || lib->device_name_hint(-1, "pcm", &hints) < 0 || hints == nullptr) return names;
  for (void** hint = hints; *hint != nullptr; ++hint) {
    char* name = lib->device_name_get_hint(*hint, "NAME");
    char* io = lib->device_name_get_hint(*hint, "IOID");
    // No direction: the device plays and records.
    if (name != nullptr && (io == nullptr || std::string(io) == "Output")) names.emplace_back(name);
    std::free(name);
    std::free(io);
  }
  lib->device_name_free_hint(hints);
  return names;
}

TAlsaPcm::~TAlsaPcm() { Close(); }

void TAlsaPcm::Fail(int Code) const {
  const char* text = FLib != nullptr ? FLib->strerror(Code) : nullptr;
  throw EAuException(FormatMessage(kFmtAudioDeviceFailed, {FDevice, text != nullptr ? text : ""}));
}

void TAlsaPcm::Open(const std::string& Device, unsigned SampleRate, unsigned Channels, unsigned Latency) {
  Close();
  FLib = LoadAlsaLibrary();
  if (FLib == nullptr) throw EAuException(AlsaNotLoadedMessage());
  FDevice = Device;
  FFrameBytes = Channels * 2;
  snd_pcm_t* pcm = nullptr;
  int rc = FLib->pcm_open(&pcm, Device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
  if (rc < 0) {
    const char* text = FLib->strerror(rc);
    throw EAuException(FormatMessage(kFmtAudioDeviceNotOpened, {Device, text != nullptr ? text : ""}));
  }
  rc = FLib->pcm_set_params(pcm, SND_PCM_FORMAT_S16_LE, SND_PCM_ACCESS_RW_INTERLEAVED, Channels, SampleRate, 1,
                            Latency);
  if (rc < 0) {
    FLib->pcm_close(pcm);
    const char* text = FLib->strerror(rc);
    throw EAuException(FormatMessage(kFmtAudioDeviceNotOpened, {Device, text != nullptr ? text : ""}));
  }
  FPcm = pcm;
  FHeld = false;
}

void TAlsaPcm::Write(const uint8_t* Data, std::size_t Frames) {
  while (Frames > 0) {
    const snd_pcm_sframes_t written = FLib->pcm_writei(FPcm, Data, Frames);
    if (written < 0) {
      // An underrun (the reader fell behind) or a suspended device: recovered
      // from, and the same frames are written again.
      const int rc = FLib->pcm_recover(FPcm, static_cast<int>(written), 1);
      if (rc < 0) Fail(rc);
      continue;
    }
    Data += static_cast<std::size_t>(written) * FFrameBytes;
    Frames -= static_cast<std::size_t>(written);
  }
}

void TAlsaPcm::Pause() {
  if (FPcm == nullptr) return;
  if (FLib->pcm_state(FPcm) == SND_PCM_STATE_RUNNING && FLib->pcm_pause(FPcm, 1) == 0) {
    FHeld = true;
    return;
  }
  // Not running yet (nothing started), or a device without pause: what it
  // holds plays out, and Resume prepares it for the next frames.
  FHeld = false;
  FLib->pcm_drain(FPcm);
}

void TAlsaPcm::Resume() {
  if (FPcm == nullptr) return;
  if (FHeld) {
    FHeld = false;
    if (FLib->pcm_pause(FPcm, 0) == 0) return;
  }
  const int rc = FLib->pcm_prepare(FPcm);
  if (rc < 0) Fail(rc);
}

void TAlsaPcm::Drain() {
  if (FPcm == nullptr) return;
  if (FHeld) Resume();
  FLib->pcm_drain(FPcm);
}

void TAlsaPcm::Close() {
  if (FPcm == nullptr) return;
  FLib->pcm_drop(FPcm);
  FLib->pcm_close(FPcm);
  FPcm = nullptr;
  FHeld = false;
}
