// Where the program keeps its settings file and finds its language files.
#pragma once

#include <filesystem>
#include <string>

namespace platform {


// The running program's file (from /proc/self/exe).
std::filesystem::path ProgramFile();

// The directory of the program file, as text ending in '/'.
std::string ProgramDir();

// The settings file: the program's path with ".ini" beside the program when
// that folder is writable (a portable install, the build tree); otherwise
// $XDG_CONFIG_HOME/quellmark/<program name>.ini (else ~/.config/quellmark/...).
// The folder of the returned path exists when this returns (created if need be
// and possible).
std::filesystem::path SettingsFilePath();

// The folder holding <language>.ini: "language" beside the program when it
// exists, else the installed data folder <prefix>/share/quellmark/language,
// found relative to the program (bin/../share/...) or below installedDataDir
// (the configured <prefix>/share).
std::filesystem::path LanguageDir(const std::filesystem::path& installedDataDir = "/usr/local/share");

// The user's application-data folder: $XDG_CONFIG_HOME/quellmark, else
// ~/.config/quellmark; empty when neither can be named. Created if need be
// and possible.
std::filesystem::path ApplicationDataDir();

// The user's home directory with a trailing '/', for a default output folder
// when the program's folder cannot be written.
std::string HomeDir();

// True when files can be created in the folder.
bool IsWritableDir(const std::filesystem::path& dir);

}  // namespace platform
