// The settings of the program, kept in memory and stored in the section
// "Options" of the settings file: the program's own keys, the keys
// of the window's own state (its geometry, the folder its file dialogs used
// last), all fields named like their keys, and the keys that formats of the
// catalog declare beyond them.
#pragma once

#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "codecs/format_catalog.h"
#include "platform/messages.h"

namespace platform {
class TIniFile;
}

inline constexpr const char* kSettingsSection = "Options";

// The text as a decimal integer, or EAuException with
// kFmtNotValidInteger.
int SettingTextToInt(std::string_view text);
// The same for the value of a format setting, which must also lie in the
// setting's range.
int SettingTextToInt(const TFormatSetting& setting, std::string_view text);

// "threadPrioriry" levels: 0 idle ... 6 time-critical.
inline constexpr int kMinThreadPriority = 0;
inline constexpr int kMaxThreadPriority = 6;
// The most rows "jobs" converts at once.
inline constexpr int kMaxJobs = 64;

// ALSA's name for the desktop's default output (PulseAudio or PipeWire where
// they run).
inline constexpr const char* kDefaultAudioDevice = "default";

struct TSettings : public TFormatOptions {
  // Defaults for a program living in programDir (which ends in '/').
  explicit TSettings(std::string programDir = std::string());

  std::string Language = "English";
  std::string OutputDir;
  int driveType = 0;
  int threadPrioriry = 3;
  // Rows converted at once; 0 is one per processor core.
  int jobs = 0;
  bool asInput = true;
  bool deleteSource = false;
  bool subdirs = true;
  int outputType = 0;
  std::string Bitrate = "128";
  int oggQuality = 3;
  int apeCompression = 2000;
  int wavCh = 1;
  int wavBps = 8;
  int wavSr = 22050;
  int wavFormat = 0;
  // The ALSA device the CD player plays on.
  std::string audioDevice = kDefaultAudioDevice;
  // An output whose name is taken by a file that was there before the run:
  // 0 both are kept (the output takes a free name), 1 the file is replaced,
  // 2 the row is skipped. Any other value counts as 0.
  int existingOutput = 0;
  // The window's state, kept for its next start. A width or height of 0
  // means none was stored: the window takes its first-run size.
  int WindowLeft = 0;
  int WindowTop = 0;
  int WindowWidth = 0;
  int WindowHeight = 0;
  bool WindowMaximized = false;
  // The folder the Add Files and Add Folder dialogs used last ("" before any).
  std::string LastFolder;
  // Keys that formats declare beyond the program's own, as the settings file
  // holds them; a key not here has its declared default.
  std::map<std::string, std::string> FormatValues;

  // The defaults of this installation: "OutputDir" is the program's folder,
  // or the user's home folder when the program's folder cannot be written
  // (a system-wide install), so output never defaults to a read-only place.
  static TSettings Defaults();

  // Reads every key in order, each with its current value as the default
  // (so call it on freshly constructed settings).
  void Load(const platform::TIniFile& ini);
  // Writes every key in order; a failing write raises and the keys after it
  // are not written.
  void Save(platform::TIniFile& ini) const;

  // Sets one key by its exact name from text, as the settings file would give
  // it. Returns false for an unknown key, a key of the window's state (it
  // means nothing to a conversion), a value that is not an integer where one
  // is needed, or one outside the range a format declares for it ("wavSr"
  // takes the engine's sample rates); Problem, when given, then receives the
  // kFmtNotValidInteger text for the value (empty for an unknown key).
  bool SetByName(std::string_view key, std::string_view value, std::string* Problem = nullptr);

  // The key names in the order they are read and written: the program's, the
  // window's, then the declared format keys.
  static const std::vector<std::string>& KeyNames();

  // TFormatOptions: a key's value as a number (Booleans as 1 and 0) or as
  // text; unknown keys give 0 and "".
  int Integer(const std::string& key) const override;
  std::string Text(const std::string& key) const override;
};
