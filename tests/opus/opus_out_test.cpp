// TOpusOut end to end: PCM from a generator, encoded through the real
// libopusenc, checked with what independent readers find in the file
// (opusinfo, opusdec, ffmpeg, mutagen).
#include <gtest/gtest.h>

#include "codecs/opus_out.h"
#include "opus_test_support.h"
#include "pipeline/au_exception.h"
#include "tags/tag_fields.h"
#include "tests/support/main_thread_pump.h"
#include "tests/support/pipeline_parts.h"
#include "tests/support/temp_dir.h"

using namespace opustest;

namespace {

// A sample of the generator's width from a value of -1..1 (8 bits unsigned:
// the generator hands out the low bytes of its values).
int32_t AtWidth(int bits, double v) {
  switch (bits) {
    case 8: return 128 + static_cast<int32_t>(std::lround(v * 127));
    case 16: return static_cast<int32_t>(std::lround(v * 32767));
    case 24: return static_cast<int32_t>(std::lround(v * 8388607));
    default: return static_cast<int32_t>(std::llround(v * 2147483647.0));
  }
}

struct TRun {
  TRun(int channels, int rate, int bits, int64_t frames, double hz = 1000, double amplitude = 0.5)
      : Gen(channels, rate, bits, frames) {
    Gen.Sample = [=](int64_t f, int) { return AtWidth(bits, Tone(hz, amplitude, rate, f)); };
    Out.SetInput(&Gen);
  }
  // Runs to the end; true when the run reported no failure.
  bool Write(const fs::path& file) {
    Out.SetFileName(file.string());
    return RunToEnd(Out) && Out.ExceptionMessage.empty();
  }
  TGeneratorInput Gen;
  TOpusOut Out;
};

// ffmpeg's decode at 48 kHz, 16 bits, in its own channel order (which for
// the surround layouts is WAV's).
std::vector<int16_t> FfmpegSamples(const fs::path& file) { return AsInt16(FfmpegDecode(file, "s16le")); }

}  // namespace

// ---- What independent readers find ------------------------------------------

TEST(OpusOut, AToneComesBackAtItsLevelFromEveryRateInOneAndTwoChannels) {
  QM_REQUIRE_TOOLS("opusinfo", "opusdec", "ffmpeg", "ffprobe");
  TTempDir dir;
  for (int rate : {44100, 48000, 22050}) {
    for (int channels : {1, 2}) {
      SCOPED_TRACE(std::to_string(channels) + " channels at " + std::to_string(rate));
      const int64_t frames = 2 * rate + 123;
      TRun run(channels, rate, 16, frames);
      const fs::path file = dir / "tone.opus";
      ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
      const TOpusinfo info = Opusinfo(file);
      EXPECT_TRUE(info.Clean()) << info.Text;
      EXPECT_NE(info.Text.find("Channels: " + std::to_string(channels)), std::string::npos) << info.Text;
      EXPECT_NE(info.Text.find("Original sample rate: " + std::to_string(rate) + " Hz"), std::string::npos);
      EXPECT_EQ(ProbeStream(file, "codec_name,sample_rate,channels"), "opus|48000|" + std::to_string(channels));

      // opusdec decodes at the original rate, the whole length and no more.
      const TDecoded decoded = Opusdec(file);
      EXPECT_EQ(decoded.Channels, channels);
      EXPECT_EQ(decoded.Rate, rate);
      EXPECT_EQ(decoded.Samples.size(), static_cast<std::size_t>(frames * channels));
      const std::vector<int16_t> ffmpeg = FfmpegSamples(file);
      EXPECT_NEAR(static_cast<double>(ffmpeg.size()) / channels, static_cast<double>(frames) * 48000 / rate, 2);
      for (int c = 0; c < channels; ++c) {
        for (const auto& [samples, at] : {std::pair{&decoded.Samples, rate}, std::pair{&ffmpeg, 48000}}) {
          const TToneFit fit = FitTone(*samples, channels, c, at, 1000);
          EXPECT_NEAR(20 * std::log10(fit.Amplitude / 0.5), 0.0, 0.5) << "channel " << c << " at " << at;
          EXPECT_GE(fit.SnrDb, 30.0) << "channel " << c << " at " << at;
        }
      }
    }
  }
}

TEST(OpusOut, EveryInputWidthEncodesTheSameTone) {
  QM_REQUIRE_TOOLS("opusdec");
  TTempDir dir;
  for (int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(std::to_string(bits) + " bits");
    TRun run(1, 48000, bits, 48000);
    const fs::path file = dir / "width.opus";
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    const TDecoded decoded = Opusdec(file);
    const TToneFit fit = FitTone(decoded.Samples, 1, 0, 48000, 1000);
    EXPECT_NEAR(fit.Amplitude, 0.5, 0.03);
    EXPECT_GE(fit.SnrDb, 30.0);
  }
}

TEST(OpusOut, SurroundChannelsComeOutWhereTheyWentIn) {
  QM_REQUIRE_TOOLS("opusinfo", "opusdec", "ffmpeg");
  TTempDir dir;
  // WAV order: L R C LFE ... from six channels on; the LFE stream carries
  // only the lowest frequencies.
  auto hzOf = [](int channels, int c) { return channels >= 6 && c == 3 ? 60.0 : 500.0 + 300.0 * c; };
  for (int channels = 3; channels <= 8; ++channels) {
    SCOPED_TRACE(std::to_string(channels) + " channels");
    TRun run(channels, 48000, 16, 48000);
    run.Gen.Sample = [&](int64_t f, int c) { return AtWidth(16, Tone(hzOf(channels, c), 0.3, 48000, f)); };
    run.Out.SetBitrate(64 * channels);
    const fs::path file = dir / "surround.opus";
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    EXPECT_NE(Opusinfo(file).Text.find("Channels: " + std::to_string(channels)), std::string::npos);
    const TDecoded decoded = Opusdec(file);
    ASSERT_EQ(decoded.Channels, channels);
    const std::vector<int16_t> ffmpeg = FfmpegSamples(file);
    for (const std::vector<int16_t>* samples : {&decoded.Samples, &ffmpeg}) {
      for (int out = 0; out < channels; ++out) {
        for (int in = 0; in < channels; ++in) {
          const TToneFit fit = FitTone(*samples, channels, out, 48000, hzOf(channels, in));
          if (in == out) {
            EXPECT_NEAR(fit.Amplitude, 0.3, 0.05) << "channel " << in << " in its place";
          } else {
            EXPECT_LT(fit.Amplitude, 0.01) << "channel " << in << " heard in channel " << out;
          }
        }
      }
    }
  }

  // A tone on the centre channel of 5.1 only comes out on the centre.
  TRun centre(6, 44100, 16, 44100);
  centre.Gen.Sample = [](int64_t f, int c) { return c == 2 ? AtWidth(16, Tone(1000, 0.5, 44100, f)) : 0; };
  const fs::path file = dir / "centre.opus";
  ASSERT_TRUE(centre.Write(file)) << centre.Out.ExceptionMessage;
  const TDecoded decoded = Opusdec(file);
  ASSERT_EQ(decoded.Channels, 6);
  for (int c = 0; c < 6; ++c) {
    if (c == 2) {
      EXPECT_GE(FitTone(decoded.Samples, 6, c, 44100, 1000).SnrDb, 30.0);
      EXPECT_NEAR(LevelDb(decoded.Samples, 6, c), 20 * std::log10(0.5 / std::sqrt(2.0)), 0.5);
    } else {
      EXPECT_LT(LevelDb(decoded.Samples, 6, c), -60.0) << "channel " << c;
    }
  }
  EXPECT_EQ(TOpusOut::StreamChannel(6, 2), 1);
  EXPECT_EQ(TOpusOut::StreamChannel(6, 3), 5);
  EXPECT_EQ(TOpusOut::StreamChannel(2, 1), 1);
}

TEST(OpusOut, TheBitrateSettingSetsTheStreamsSize) {
  QM_REQUIRE_TOOLS("opusinfo");
  TTempDir dir;
  std::uintmax_t last = 0;
  for (int kbps : {16, 64, 128, 256}) {
    SCOPED_TRACE(std::to_string(kbps) + " kbit/s");
    TRun run(2, 48000, 16, 5 * 48000);
    run.Gen.Sample = [](int64_t f, int c) {
      // Tones and noise, different in each channel: a signal that takes
      // every bit it is given.
      const double t = static_cast<double>(f) / 48000;
      const double v = 0.3 * std::sin(2 * M_PI * (220 + 55 * c) * t) + 0.15 * std::sin(2 * M_PI * (1500 + 300 * c) * t);
      return static_cast<int32_t>(std::lround(v * 32767)) + static_cast<int32_t>((f * 7919 + c * 31) % 4001) - 2000;
    };
    run.Out.SetBitrate(kbps);
    const fs::path file = dir / ("b" + std::to_string(kbps) + ".opus");
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    EXPECT_TRUE(Opusinfo(file).Clean());
    const std::uintmax_t size = fs::file_size(file);
    EXPECT_GT(size, last);
    last = size;
  }
  TOpusOut out;
  EXPECT_EQ(out.Bitrate(), 128);
  out.SetBitrate(1);
  EXPECT_EQ(out.Bitrate(), 6);
  out.SetBitrate(1000);
  EXPECT_EQ(out.Bitrate(), 512);
}

TEST(OpusOut, CommentsGoToTheCommentHeaderAndAreClearedAfterTheRun) {
  QM_REQUIRE_TOOLS("opusinfo");
  TTempDir dir;
  TRun run(2, 48000, 16, 4800);
  TTagFields fields;
  fields.Title = u"Заголовок";
  fields.Artist = u"Artist";
  fields.Album = u"Album";
  fields.Date = u"1999";
  fields.Track = u"7";
  fields.Genre = u"Jazz";
  fields.Comment = u"Notice";
  WriteTagFields(run.Out.Comments(), fields);
  const fs::path file = dir / "tagged.opus";
  ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
  const std::string info = Opusinfo(file).Text;
  for (const char* comment : {"ALBUM=Album", "ARTIST=Artist", "COMMENT=Notice", "DATE=1999", "GENRE=Jazz",
                              "TITLE=Заголовок", "TRACKNUMBER=7"}) {
    EXPECT_NE(info.find(std::string("\t") + comment + "\n"), std::string::npos) << comment << "\n" << info;
  }
  if (HavePythonModule("mutagen")) {
    EXPECT_EQ(MutagenTags(file),
              "ALBUM=Album\nARTIST=Artist\nCOMMENT=Notice\nDATE=1999\nGENRE=Jazz\nTITLE=Заголовок\nTRACKNUMBER=7");
  }
  EXPECT_TRUE(run.Out.Comments().Empty());
  ASSERT_TRUE(run.Write(dir / "bare.opus")) << run.Out.ExceptionMessage;
  EXPECT_EQ(Opusinfo(dir / "bare.opus").Text.find("TITLE="), std::string::npos);
}

// ---- Refusals and failures ---------------------------------------------------

TEST(OpusOut, RefusedInputsAndFailedRunsLeaveNoFile) {
  TTempDir dir;
  const fs::path file = dir / "refused.opus";
  {
    TRun run(9, 48000, 16, 1000);
    EXPECT_FALSE(run.Write(file));
    EXPECT_EQ(run.Out.ExceptionMessage, kMsgOpusTooManyChannels);
  }
  {
    TRun run(2, 48000, 12, 1000);
    EXPECT_FALSE(run.Write(file));
    EXPECT_EQ(run.Out.ExceptionMessage, "Cannot encode 12-bit samples into Opus.");
  }
  EXPECT_FALSE(fs::exists(file));
  {
    // Pages were written before the input failed.
    TRun run(2, 48000, 16, 200000);
    run.Gen.FailAfterFrames = 150000;
    EXPECT_FALSE(run.Write(file));
    EXPECT_EQ(run.Out.ExceptionMessage, "generator failed");
    EXPECT_FALSE(fs::exists(file));
    // The sink is ready for the next run.
    run.Gen.FailAfterFrames = -1;
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    if (HaveTool("opusinfo")) {
      EXPECT_TRUE(Opusinfo(file).Clean());
    }
  }
  TRun nameless(2, 48000, 16, 100);
  EXPECT_FALSE(nameless.Write(fs::path()));
  EXPECT_EQ(nameless.Out.ExceptionMessage, kMsgOutputFileNameNotAssigned);
}

TEST(OpusOut, AFullDiskFailsTheRunWithTheSystemsError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TRun run(2, 48000, 16, 200000);
  EXPECT_FALSE(run.Write("/dev/full"));
  EXPECT_NE(run.Out.ExceptionMessage.find("No space left on device"), std::string::npos) << run.Out.ExceptionMessage;
}
