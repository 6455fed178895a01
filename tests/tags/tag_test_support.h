// Files, processes and independent readers for the tag tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace tagtest {

// A fresh folder under the system temp folder, removed with everything in it.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& Path() const { return FPath; }
  std::filesystem::path operator/(std::string_view name) const { return FPath / name; }

 private:
  std::filesystem::path FPath;
};

// An open file descriptor, closed on destruction.
class Fd {
 public:
  explicit Fd(int fd) : FFd(fd) {}
  ~Fd();
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int Get() const { return FFd; }

 private:
  int FFd;
};

Fd OpenReadWrite(const std::filesystem::path& path);
Fd OpenReadOnly(const std::filesystem::path& path);

void WriteFile(const std::filesystem::path& path, std::string_view bytes);
std::string ReadFile(const std::filesystem::path& path);

// Runs a shell command; its standard output, and its exit status in *status.
std::string Run(const std::string& command, int* status);

// Runs a Python script with Debian's interpreter (which has mutagen) and
// returns its standard output; the script's failure fails the test.
std::string RunPython(const TempDir& dir, const std::string& script);

// A Python string literal holding the text, every non-ASCII character escaped.
std::string PyString(std::u16string_view text);

// A one-second mono MP3 without any tag, made by ffmpeg with LAME.
void MakeMp3(const std::filesystem::path& path);

// The PCM samples ffmpeg decodes from a file, as 16-bit little-endian bytes.
std::string DecodePcm(const std::filesystem::path& path);

}  // namespace tagtest
