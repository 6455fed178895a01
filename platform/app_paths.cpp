#include "platform/app_paths.h"

#include <cstdlib>
#include <system_error>

#include <unistd.h>

namespace platform {

namespace fs = std::filesystem;

fs::path ProgramFile() {
  std::error_code ec;
  fs::path exe = fs::read_symlink("/proc/self/exe", ec);
  if (ec) return fs::path();
  return exe;
}

std::string ProgramDir() {
  std::string dir = ProgramFile().parent_path().string();
  if (dir.empty() || dir.back() != '/') dir += '/';
  return dir;
}

bool IsWritableDir(const fs::path& dir) {
  std::error_code ec;
  return fs::is_directory(dir, ec) && ::access(dir.c_str(), W_OK | X_OK) == 0;
}

fs::path SettingsFilePath() {
  const fs::path program = ProgramFile();
  fs::path beside = program;
  beside.replace_extension(".ini");
  if (IsWritableDir(program.parent_path())) return beside;

  const fs::path dir = ApplicationDataDir();
  if (dir.empty()) return beside;
  return dir / beside.filename();
}

fs::path ApplicationDataDir() {
  fs::path base;
  if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && *xdg == '/') {
    base = xdg;
  } else if (const char* home = std::getenv("HOME"); home != nullptr && *home != '\0') {
    base = fs::path(home) / ".config";
  } else {
    return {};
  }
  const fs::path dir = base / "quellmark";
  std::error_code ec;
  fs::create_directories(dir, ec);
  return dir;
}

fs::path LanguageDir(const fs::path& installedDataDir) {
  const fs::path programDir = ProgramFile().parent_path();
  std::error_code ec;
  if (fs::is_directory(programDir / "language", ec)) return programDir / "language";
  const fs::path relative = programDir.parent_path() / "share" / "quellmark" / "language";
  if (fs::is_directory(relative, ec)) return relative;
  return installedDataDir / "quellmark" / "language";
}

std::string HomeDir() {
  const char* home = std::getenv("HOME");
  std::string dir = (home != nullptr && *home != '\0') ? home : "/";
  if (dir.back() != '/') dir += '/';
  return dir;
}

}  // namespace platform
