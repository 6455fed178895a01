// TFLACOut end to end: PCM from a generator, encoded through the real
// libFLAC, checked with what independent readers find in the file (flac -t
// and -d, metaflac, ffmpeg, mutagen).
#include <gtest/gtest.h>

#include "codecs/flac_out.h"
#include "flac_test_support.h"
#include "pipeline/au_exception.h"
#include "tags/tag_fields.h"
#include "tests/support/decoders.h"
#include "tests/support/main_thread_pump.h"
#include "tests/support/pipeline_parts.h"
#include "tests/support/temp_dir.h"

using namespace flactest;

namespace {

struct TRun {
  TRun(int channels, int rate, int bits, int64_t frames) : Gen(channels, rate, bits, frames), Bits(bits) {
    // The generator hands out the low bytes of its values: 8-bit samples
    // are unsigned.
    Gen.Sample = [bits](int64_t f, int c) { return Signal(bits, f, c) + (bits == 8 ? 128 : 0); };
    Out.SetInput(&Gen);
  }
  // Runs to the end; true when the run reported no failure.
  bool Write(const fs::path& file) {
    Out.SetFileName(file.string());
    return RunToEnd(Out) && Out.ExceptionMessage.empty();
  }
  // The samples the generator delivered, as a WAV data chunk holds them.
  std::vector<uint8_t> Expected(int channels, int rate, int64_t frames) const {
    return Generate(Bits, channels, rate, frames, [this](int64_t f, int c) { return Signal(Bits, f, c); }).Bytes;
  }
  TGeneratorInput Gen;
  TFLACOut Out;
  int Bits;
};

const char* RawFormat(int bits) {
  switch (bits) {
    case 8: return "u8";
    case 16: return "s16le";
    case 24: return "s24le";
    default: return "s32le";
  }
}

}  // namespace

// ---- What independent readers find ------------------------------------------

TEST(FlacOut, EveryWidthAndLayoutDecodesToExactlyTheSourceSamples) {
  QM_REQUIRE_TOOLS("flac", "ffmpeg", "ffprobe");
  TTempDir dir;
  for (int bits : {8, 16, 24, 32}) {
    for (int channels : {1, 2, 6}) {
      for (int rate : {44100, 96000}) {
        SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(channels) + " channels at " +
                     std::to_string(rate));
        // Not a whole number of input blocks or encoder blocks.
        const int64_t frames = rate / 4 + 777;
        TRun run(channels, rate, bits, frames);
        const fs::path file = dir / "out.flac";
        ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
        const TRunResult test = FlacTest(file);
        EXPECT_EQ(test.Status, 0) << test.Err;
        const auto expected = run.Expected(channels, rate, frames);
        EXPECT_TRUE(FlacDecode(file) == expected);
        EXPECT_EQ(ProbeStream(file, "codec_name,sample_rate,channels"),
                  "flac|" + std::to_string(rate) + "|" + std::to_string(channels));
        // This ffmpeg has no decoder for 32-bit FLAC.
        if (bits < 32) {
          EXPECT_TRUE(FfmpegDecode(file, RawFormat(bits)) == expected);
        }
      }
    }
  }
}

TEST(FlacOut, TheHeaderHasMd5SeekPointsEveryTenSecondsCommentsAndPadding) {
  QM_REQUIRE_TOOLS("flac", "metaflac");
  TTempDir dir;
  constexpr int kRate = 8000;
  constexpr int64_t kFrames = 35 * kRate + 123;
  TRun run(1, kRate, 16, kFrames);
  const fs::path file = dir / "long.flac";
  ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
  EXPECT_EQ(FlacTest(file).Status, 0);
  const auto blocks = MetaflacList(file);
  ASSERT_EQ(blocks.size(), 4u);
  EXPECT_EQ(blocks[0].at("type"), "0 (STREAMINFO)");
  EXPECT_EQ(blocks[0].at("total samples"), std::to_string(kFrames));
  EXPECT_NE(blocks[0].at("MD5 signature"), "00000000000000000000000000000000");
  EXPECT_EQ(blocks[1].at("type"), "3 (SEEKTABLE)");
  EXPECT_EQ(blocks[2].at("type"), "4 (VORBIS_COMMENT)");
  EXPECT_EQ(blocks[3].at("type"), "1 (PADDING)");
  EXPECT_EQ(blocks[3].at("length"), std::to_string(TFLACOut::PaddingBytes));
  // A point for each ten seconds, each at the start of the frame that holds
  // its target sample.
  const auto points = SeekPointSamples(file);
  ASSERT_EQ(points.size(), 4u);
  for (std::size_t i = 0; i < points.size(); ++i) {
    const int64_t target = static_cast<int64_t>(i) * 10 * kRate;
    EXPECT_LE(points[i], target);
    EXPECT_GT(points[i] + 4096, target);
  }
}

TEST(FlacOut, LevelsZeroToEightAllWorkAndEightIsSmallerThanZero) {
  QM_REQUIRE_TOOLS("flac", "metaflac");
  TTempDir dir;
  constexpr int64_t kFrames = 6 * 44100;
  std::map<int, std::uintmax_t> sizes;
  for (int level : {0, 5, 8}) {
    SCOPED_TRACE("level " + std::to_string(level));
    TRun run(2, 44100, 16, kFrames);
    run.Gen.Sample = [](int64_t f, int c) { return Music(f, c); };
    run.Out.SetCompressionLevel(level);
    const fs::path file = dir / ("l" + std::to_string(level) + ".flac");
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    EXPECT_EQ(FlacTest(file).Status, 0);
    EXPECT_TRUE(FlacDecode(file) == Generate(16, 2, 44100, kFrames, Music).Bytes);
    // Fixed predictors only (0-2) frame in 1152 samples, the others in 4096:
    // the level reached the encoder.
    EXPECT_EQ(MetaflacList(file).at(0).at("minimum blocksize"), level == 0 ? "1152 samples" : "4096 samples");
    sizes[level] = fs::file_size(file);
  }
  EXPECT_LT(sizes[8], sizes[0]);
  EXPECT_LE(sizes[5], sizes[0]);

  TFLACOut out;
  EXPECT_EQ(out.CompressionLevel(), 5);
  out.SetCompressionLevel(-1);
  EXPECT_EQ(out.CompressionLevel(), 0);
  out.SetCompressionLevel(12);
  EXPECT_EQ(out.CompressionLevel(), 8);
}

TEST(FlacOut, CommentsGoToTheCommentBlockAndAreClearedAfterTheRun) {
  QM_REQUIRE_TOOLS("flac", "metaflac");
  TTempDir dir;
  TRun run(2, 44100, 16, 4410);
  // Through the neutral fields, as the routing fills the sink's container.
  TTagFields fields;
  fields.Title = u"Заголовок";
  fields.Artist = u"Artist";
  fields.Album = u"Album";
  fields.Date = u"1999";
  fields.Track = u"7";
  fields.Genre = u"Jazz";
  fields.Comment = u"Notice";
  WriteTagFields(run.Out.Comments(), fields);
  ASSERT_TRUE(run.Write(dir / "tagged.flac")) << run.Out.ExceptionMessage;
  const std::string expected =
      "ALBUM=Album\nARTIST=Artist\nCOMMENT=Notice\nDATE=1999\nGENRE=Jazz\nTITLE=Заголовок\nTRACKNUMBER=7";
  EXPECT_EQ(ExportedTags(dir / "tagged.flac"), expected);
  if (HavePythonModule("mutagen")) {
    EXPECT_EQ(MutagenTags(dir / "tagged.flac"), expected);
  }
  EXPECT_TRUE(run.Out.Comments().Empty());
  // The next run of the sink carries none of them.
  ASSERT_TRUE(run.Write(dir / "bare.flac")) << run.Out.ExceptionMessage;
  EXPECT_EQ(ExportedTags(dir / "bare.flac"), "");
  EXPECT_EQ(FlacTest(dir / "bare.flac").Status, 0);
}

// ---- Lengths the source only estimates ---------------------------------------

TEST(FlacOut, AWrongLengthEstimateStillGivesAStreamOfWhatWasDelivered) {
  QM_REQUIRE_TOOLS("flac", "metaflac");
  TTempDir dir;
  constexpr int kRate = 8000;
  constexpr int64_t kFrames = 25 * kRate;
  // Announced: none at all, less than delivered, and more than 20 minutes
  // (which also takes the larger padding).
  for (int64_t announced : {int64_t{-1}, kFrames / 2, int64_t{21} * 60 * kRate}) {
    SCOPED_TRACE("announced " + std::to_string(announced));
    TRun run(1, kRate, 16, kFrames);
    run.Gen.AnnouncedSize = announced < 0 ? -1 : announced * 2;
    const fs::path file = dir / "estimated.flac";
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    const TRunResult test = FlacTest(file);
    EXPECT_EQ(test.Status, 0) << test.Err;
    EXPECT_TRUE(FlacDecode(file) == run.Expected(1, kRate, kFrames));
    const auto blocks = MetaflacList(file);
    EXPECT_EQ(blocks.at(0).at("total samples"), std::to_string(kFrames));
    EXPECT_EQ(blocks.back().at("length"),
              std::to_string(announced > 20 * 60 * kRate ? TFLACOut::LongInputPaddingBytes : TFLACOut::PaddingBytes));
    // The points up to the estimate, each within the stream: none without
    // one, 0 and 10 s for half the length, 0, 10 and 20 s of the 25 s
    // delivered for the estimate that ran long (its later points are
    // placeholders).
    const auto points = SeekPointSamples(file);
    EXPECT_EQ(points.size(), announced < 0 ? 0u : announced < kFrames ? 2u : 3u);
    for (int64_t point : points) EXPECT_LT(point, kFrames);
    if (announced > kFrames) {
      EXPECT_NE(CommandOutput("metaflac --list --block-type=SEEKTABLE " + Quote(file)).find("PLACEHOLDER"),
                std::string::npos);
    }
  }
}

// ---- Refusals and failures ---------------------------------------------------

TEST(FlacOut, RefusedInputsAndFailedRunsLeaveNoFile) {
  TTempDir dir;
  const fs::path file = dir / "refused.flac";
  {
    TRun run(9, 44100, 16, 1000);
    EXPECT_FALSE(run.Write(file));
    EXPECT_EQ(run.Out.ExceptionMessage, kMsgFlacTooManyChannels);
  }
  {
    TRun run(2, 44100, 12, 1000);
    EXPECT_FALSE(run.Write(file));
    EXPECT_EQ(run.Out.ExceptionMessage, "Cannot encode 12-bit samples into FLAC.");
  }
  EXPECT_FALSE(fs::exists(file));
  {
    // Several frames were written before the input failed.
    TRun run(2, 44100, 16, 200000);
    run.Gen.FailAfterFrames = 100000;
    EXPECT_FALSE(run.Write(file));
    EXPECT_EQ(run.Out.ExceptionMessage, "generator failed");
    EXPECT_FALSE(fs::exists(file));
    // The sink is ready for the next run.
    run.Gen.FailAfterFrames = -1;
    ASSERT_TRUE(run.Write(file)) << run.Out.ExceptionMessage;
    if (HaveTool("flac")) {
      EXPECT_EQ(FlacTest(file).Status, 0);
    }
  }
  TRun nameless(2, 44100, 16, 100);
  EXPECT_FALSE(nameless.Write(fs::path()));
  EXPECT_EQ(nameless.Out.ExceptionMessage, kMsgOutputFileNameNotAssigned);
}

TEST(FlacOut, AFullDiskFailsTheRunWithTheSystemsError) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  TRun run(2, 44100, 16, 100000);
  EXPECT_FALSE(run.Write("/dev/full"));
  EXPECT_NE(run.Out.ExceptionMessage.find("No space left on device"), std::string::npos) << run.Out.ExceptionMessage;
  EXPECT_TRUE(fs::exists("/dev/full"));
}
