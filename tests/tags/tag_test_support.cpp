#include "tag_test_support.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <fstream>
#include <random>
#include <sstream>

namespace tagtest {

namespace {

std::string Quote(const std::filesystem::path& path) {
  std::string quoted = "'";
  for (const char c : path.string()) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

TempDir::TempDir() {
  static std::atomic<int> counter{0};
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = "quellmark-tags-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
  if (info != nullptr) name += std::string("-") + info->name();
  for (char& c : name)
    if (c == '/') c = '_';
  FPath = std::filesystem::temp_directory_path() / name;
  std::filesystem::remove_all(FPath);
  std::filesystem::create_directories(FPath);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(FPath, ignored);
}

Fd::~Fd() {
  if (FFd >= 0) ::close(FFd);
}

Fd OpenReadWrite(const std::filesystem::path& path) { return Fd(::open(path.c_str(), O_RDWR | O_CLOEXEC)); }
Fd OpenReadOnly(const std::filesystem::path& path) { return Fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)); }

void WriteFile(const std::filesystem::path& path, std::string_view bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  ASSERT_TRUE(out.good()) << path;
}

std::string ReadFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

std::string Run(const std::string& command, int* status) {
  std::string output;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    *status = -1;
    return output;
  }
  char buffer[65536];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  *status = ::pclose(pipe);
  return output;
}

std::string RunPython(const TempDir& dir, const std::string& script) {
  static std::atomic<int> counter{0};
  const auto path = dir / ("script" + std::to_string(counter++) + ".py");
  WriteFile(path, script);
  int status = 0;
  const std::string output = Run("/usr/bin/python3 " + Quote(path) + " 2>&1", &status);
  EXPECT_EQ(status, 0) << output;
  return output;
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
  int status = 0;
  const std::string output = Run(
      "ffmpeg -hide_banner -loglevel error -y -f lavfi -i sine=frequency=440:duration=1:sample_rate=44100 "
      "-c:a libmp3lame -b:a 128k -id3v2_version 0 -write_xing 0 " + Quote(path) + " 2>&1",
      &status);
  ASSERT_EQ(status, 0) << output;
}

std::string DecodePcm(const std::filesystem::path& path) {
  int status = 0;
  std::string pcm = Run("ffmpeg -hide_banner -loglevel error -i " + Quote(path) + " -f s16le -", &status);
  EXPECT_EQ(status, 0);
  return pcm;
}

}  // namespace tagtest
