// Ogg Vorbis through the real quellmark-cli: output type 2 writes an Ogg
// Vorbis file of a WAV source at "oggQuality", an Ogg source converts to WAV
// in its own format with oggdec's samples, and hostile files fail with a
// message.
#include <gtest/gtest.h>

#include "codecs/vorbis_in.h"
#include "vorbis_test_support.h"

using namespace vorbistest;

#ifdef QUELLMARK_CLI

namespace {

TRunResult RunCli(const std::string& args) { return RunShell(Quote(fs::path(QUELLMARK_CLI)) + " " + args); }

// The samples of a WAV file's data chunk, and its format.
struct TWavData {
  int Channels = 0, Rate = 0, Bits = 0;
  std::vector<int16_t> Samples;
};

TWavData ReadWav(const fs::path& file) {
  TWavData w;
  const auto wav = ReadFile(file);
  for (std::size_t at = 12; at + 8 <= wav.size();) {
    const uint32_t size = wav[at + 4] | (wav[at + 5] << 8) | (wav[at + 6] << 16) | (uint32_t(wav[at + 7]) << 24);
    if (std::memcmp(wav.data() + at, "fmt ", 4) == 0 && at + 24 <= wav.size()) {
      w.Channels = wav[at + 10] | (wav[at + 11] << 8);
      w.Rate = static_cast<int>(wav[at + 12] | (wav[at + 13] << 8) | (wav[at + 14] << 16) | (uint32_t(wav[at + 15]) << 24));
      w.Bits = wav[at + 22] | (wav[at + 23] << 8);
    }
    if (std::memcmp(wav.data() + at, "data", 4) == 0) {
      const std::size_t n = std::min<std::size_t>(size, wav.size() - at - 8);
      w.Samples = AsInt16(std::vector<uint8_t>(wav.begin() + static_cast<std::ptrdiff_t>(at + 8),
                                               wav.begin() + static_cast<std::ptrdiff_t>(at + 8 + n)));
      break;
    }
    at += 8 + size + (size & 1);
  }
  return w;
}

}  // namespace

TEST(VorbisCli, OutputTypeTwoWritesOggAtTheQualitySetting) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo", "ffprobe");
  TTempDir dir;
  const fs::path wav = dir / "song.wav";
  WriteWav(wav, Generate(16, 2, 44100, 3 * 44100 + 5, [](int64_t f, int c) { return Music(44100, f, c); }));
  int32_t lastNominal = 0;
  for (int quality : {1, 3, 10}) {
    SCOPED_TRACE(quality);
    const auto r = RunCli("--set outputType=2 --set existingOutput=1 --set oggQuality=" + std::to_string(quality) + " " + Quote(wav));
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_EQ(r.Out, "done: " + (dir / "song.ogg").string() + "\n");
    EXPECT_TRUE(Ogginfo(dir / "song.ogg").Clean());
    EXPECT_EQ(Probe(dir / "song.ogg", "codec_name"), "vorbis");
    EXPECT_EQ(Oggdec(dir / "song.ogg", dir.Path()).size(), static_cast<std::size_t>((3 * 44100 + 5) * 2));
    const auto id = Identification(ParsePages(ReadFile(dir / "song.ogg")).at(0));
    EXPECT_GT(id.Nominal, lastNominal);
    lastNominal = id.Nominal;
  }
}

TEST(VorbisCli, AnOggSourceConvertsToWavInItsOwnFormat) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  const fs::path ogg = dir / "track.ogg";
  // The WAV settings ask for another rate, channels and width: they are for
  // WAV sources only.
  Oggenc(ogg, 32000, 1, 2 * 32000 + 99, [](int64_t f, int c) { return Music(32000, f, c); }, {"title=x"});
  const auto probe = RunCli("--probe " + Quote(ogg));
  EXPECT_EQ(probe.Out, "track.ogg\t0:02\t32000 Hz\t16 bps\t" + ogg.string() + "\n");
  const auto r = RunCli("--set outputType=0 --set wavSr=8000 --set wavCh=2 --set wavBps=8 " + Quote(ogg));
  EXPECT_EQ(r.Status, 0) << r.Err;
  EXPECT_EQ(r.Out, "done: " + (dir / "track.wav").string() + "\n");
  const TWavData wav = ReadWav(dir / "track.wav");
  EXPECT_EQ(wav.Channels, 1);
  EXPECT_EQ(wav.Rate, 32000);
  EXPECT_EQ(wav.Bits, 16);
  EXPECT_TRUE(wav.Samples == Oggdec(ogg, dir.Path()));
}

TEST(VorbisCli, HostileOggFilesFailWithAMessageAndTheOthersConvert) {
  QM_REQUIRE_TOOLS("oggenc", "oggdec", "ogginfo");
  TTempDir dir;
  const fs::path good = dir / "good.ogg";
  Oggenc(good, 44100, 2, 8 * 44100, [](int64_t f, int c) { return Music(44100, f, c) / 2 + ((f * 7 + c) % 9000); },
         {}, "-q 6");
  const auto bytes = ReadFile(good);
  WriteFile(dir / "cut.ogg", std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bytes.size() / 2)));
  std::vector<uint8_t> random(30000);
  uint32_t x = 99;
  for (auto& b : random) b = static_cast<uint8_t>((x = x * 1103515245 + 12345) >> 24);
  WriteFile(dir / "random.ogg", random);

  const auto r = RunCli(Quote(dir / "random.ogg") + " " + Quote(dir / "cut.ogg") + " " + Quote(good));
  EXPECT_EQ(r.Status, 1);
  // Random bytes cannot even be listed; the cut file fails its row.
  EXPECT_EQ(r.Err.rfind("error: " + (dir / "random.ogg").string() + ": " + kMsgVorbisFailedToOpenFile + "-132\n", 0), 0u)
      << r.Err;
  EXPECT_EQ(r.Out, "failed: " + (dir / "cut.ogg").string() + ": " + kMsgVorbisTruncated + "\n" + "done: " +
                       (dir / "good.wav").string() + "\n");
  EXPECT_FALSE(fs::exists(dir / "random.wav"));
}

#endif  // QUELLMARK_CLI
