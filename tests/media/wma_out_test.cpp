// TWMAOut writing WAV sources into WMA files that ffmpeg decodes, with the
// codec format chosen by its rules, its attributes and its failures; and
// TWMStreamedOut serving the stream to one HTTP client on the loopback.
#include <gtest/gtest.h>

#include <atomic>
#include <future>
#include <thread>

#include "codecs/wav_in.h"
#include "codecs/wma_out.h"
#include "tests/media/media_test_support.h"
#include "tests/support/main_thread_pump.h"
#include "tests/support/pipeline_parts.h"

using namespace mediatest;

namespace {

class WmaOutTest : public ::testing::Test {
 protected:
  TTempDir Dir;

  // Converts the WAV to WMA with the sink's settings given by Configure.
  void Convert(const fs::path& wav, const fs::path& wma, const std::function<void(TWMAOut&)>& configure,
               std::string* failure = nullptr) {
    TWaveIn in;
    in.SetFileName(wav.string());
    TWMAOut out;
    out.SetInput(&in);
    out.SetFileName(wma.string());
    configure(out);
    ASSERT_TRUE(RunToEnd(out));
    if (failure)
      *failure = out.ExceptionMessage;
    else
      EXPECT_EQ(out.ExceptionMessage, "");
    Chosen = out.ChosenFormat();
    Block = out.BlockSize();
  }
  std::optional<media::TMediaCodecFormat> Chosen;
  uint32_t Block = 0;
};

TEST_F(WmaOutTest, WritesWmaThatFfmpegDecodesWithTheInputsFormatAndTags) {
  for (auto [rate, channels, bits] : {std::tuple{44100, 2, 16}, std::tuple{22050, 1, 24}, std::tuple{48000, 2, 8}}) {
    SCOPED_TRACE(std::to_string(rate) + "/" + std::to_string(channels) + "/" + std::to_string(bits));
    const fs::path wav = MakeWav(Dir, "in.wav", rate, channels, 2.0, bits);
    const fs::path wma = Dir / "out.wma";
    Convert(wav, wma, [](TWMAOut& out) {
      out.DesiredBitrate = 128;
      out.Id3v2Tags().SetTitle(u"Ступени");
      out.Id3v2Tags().SetArtist(u"Band");
      out.Id3v2Tags().SetAlbum(u"Disc");
      out.Id3v2Tags().SetGenre(u"Rock");
      out.Id3v2Tags().SetYear("1999");
      out.Id3v2Tags().SetTrack("7");
      out.Id3v2Tags().SetComment(u"Notice");
    });
    EXPECT_EQ(Probe(wma, "codec_name"), "wmav2");
    EXPECT_EQ(Probe(wma, "sample_rate"), std::to_string(rate));
    EXPECT_EQ(Probe(wma, "channels"), std::to_string(channels));
    EXPECT_EQ(ProbeTag(wma, "title"), "Ступени");
    EXPECT_EQ(ProbeTag(wma, "artist"), "Band");
    EXPECT_EQ(ProbeTag(wma, "album"), "Disc");
    EXPECT_EQ(ProbeTag(wma, "genre"), "Rock");
    EXPECT_EQ(ProbeTag(wma, "WM/Year"), "1999");
    EXPECT_EQ(ProbeTag(wma, "WM/Track"), "7");
    EXPECT_EQ(ProbeTag(wma, "copyright"), "Notice");
    const long frames = static_cast<long>(FfmpegDecode(wma, "s16le").size() / (2 * channels));
    // The encoder's priming takes 2048 frames; the last frame is padded.
    EXPECT_NEAR(frames, 2 * rate - 2048, 2048);
    ASSERT_TRUE(Chosen);
    EXPECT_EQ(Chosen->Bitrate, 128000u);
    EXPECT_EQ(Block, static_cast<uint32_t>(channels * bits * rate / 100));
  }
}

TEST_F(WmaOutTest, EmptyTitleLeavesTheAttributeUnset) {
  const fs::path wav = MakeWav(Dir, "in.wav", 44100, 2, 0.5);
  Convert(wav, Dir / "o.wma", [](TWMAOut& out) { out.Id3v2Tags().SetArtist(u"Band"); });
  EXPECT_EQ(ProbeTag(Dir / "o.wma", "title"), "");
  EXPECT_EQ(ProbeTag(Dir / "o.wma", "artist"), "Band");
}

TEST(WmaCodecFormatTest, ChoosesTheClosestBitrateAtTheNearestListedRate) {
  media::TMediaCodecInfo info;
  auto choose = [&](uint32_t target, int rate, int channels = 2, int bits = 16) {
    return ChooseCodecFormat(info, {target, false, false, channels, bits, rate});
  };
  auto f = choose(128000, 44100);
  ASSERT_TRUE(f);
  EXPECT_EQ(f->SampleRate, 44100);
  EXPECT_EQ(f->Bitrate, 128000u);
  EXPECT_EQ(f->Channels, 2);
  // Between two listed rates: the closer one; at equal distance the first
  // listed stays, a later one must be strictly closer.
  EXPECT_EQ(choose(100000, 44100)->Bitrate, 96000u);
  EXPECT_EQ(choose(150000, 44100)->Bitrate, 160000u);
  EXPECT_EQ(choose(112000, 44100)->Bitrate, 96000u);
  EXPECT_EQ(choose(1000000, 44100)->Bitrate, 320000u);
  // A rate the list lacks: the nearest listed one.
  EXPECT_EQ(choose(128000, 37000)->SampleRate, 32000);
  EXPECT_EQ(choose(128000, 40000)->SampleRate, 44100);
  EXPECT_EQ(choose(128000, 96000)->SampleRate, 48000);
  EXPECT_EQ(choose(64000, 22050, 1, 24)->BitsPerSample, 24);
  // No format has more than two channels, or an odd width.
  EXPECT_FALSE(choose(128000, 44100, 6));
  EXPECT_FALSE(choose(128000, 44100, 2, 12));
  // Lossless and VBR find nothing: the codec has neither.
  EXPECT_FALSE(ChooseCodecFormat(info, {0, true, false, 2, 16, 44100}));
  EXPECT_FALSE(ChooseCodecFormat(info, {50, false, true, 2, 16, 44100}));
}

TEST_F(WmaOutTest, BitrateBelowOneThousandIsInKilobits) {
  const fs::path wav = MakeWav(Dir, "in.wav", 44100, 2, 0.5);
  Convert(wav, Dir / "a.wma", [](TWMAOut& out) { out.DesiredBitrate = 64; });
  EXPECT_EQ(Chosen->Bitrate, 64000u);
  Convert(wav, Dir / "b.wma", [](TWMAOut& out) { out.DesiredBitrate = 64000; });
  EXPECT_EQ(Chosen->Bitrate, 64000u);
  EXPECT_NEAR(std::stod(Probe(Dir / "b.wma", "bit_rate")), 64000, 2000);
}

TEST_F(WmaOutTest, FailuresNameTheCauseAndLeaveNoFile) {
  const fs::path wav = MakeWav(Dir, "in.wav", 44100, 2, 0.5);
  std::string failure;
  Convert(wav, Dir / "l.wma", [](TWMAOut& out) { out.Lossless = true; }, &failure);
  EXPECT_EQ(failure, kMsgWmaFailedToInitCodec);
  EXPECT_FALSE(fs::exists(Dir / "l.wma"));
  Convert(wav, Dir / "v.wma", [](TWMAOut& out) { out.VBR = true; out.VBRQuality = 90; }, &failure);
  EXPECT_EQ(failure, kMsgWmaFailedToInitCodec);
  EXPECT_FALSE(fs::exists(Dir / "v.wma"));
  Convert(wav, Dir / "no-folder" / "x.wma", [](TWMAOut&) {}, &failure);
  EXPECT_EQ(failure, kMsgWmaCannotCreateFile);
  const fs::path six = MakeWav(Dir, "six.wav", 44100, 6, 0.5);
  Convert(six, Dir / "s.wma", [](TWMAOut&) {}, &failure);
  EXPECT_EQ(failure, kMsgWmaFailedToInitCodec);
  EXPECT_FALSE(fs::exists(Dir / "s.wma"));
  Convert(wav, fs::path(), [](TWMAOut&) {}, &failure);
  EXPECT_EQ(failure, kMsgWmaFileNameNotAssigned);
}

TEST_F(WmaOutTest, StreamedOutputServesOneClientOnTheLoopback) {
  qmtest::TGeneratorInput in(2, 44100, 16, 44100 * 3);
  TWMStreamedOut out;
  out.SetInput(&in);
  std::atomic<int> connected{0}, disconnected{0};
  const auto mainThread = std::this_thread::get_id();
  std::atomic<bool> onMain{true};
  out.OnClientConnected = [&](TComponent*) {
    onMain = onMain && std::this_thread::get_id() == mainThread;
    ++connected;
  };
  out.OnClientDisconnected = [&](TComponent*) {
    onMain = onMain && std::this_thread::get_id() == mainThread;
    ++disconnected;
  };
  // The source holds the run at its first block until a client is there.
  in.Hold = true;
  bool done = false;
  out.OnDone = [&](TComponent*) { done = true; };
  out.Run();
  ASSERT_TRUE(in.Hold.WaitUntilHeld(std::chrono::seconds(20)));
  ASSERT_NE(out.Port, 0u);
  const std::string url = "http://127.0.0.1:" + std::to_string(out.Port);
  auto probe = std::async(std::launch::async, [&] {
    return CommandOutput("ffprobe -v error -show_entries stream=codec_name,channels,sample_rate -of csv=p=0 " + url);
  });
  ASSERT_TRUE(qmtest::PumpUntil([&] { return connected.load() == 1; }, std::chrono::seconds(20)));
  // A second client is turned away while the first is served.
  const std::string refused = CommandOutput("curl -s -o /dev/null -w '%{http_code}' " + url + " 2>/dev/null");
  EXPECT_EQ(refused, "403");
  in.Hold.Release();
  ASSERT_TRUE(qmtest::PumpUntil([&] { return done; }, std::chrono::seconds(60)));
  EXPECT_EQ(out.ExceptionMessage, "");
  EXPECT_EQ(probe.get(), "wmav2,44100,2");
  ASSERT_TRUE(qmtest::PumpUntil([&] { return disconnected.load() == 1; }, std::chrono::seconds(20)));
  EXPECT_EQ(connected.load(), 1);
  EXPECT_TRUE(onMain);
}

}  // namespace
