// Writes small PCM WAV files for the tests: a sine in every channel.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <sys/wait.h>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

inline void WriteSineWav(const std::filesystem::path& file, int rate, int channels, int bits,
                         std::int64_t frames, double hz = 440.0) {
  const int bytes = bits / 8;
  const std::uint32_t dataSize = static_cast<std::uint32_t>(frames * channels * bytes);
  std::vector<char> out;
  out.reserve(44 + dataSize);
  auto put = [&out](std::uint32_t v, int n) {
    for (int i = 0; i < n; ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto tag = [&out](const char* t) { out.insert(out.end(), t, t + 4); };
  tag("RIFF");
  put(36 + dataSize, 4);
  tag("WAVE");
  tag("fmt ");
  put(16, 4);
  put(1, 2);
  put(static_cast<std::uint32_t>(channels), 2);
  put(static_cast<std::uint32_t>(rate), 4);
  put(static_cast<std::uint32_t>(rate * channels * bytes), 4);
  put(static_cast<std::uint32_t>(channels * bytes), 2);
  put(static_cast<std::uint32_t>(bits), 2);
  tag("data");
  put(dataSize, 4);
  const double step = 2 * 3.14159265358979 * hz / rate;
  for (std::int64_t f = 0; f < frames; ++f) {
    const double s = 0.5 * std::sin(step * static_cast<double>(f));
    for (int c = 0; c < channels; ++c) {
      if (bits == 8) {
        put(static_cast<std::uint32_t>(128 + std::lround(s * 127)), 1);
      } else {
        const auto v = static_cast<std::int32_t>(std::lround(s * ((1 << (bits - 1)) - 1)));
        put(static_cast<std::uint32_t>(v), bytes);
      }
    }
  }
  std::filesystem::create_directories(file.parent_path());
  std::ofstream(file, std::ios::binary).write(out.data(), static_cast<std::streamsize>(out.size()));
}

// Runs a shell command and returns what it wrote to standard output.
inline std::string RunCommand(const std::string& command, int* status = nullptr) {
  std::string output;
  if (FILE* pipe = ::popen(command.c_str(), "r")) {
    char buffer[4096];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, got);
    const int rc = ::pclose(pipe);
    if (status != nullptr) *status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
  }
  return output;
}

inline std::string Quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) {
    if (c == '\'') {
      q += "'\\''";
    } else {
      q += c;
    }
  }
  return q + "'";
}

// "codec_name|sample_rate|channels|bits_per_sample" of the first stream, by
// ffprobe.
inline std::string ProbeStream(const std::filesystem::path& file) {
  std::string out = RunCommand(
      "ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bits_per_sample "
      "-of csv=p=0:s='|' " +
      Quote(file.string()));
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}
