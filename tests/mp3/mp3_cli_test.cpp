// MP3 output through the real quellmark-cli: output type 1 writes an MP3 of
// a WAV source at the bit rate "Bitrate" names by its text.
#include <gtest/gtest.h>

#include "mp3_test_support.h"

using namespace mp3test;

#ifdef QUELLMARK_CLI

namespace {

struct TCliResult {
  int Status = -1;
  std::string Out;
};

TCliResult RunCli(const std::string& args) {
  const TRunResult r = RunShell(Quote(fs::path(QUELLMARK_CLI)) + " " + args);
  return {r.Status, r.Out};
}

int32_t Tone(int64_t f, int c) { return static_cast<int32_t>(12000 * std::sin(0.03 * static_cast<double>(f) * (c + 1))); }

std::string ProbeLine(const fs::path& file) {
  return CommandOutput("ffprobe -v error -select_streams a:0 -show_entries stream=codec_name,sample_rate,channels,bit_rate "
                 "-of csv=p=0:s='|' " +
                 Quote(file));
}

}  // namespace

TEST(Mp3Cli, OutputTypeOneWritesAnMp3AtTheBitrateByItsText) {
  QM_REQUIRE_TOOLS("ffprobe");
  TTempDir dir;
  const fs::path wav = dir / "song.wav";
  WriteWav(wav, 44100, 2, 16, 44100, Tone);
  // The texts of the dialog's list and 112 map to their rates; any other
  // text leaves the rate to the encoder (128 kbit/s for stereo).
  for (auto [text, kbps] : {std::pair{"192", 192}, std::pair{"320", 320}, std::pair{"112", 112},
                            std::pair{"40", 128}, std::pair{"100", 128}, std::pair{"", 128}}) {
    SCOPED_TRACE(text);
    const auto r = RunCli("--set outputType=1 --set existingOutput=1 --set Bitrate=" + Quote(fs::path(text)) + " " + Quote(wav));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "done: " + (dir / "song.mp3").string() + "\n");
    EXPECT_EQ(ProbeLine(dir / "song.mp3"), "mp3|44100|2|" + std::to_string(kbps * 1000));
    EXPECT_TRUE(ParseStream(ReadFile(dir / "song.mp3")).Id3v1AtEnd);
  }
  // A 24-bit mono source at another rate keeps its rate and channel.
  const fs::path deep = dir / "deep.wav";
  WriteWav(deep, 22050, 1, 24, 22050, [](int64_t f, int) { return Tone(f, 0) * 256; });
  const auto r = RunCli("--set outputType=1 --set Bitrate=64 " + Quote(deep));
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(ProbeLine(dir / "deep.mp3"), "mp3|22050|1|64000");
}

TEST(Mp3Cli, ThreeChannelsFailTheirRowWithAMessageAndNoFile) {
  TTempDir dir;
  WriteWav(dir / "a.wav", 44100, 3, 16, 4410, Tone);
  WriteWav(dir / "b.wav", 44100, 2, 16, 4410, Tone);
  const auto r = RunCli("--set outputType=1 " + Quote(dir / "a.wav") + " " + Quote(dir / "b.wav"));
  EXPECT_EQ(r.Status, 1);
  EXPECT_EQ(r.Out, "failed: " + (dir / "a.wav").string() + ": Cannot encode more than 2 channels into MP3.\n" +
                       "done: " + (dir / "b.mp3").string() + "\n");
  EXPECT_FALSE(fs::exists(dir / "a.mp3"));
  EXPECT_TRUE(fs::exists(dir / "b.mp3"));
}

#endif  // QUELLMARK_CLI
