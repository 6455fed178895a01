// MP3 and WMA files converted to WAV, and WAV to WMA (output type 3), through
// the real quellmark-cli: the routing of ".mp3" and ".wma" to their readers,
// of output type 3 to the WMA writer, and what a bad file or setting gives.
// (Tags between formats are copied by the routing, tested with it.)
#include <gtest/gtest.h>

#include "codecs/wm_in.h"
#include "tests/media/media_test_support.h"
#include "tests/support/process.h"

using namespace mediatest;

#ifdef QUELLMARK_CLI

namespace {

qmtest::TRunResult RunCli(const std::string& args) {
  return qmtest::RunShell(Quote(fs::path(QUELLMARK_CLI)) + " " + args, std::chrono::seconds(300));
}

class MediaCliTest : public ::testing::Test {
 protected:
  TTempDir Dir;
};

TEST_F(MediaCliTest, Mp3AndWmaToWavGiveFfmpegsDecodeWhateverTheWavSettings) {
  const fs::path wav = MakeWav(Dir, "src.wav", 22050, 1, 3.3);
  const fs::path mp3 = MakeLameMp3(Dir, "song.mp3", wav, "-V 4 -t");
  const fs::path wma = Encode(Dir, "tune.wma", wav, "-c:a wmav2 -b:a 64k");
  for (const fs::path& file : {mp3, wma}) {
    SCOPED_TRACE(file.filename().string());
    fs::path out = file;
    out.replace_extension(".wav");
    const auto r = RunCli("--set outputType=0 --set wavSr=48000 --set wavCh=2 " + Quote(file));
    EXPECT_EQ(r.Status, 0);
    EXPECT_EQ(r.Out, "done: " + out.string() + "\n");
    EXPECT_EQ(Probe(out, "sample_rate"), "22050");
    EXPECT_EQ(Probe(out, "channels"), "1");
    const auto decoded = FfmpegDecode(file, "s16le");
    EXPECT_EQ(FfmpegDecode(out, "s16le"), decoded);
    EXPECT_EQ(fs::file_size(out), 44 + decoded.size());
  }
}

TEST_F(MediaCliTest, WavToWmaAtTheBitrateOfTheSetting) {
  const fs::path wav = MakeWav(Dir, "song.wav", 44100, 2, 2.0);
  auto r = RunCli("--set outputType=3 --set Bitrate=96 " + Quote(wav));
  EXPECT_EQ(r.Status, 0);
  EXPECT_EQ(r.Out, "done: " + (Dir / "song.wma").string() + "\n");
  EXPECT_EQ(Probe(Dir / "song.wma", "codec_name"), "wmav2");
  EXPECT_EQ(Probe(Dir / "song.wma", "sample_rate"), "44100");
  EXPECT_NEAR(std::stod(Probe(Dir / "song.wma", "bit_rate")), 96000, 2000);

}

TEST_F(MediaCliTest, BadFilesAndBitrateFailTheirRow) {
  const fs::path wav = MakeWav(Dir, "song.wav", 44100, 2, 0.5);
  auto r = RunCli("--set outputType=3 --set Bitrate=fast " + Quote(wav));
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Out.find("'fast' is not a valid integer value"), std::string::npos) << r.Out;
  EXPECT_FALSE(fs::exists(Dir / "song.wma"));
  std::vector<uint8_t> noise(5000);
  for (std::size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<uint8_t>(i * 7919 >> 3);
  WriteFile(Dir / "noise.mp3", noise);
  WriteFile(Dir / "noise.wma", noise);
  r = RunCli("--set outputType=0 " + Quote(Dir / "noise.mp3") + " " + Quote(Dir / "noise.wma"));
  EXPECT_NE(r.Status, 0);
  EXPECT_EQ(r.Out.find("done:"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find(std::string("noise.mp3: ") + kMsgWmNoAudio), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find(std::string("noise.wma: ") + kMsgWmNoAudio), std::string::npos) << r.Out;
}

// The media libraries are loaded when a format needs them, not at start: a
// WAV run never maps them (the loader's own trace tells), a WMA run does.
TEST_F(MediaCliTest, MediaLibrariesLoadOnlyForTheFormatsThatNeedThem) {
  const fs::path wav = MakeWav(Dir, "song.wav", 22050, 1, 0.5);
  const fs::path wma = Encode(Dir, "tune.wma", wav, "-c:a wmav2 -b:a 64k");
  auto initsOfTheFormatLibrary = [](const fs::path& file) {
    return qmtest::RunShell("LD_DEBUG=files " + Quote(fs::path(QUELLMARK_CLI)) + " --set outputType=0 " +
                                Quote(file) + " 2>&1 >/dev/null | grep -c 'calling init:.*libavformat'",
                            std::chrono::seconds(300))
        .Out;
  };
  EXPECT_EQ(initsOfTheFormatLibrary(wav), "0\n") << "a WAV run loaded the media libraries";
  EXPECT_EQ(initsOfTheFormatLibrary(wma), "1\n") << "a WMA run did not load them";
}

}  // namespace

#endif
