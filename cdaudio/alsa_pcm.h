// One ALSA playback stream of interleaved 16-bit little-endian PCM, opened
// by device name ("default", "hw:0", a name of the user's .asoundrc) and
// closed when the object goes. Every failure raises EAuException naming the
// device with the library's own text for its error code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "cdaudio/alsa_library.h"

// The names of the playback devices ALSA's configuration describes, as
// offered to the user ("default" among them where it is described); empty
// without the library.
std::vector<std::string> AlsaPlaybackDevices();

class TAlsaPcm {
 public:
  TAlsaPcm() = default;
  ~TAlsaPcm();
  TAlsaPcm(const TAlsaPcm&) = delete;
  TAlsaPcm& operator=(const TAlsaPcm&) = delete;

  // Loads the library (raising its load failure), opens the device and sets
  // it up for the format, with about Latency microseconds of buffer.
  void Open(const std::string& Device, unsigned SampleRate, unsigned Channels, unsigned Latency);
  bool IsOpen() const { return FPcm != nullptr; }

  // Plays Frames frames (blocking while the device's buffer is full); an
  // underrun or a suspend on the way is recovered from and the rest written.
  void Write(const uint8_t* Data, std::size_t Frames);
  // Holds playback where it is, keeping what the device has buffered; where
  // the device cannot pause, lets the buffer play out first. Resume goes on
  // with the next frame written, in either case.
  void Pause();
  void Resume();
  // Lets everything written play to the end.
  void Drain();
  // Discards what is buffered and closes the device.
  void Close();

 private:
  [[noreturn]] void Fail(int Code) const;

  const TAlsaLibrary* FLib = nullptr;
  snd_pcm_t* FPcm = nullptr;
  std::string FDevice;
  unsigned FFrameBytes = 0;
  // Pause held the stream on the device (rather than draining it).
  bool FHeld = false;
};
