// The fifteen settings of the program, kept in memory and stored in the
// section "Options" of the settings file. Field names are the key names.
#pragma once

#include <array>
#include <string>
#include <string_view>


namespace platform {
class TIniFile;
}

inline constexpr const char* kSettingsSection = "Options";
// A settings text that must be an integer but is not; %s is the text.
inline constexpr const char* kMsgNotValidInteger = "'%s' is not a valid integer value";

// The text as a decimal integer, or std::runtime_error with
// kMsgNotValidInteger.
int SettingTextToInt(std::string_view text);
// The text as a WAV output sample rate: an integer within the engine's rates
// (kMinSampleRate ... kMaxSampleRate), else std::runtime_error with
// kMsgNotValidInteger, the same refusal as a text that is no integer.
int SettingTextToSampleRate(std::string_view text);

// "threadPrioriry" levels: 0 idle ... 6 time-critical.
inline constexpr int kMinThreadPriority = 0;
inline constexpr int kMaxThreadPriority = 6;

struct TSettings {
  // Defaults for a program living in programDir (which ends in '/').
  explicit TSettings(std::string programDir = std::string());

  std::string Language = "English";
  std::string OutputDir;
  int driveType = 0;
  int threadPrioriry = 3;
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

  // The defaults of this installation: "OutputDir" is the program's folder,
  // or the user's home folder when the program's folder cannot be written
  // (a system-wide install), so output never defaults to a read-only place.
  static TSettings Defaults();

  // Reads the fifteen keys in table order, each with its current value as
  // the default (so call it on freshly constructed settings).
  void Load(const platform::TIniFile& ini);
  // Writes the fifteen keys in table order; a failing write raises and the
  // keys after it are not written.
  void Save(platform::TIniFile& ini) const;

  // Sets one key by its exact name from text, as the settings file would give
  // it. Returns false for an unknown key or a value that is not an integer
  // where one is needed (or for "wavSr" not a sample rate the engine takes);
  // Problem, when given, then receives the kMsgNotValidInteger text for the
  // value (empty for an unknown key).
  bool SetByName(std::string_view key, std::string_view value, std::string* Problem = nullptr);

  // The key names, in the order they are read and written.
  static const std::array<const char*, 15>& KeyNames();
};

