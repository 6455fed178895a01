// File descriptors and the independent readers (mutagen, ffmpeg) of the tag
// tests, over the shared support.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "tests/support/files.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"

namespace tagtest {

using qmtest::ReadText;
using qmtest::TTempDir;
using qmtest::WriteText;

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

// Runs a Python script with Debian's interpreter (which has mutagen) and
// returns its standard output; the script's failure fails the test.
std::string RunPython(const qmtest::TTempDir& dir, const std::string& script);

// A Python string literal holding the text, every non-ASCII character escaped.
std::string PyString(std::u16string_view text);

// A one-second mono MP3 without any tag, made by ffmpeg with LAME.
void MakeMp3(const std::filesystem::path& path);

// The PCM samples ffmpeg decodes from a file, as 16-bit little-endian bytes.
std::string DecodePcm(const std::filesystem::path& path);

}  // namespace tagtest
