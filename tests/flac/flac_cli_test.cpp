// FLAC through the real quellmark-cli: output type 5 writes a FLAC file of
// a WAV source at "flacLevel", a level outside 0..8 is refused, and a
// missing libFLAC fails the FLAC rows only.
#include <gtest/gtest.h>

#include "codecs/flac_library.h"
#include "flac_test_support.h"
#include "platform/dynamic_library.h"
#include "tests/support/temp_dir.h"

using namespace flactest;

#ifdef QUELLMARK_CLI

namespace {

TRunResult RunCli(const std::string& args, const std::string& env = "") {
  return RunShell(env + (env.empty() ? "" : " ") + Quote(fs::path(QUELLMARK_CLI)) + " " + args);
}

}  // namespace

TEST(FlacCli, OutputTypeFiveWritesLosslessFlacAtTheLevelSetting) {
  QM_REQUIRE_TOOLS("flac", "metaflac");
  TTempDir dir;
  const fs::path wav = dir / "song.wav";
  const TPcm pcm = Generate(24, 2, 96000, 3 * 96000 + 5, [](int64_t f, int c) { return Music(f, c) * 200; });
  WriteWav(wav, pcm);
  std::map<int, std::uintmax_t> sizes;
  for (int level : {0, 8}) {
    SCOPED_TRACE(level);
    const auto r = RunCli("--set outputType=5 --set existingOutput=1 --set flacLevel=" + std::to_string(level) + " " + Quote(wav));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "done: " + (dir / "song.flac").string() + "\n");
    EXPECT_EQ(FlacTest(dir / "song.flac").Status, 0);
    EXPECT_TRUE(FlacDecode(dir / "song.flac") == pcm.Bytes);
    const auto blocks = MetaflacList(dir / "song.flac");
    EXPECT_EQ(blocks.at(0).at("sample_rate"), "96000 Hz");
    EXPECT_EQ(blocks.at(0).at("bits-per-sample"), "24");
    sizes[level] = fs::file_size(dir / "song.flac");
  }
  EXPECT_LT(sizes[8], sizes[0]);
}

TEST(FlacCli, ALevelOutsideTheRangeIsRefused) {
  TTempDir dir;
  WriteWav(dir / "a.wav", Sine(16, 1, 8000, 800));
  for (const char* level : {"9", "-1", "fast"}) {
    SCOPED_TRACE(level);
    const auto r = RunCli("--set outputType=5 --set flacLevel=" + std::string(level) + " " + Quote(dir / "a.wav"));
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("'" + std::string(level) + "' is not a valid integer value"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "a.flac"));
  }
}

TEST(FlacCli, AMissingLibraryFailsTheFlacRowWithItsMessageAndOtherFormatsStillWork) {
  TTempDir dir;
  const fs::path wav = dir / "a.wav";
  WriteWav(wav, Sine(16, 2, 44100, 4410));
  const std::string hidden = std::string(platform::kLibraryOverrideVariable) + "=" + kFlacLibraryFileName + "=";
  const auto r = RunCli("--set outputType=5 " + Quote(wav), hidden);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "failed: " + wav.string() + ": " + kFlacLibraryFileName + " library could not be loaded.\n");
  EXPECT_FALSE(fs::exists(dir / "a.flac"));
  for (int type : {0, 2, 6}) {
    SCOPED_TRACE(type);
    fs::create_directory(dir / std::to_string(type));
    const auto other = RunCli("--set outputType=" + std::to_string(type) + " --set asInput=0 --set OutputDir=" +
                                  Quote(dir / std::to_string(type)) + " " + Quote(wav),
                              hidden);
    EXPECT_EQ(other.Status, 0) << other.Err;
    EXPECT_EQ(other.Out.rfind("done: ", 0), 0u) << other.Out;
  }
}

#endif  // QUELLMARK_CLI
