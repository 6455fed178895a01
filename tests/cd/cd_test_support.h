// Shared pieces of the CD tests: a settings folder of the test's own (so
// that no test writes the user's cdr.ini), standard error captured around a
// block, a source over an image drive, a gate that holds a run, a grab to
// WAV, and an audio device that plays into a file.
#pragma once

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "cdaudio/cd_in.h"
#include "codecs/wav_out.h"
#include "pipeline/au_converter.h"
#include "tests/cd/disc_image.h"
#include "tests/support/hold_gate.h"
#include "tests/support/support.h"

namespace cdtest {

using qmtest::ReadText;
using qmtest::WriteText;

// Points XDG_CONFIG_HOME at a folder of this process before any test runs
// and removes it at the end.
class TConfigHome {
 public:
  TConfigHome() { ::setenv("XDG_CONFIG_HOME", Dir.Path().c_str(), 1); }
  qmtest::TTempDir Dir;
  const fs::path& Path = Dir.Path();
};

inline TConfigHome& ConfigHome() {
  static TConfigHome home;
  return home;
}

// Everything written to file descriptor 2 between construction and Text().
class TStderrCapture {
 public:
  explicit TStderrCapture(const fs::path& file) : File(file) {
    std::fflush(stderr);
    Saved = ::dup(2);
    const int fd = ::open(File.c_str(), O_CREAT | O_TRUNC | O_WRONLY, 0600);
    ::dup2(fd, 2);
    ::close(fd);
  }
  ~TStderrCapture() { Restore(); }
  std::string Text() {
    Restore();
    return ReadText(File);
  }

 private:
  void Restore() {
    if (Saved < 0) return;
    std::fflush(stderr);
    ::dup2(Saved, 2);
    ::close(Saved);
    Saved = -1;
  }
  fs::path File;
  int Saved = -1;
};

// A ripping source reading the image (added as a drive) in one of the
// library's modes.
struct TReadMode {
  const char* Name;
  bool Jitter;
  bool Paranoid;
  int ParanoiaMode;
  int MultiReadCount;
};

inline const TReadMode kReadModes[] = {
    {"plain", false, false, 0, 0},
    {"jitter", true, false, 0, 0},
    {"paranoid", false, true, 0, 0},
    {"paranoia-bits", false, false, 0xFF, 3},
};

inline void ApplyMode(TCDIn& in, const TReadMode& mode) {
  in.EnableJitterCorrection = mode.Jitter;
  in.Paranoid = mode.Paranoid;
  in.ParanoiaMode = mode.ParanoiaMode;
  in.MultiReadCount = mode.MultiReadCount;
}

inline int UseImage(TCDIn& in, const fs::path& image) {
  in.CurrentDrive = in.AddDrive(image.string());
  return in.CurrentDrive;
}

// Passes its input through; while Hold is closed (as it starts) each pull
// waits there, so that the source is held in the middle of a run.
class TGate : public TAuConverter {
 public:
  TGate() { Hold = true; }
  ~TGate() override { NotifyRemoval(); }
  qmtest::THoldGate Hold;

 protected:
  void InitInternal() override {
    CheckInput();
    FInput->Init();
    Size = FInput->Size.load();
    Busy = true;
  }
  void FlushInternal() override {
    FInput->Flush();
    Busy = false;
  }
  void GetDataInternal(void*& Buffer, uint32_t& Bytes) override {
    Hold.Pass();
    FInput->GetData(Buffer, Bytes);
  }
};

// Grabs the source's chosen range into a WAV file; the run's failure, or "".
inline std::string GrabToWav(TCDIn& in, const fs::path& out) {
  TWaveOut sink;
  sink.SetInput(&in);
  sink.SetFileName(out.string());
  EXPECT_TRUE(qmtest::RunToEnd(sink));
  return sink.ExceptionMessage;
}

// The ALSA device of the player tests: the library's file plugin over its
// null device, which writes exactly the PCM it is given into a file (and
// plays nothing). UseFileAudioDevice points ALSA_CONFIG_PATH at a
// configuration in `dir` that defines it, writing to the file it returns.
inline constexpr const char* kFileAudioDevice = "quellmark_test_file";

inline fs::path UseFileAudioDevice(const fs::path& dir) {
  const fs::path played = dir / "played.raw";
  const fs::path config = dir / "asound.conf";
  WriteText(config, std::string("pcm.") + kFileAudioDevice + " {\n  type file\n  slave { pcm { type null } }\n  file \"" +
                        played.string() + "\"\n  format \"raw\"\n}\n");
  ::setenv("ALSA_CONFIG_PATH", config.c_str(), 1);
  return played;
}

}  // namespace cdtest
