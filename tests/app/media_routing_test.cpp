// Files of the formats the media runtime reads besides MP3 and WMA, made by
// ffmpeg: probed and converted to every output type through quellmark-cli,
// the lossless ones to WAV bit-exactly in their own sample width, with their
// title, artist and album carried.
#include <gtest/gtest.h>

#include "tests/app/routing_test_support.h"

using namespace qmtest;
using routingtest::ReadTags;
using routingtest::TTags;

#if defined(QUELLMARK_CLI)

namespace {

struct TMediaCase {
  const char* Name;
  const char* Options;
  // Lossless files decode to exactly the samples they were made from.
  int LosslessBits;
};

const TMediaCase kCases[] = {
    {"s16.flac", "-c:a flac -sample_fmt s16", 16},
    {"s24.flac", "-c:a flac", 24},
    {"s24.wv", "-c:a wavpack -bits_per_raw_sample 24", 24},
    {"s16.aiff", "-c:a pcm_s16be -write_id3v2 1", 16},
    {"s24.aif", "-c:a pcm_s24be -write_id3v2 1", 24},
    {"aac.m4a", "-c:a aac -b:a 128k", 0},
    {"voice.opus", "-c:a libopus -b:a 96k", 0},
};

class MediaRoutingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    QM_REQUIRE_TOOLS("ffmpeg", "ffprobe");
    QM_SKIP_UNLESS(HavePythonModule("mutagen"), "mutagen for /usr/bin/python3");
    // A 24-bit signal whose low bits are not zero, so a file cut to 16 bits
    // on the way would show.
    FfmpegGenerate("aevalsrc=0.5*sin(2*PI*440*t)+0.0001*random(0)|0.4*sin(2*PI*660*t)-0.0001*random(1):s=44100:d=1.2",
                   "-ac 2 -c:a pcm_s24le", Dir / "signal.wav");
  }

  fs::path Make(const TMediaCase& c) {
    const fs::path out = Dir / c.Name;
    const std::string cmd = "ffmpeg -nostdin -v error -y -i " + Quote(Dir / "signal.wav") +
                            " -metadata title=Tïtle -metadata artist=Band -metadata album=Disc " + c.Options + " " +
                            Quote(out);
    EXPECT_EQ(RunStatus(cmd), 0) << cmd;
    return out;
  }

  TTempDir Dir;
};

TEST_F(MediaRoutingTest, ProbedAndConvertedToEveryOutputWithTheirTags) {
  const TTags carried = {{"title", "Tïtle"}, {"artist", "Band"}, {"album", "Disc"}};
  const char* const codecs[] = {"", "mp3", "vorbis", "wmav2", "ape"};
  for (const TMediaCase& c : kCases) {
    SCOPED_TRACE(c.Name);
    const fs::path file = Make(c);
    const std::string rate = Probe(file, "sample_rate");
    const TRunResult probe = RunShell(Quote(QUELLMARK_CLI) + " --probe " + Quote(file));
    EXPECT_EQ(probe.Status, 0);
    const std::string row = std::string(c.Name) + "\t0:01\t" + rate + " Hz\t";
    EXPECT_EQ(probe.Out.rfind(row, 0), 0u) << probe.Out;
    EXPECT_NE(probe.Out.find(" kbps\t" + file.string() + "\n"), std::string::npos) << probe.Out;

    for (int type = 0; type <= 4; ++type) {
      SCOPED_TRACE("output type " + std::to_string(type));
      // The WAV settings do not apply to a source that is not WAV.
      const auto outputs = routingtest::CliConvert(
          "--set outputType=" + std::to_string(type) + " --set wavSr=8000 --set wavCh=1 --set wavBps=8", {file});
      if (outputs.size() != 1) continue;
      const fs::path& out = outputs[0];
      if (type == 0) {
        const int bits = c.LosslessBits != 0 ? c.LosslessBits : 16;
        const std::string pcm = bits == 24 ? "s24le" : "s16le";
        EXPECT_EQ(ProbeStream(out), "pcm_" + pcm + "|" + rate + "|2|" + std::to_string(bits));
        if (c.LosslessBits != 0) {
          const auto samples = FfmpegDecode(out, pcm);
          EXPECT_TRUE(samples == FfmpegDecode(file, pcm));
          if (bits == 24) {
            EXPECT_TRUE(samples == FfmpegDecode(Dir / "signal.wav", pcm));
          }
        }
        continue;
      }
      EXPECT_EQ(ProbeStream(out, "codec_name,sample_rate,channels"), std::string(codecs[type]) + "|" + rate + "|2");
      EXPECT_EQ(ReadTags(out), carried);
      // Reading the tags opened the file before the run: the run still
      // starts at the first sample.
      if (type == 4 && c.LosslessBits != 0) {
        const std::string pcm = c.LosslessBits == 24 ? "s24le" : "s16le";
        EXPECT_TRUE(FfmpegDecode(out, pcm) == FfmpegDecode(file, pcm));
      }
      fs::remove(out);
    }
  }
}

}  // namespace

#endif
