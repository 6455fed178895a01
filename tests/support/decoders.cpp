#include "tests/support/decoders.h"

#include <gtest/gtest.h>

#include "tests/support/process.h"

namespace qmtest {

namespace fs = std::filesystem;

std::vector<uint8_t> FfmpegDecode(const fs::path& file, const std::string& format, const std::string& inputOptions,
                                  const std::string& outputOptions) {
  const std::string command = "ffmpeg -nostdin -v error " + inputOptions + " -i " + Quote(file) + " " +
                              outputOptions + " -f " + format + " -";
  const TRunResult r = RunShell(command);
  EXPECT_TRUE(r.Ok()) << command << "\n" << r.Err;
  return std::vector<uint8_t>(r.Out.begin(), r.Out.end());
}

void FfmpegGenerate(const std::string& source, const std::string& options, const fs::path& out) {
  const std::string command =
      "ffmpeg -nostdin -v error -y -f lavfi -i " + Quote(source) + " " + options + " " + Quote(out);
  const TRunResult r = RunShell(command);
  EXPECT_TRUE(r.Ok()) << command << "\n" << r.Err;
}

std::string Probe(const fs::path& file, const std::string& field) {
  return TrimEnd(RunShell("ffprobe -v error -select_streams a:0 -show_entries stream=" + field +
                          " -of default=noprint_wrappers=1:nokey=1 " + Quote(file))
                     .Out);
}

std::string ProbeStream(const fs::path& file, const std::string& fields) {
  return TrimEnd(RunShell("ffprobe -v error -select_streams a:0 -show_entries stream=" + fields +
                          " -of csv=p=0:s='|' " + Quote(file))
                     .Out);
}

std::vector<uint8_t> SoxDecode(const fs::path& file) {
  const std::string command = "sox " + Quote(file) + " -t s16 -";
  const TRunResult r = RunShell(command);
  EXPECT_TRUE(r.Ok()) << command << "\n" << r.Err;
  return std::vector<uint8_t>(r.Out.begin(), r.Out.end());
}

std::string SoxInfo(const fs::path& file, const std::string& flag) {
  return TrimEnd(RunShell("soxi " + flag + " " + Quote(file)).Out);
}

}  // namespace qmtest
