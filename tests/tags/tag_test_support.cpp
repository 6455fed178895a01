#include "tag_test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>

#include "tests/support/decoders.h"

namespace tagtest {

Fd::~Fd() {
  if (FFd >= 0) ::close(FFd);
}

Fd OpenReadWrite(const std::filesystem::path& path) { return Fd(::open(path.c_str(), O_RDWR | O_CLOEXEC)); }
Fd OpenReadOnly(const std::filesystem::path& path) { return Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

std::string RunPython(const TTempDir& dir, const std::string& script) {
  static std::atomic<int> counter{0};
  const auto path = dir / ("script" + std::to_string(counter++) + ".py");
  WriteText(path, script);
  const qmtest::TRunResult run = qmtest::RunShell("/usr/bin/python3 " + qmtest::Quote(path) + " 2>&1");
  EXPECT_EQ(run.Status, 0) << run.Out;
  return run.Out;
}

std::string PyString(std::u16string_view text) {
  std::string literal = "'";
  char escape[16];
  for (std::size_t i = 0; i < text.size(); ++i) {
    char32_t cp = text[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000)
      cp = 0x10000 + ((cp - 0xD800) << 10) + (text[++i] - 0xDC00);
    if (cp >= 0x20 && cp < 0x7F && cp != '\\' && cp != '\'') {
      literal += static_cast<char>(cp);
    } else {
      std::snprintf(escape, sizeof escape, "\\U%08X", static_cast<unsigned>(cp));
      literal += escape;
    }
  }
  return literal + "'";
}

void MakeMp3(const std::filesystem::path& path) {
  qmtest::FfmpegGenerate("sine=frequency=440:duration=1:sample_rate=44100",
                         "-c:a libmp3lame -b:a 128k -id3v2_version 0 -write_xing 0", path);
}

std::string DecodePcm(const std::filesystem::path& path) {
  const std::vector<uint8_t> pcm = qmtest::FfmpegDecode(path, "s16le");
  return std::string(pcm.begin(), pcm.end());
}

}  // namespace tagtest
