// Opus through the real quellmark-cli: output type 6 writes an Opus file of
// a WAV source at "opusBitrate", encoded as opusenc encodes it at that bit
// rate; a bit rate outside 6..512 is refused, and a missing libopusenc
// fails the Opus rows only.
#include <gtest/gtest.h>

#include "codecs/opus_library.h"
#include "opus_test_support.h"
#include "platform/dynamic_library.h"
#include "tests/support/temp_dir.h"

using namespace opustest;

#ifdef QUELLMARK_CLI

namespace {

TRunResult RunCli(const std::string& args, const std::string& env = "") {
  return RunShell(env + (env.empty() ? "" : " ") + Quote(fs::path(QUELLMARK_CLI)) + " " + args);
}

// Tones and noise, different in each channel.
int32_t Music(int64_t f, int c) {
  const double t = static_cast<double>(f) / 44100;
  const double v = 0.3 * std::sin(2 * M_PI * (220 + 55 * c) * t) + 0.15 * std::sin(2 * M_PI * (1500 + 300 * c) * t);
  return static_cast<int32_t>(std::lround(v * 32767)) + static_cast<int32_t>((f * 7919 + c * 31) % 801) - 400;
}

}  // namespace

TEST(OpusCli, OutputTypeSixEncodesAsOpusencDoesAtTheBitrateSetting) {
  QM_REQUIRE_TOOLS("opusinfo", "opusenc");
  TTempDir dir;
  const fs::path wav = dir / "song.wav";
  WriteWav(wav, Generate(16, 2, 44100, 4 * 44100 + 5, Music));
  std::uintmax_t last = 0;
  for (int kbps : {32, 128, 256}) {
    SCOPED_TRACE(kbps);
    const auto r = RunCli("--set outputType=6 --set existingOutput=1 --set opusBitrate=" + std::to_string(kbps) + " " + Quote(wav));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "done: " + (dir / "song.opus").string() + "\n");
    EXPECT_TRUE(Opusinfo(dir / "song.opus").Clean());
    // The same encoder settings give a stream of the same size (the headers
    // differ only in their comments).
    const fs::path reference = dir / "opusenc.opus";
    ASSERT_EQ(RunStatus("opusenc --quiet --bitrate " + std::to_string(kbps) + " " + Quote(wav) + " " +
                        Quote(reference)),
              0);
    const auto ours = static_cast<double>(fs::file_size(dir / "song.opus"));
    EXPECT_NEAR(ours / static_cast<double>(fs::file_size(reference)), 1.0, 0.01);
    EXPECT_GT(fs::file_size(dir / "song.opus"), last);
    last = fs::file_size(dir / "song.opus");
  }
}

TEST(OpusCli, ABitrateOutsideTheRangeIsRefused) {
  TTempDir dir;
  WriteWav(dir / "a.wav", Sine(16, 1, 8000, 800));
  for (const char* kbps : {"5", "513", "128k"}) {
    SCOPED_TRACE(kbps);
    const auto r = RunCli("--set outputType=6 --set opusBitrate=" + std::string(kbps) + " " + Quote(dir / "a.wav"));
    EXPECT_EQ(r.Status, 2);
    EXPECT_NE(r.Err.find("'" + std::string(kbps) + "' is not a valid integer value"), std::string::npos) << r.Err;
    EXPECT_FALSE(fs::exists(dir / "a.opus"));
  }
  for (const char* kbps : {"6", "512"}) {
    SCOPED_TRACE(kbps);
    const auto r = RunCli("--set outputType=6 --set opusBitrate=" + std::string(kbps) + " " + Quote(dir / "a.wav"));
    EXPECT_EQ(r.Status, 0) << r.Err;
  }
}

TEST(OpusCli, AMissingLibraryFailsTheOpusRowWithItsMessageAndOtherFormatsStillWork) {
  TTempDir dir;
  const fs::path wav = dir / "a.wav";
  WriteWav(wav, Sine(16, 2, 44100, 4410));
  const std::string hidden = std::string(platform::kLibraryOverrideVariable) + "=" + kOpusEncLibraryFileName + "=";
  const auto r = RunCli("--set outputType=6 " + Quote(wav), hidden);
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "failed: " + wav.string() + ": " + kOpusEncLibraryFileName + " library could not be loaded.\n");
  EXPECT_FALSE(fs::exists(dir / "a.opus"));
  for (int type : {1, 5}) {
    SCOPED_TRACE(type);
    const auto other = RunCli("--set outputType=" + std::to_string(type) + " " + Quote(wav), hidden);
    EXPECT_EQ(other.Status, 0) << other.Err;
    EXPECT_EQ(other.Out.rfind("done: ", 0), 0u) << other.Out;
  }
}

#endif  // QUELLMARK_CLI
