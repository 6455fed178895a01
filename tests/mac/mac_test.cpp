#include <gtest/gtest.h>

#include <cmath>

#include "codecs/mac_in.h"
#include "codecs/mac_out.h"
#include "platform/text_codec.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace {

int32_t Music(int64_t f, int c) {
  return static_cast<int32_t>(9000 * std::sin(0.01 * f * (c + 1)) + ((f * 7919 + c * 31) % 401) - 200);
}

struct TWriteRun {
  TWriteRun(TAuInput& input, const fs::path& file, int level) {
    Out.SetInput(&input);
    Out.SetFileName(file.string());
    Out.SetCompressionLevel(level);
  }
  TMACOut Out;
};

std::vector<uint8_t> Generated(int channels, int bits, int64_t frames) {
  TGeneratorInput gen(channels, 44100, bits, frames);
  gen.Sample = Music;
  return ReadAll(gen);
}

TEST(MacOutTest, EncodesWhatFfmpegAndTheReaderDecodeExactly) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  for (auto [channels, bits, level] : {std::tuple{2, 16, 2000}, std::tuple{1, 24, 5000}, std::tuple{2, 8, 1000}}) {
    const auto file = dir / ("out" + std::to_string(level) + ".ape");
    const int64_t frames = 100000;
    TGeneratorInput gen(channels, 44100, bits, frames);
    gen.Sample = Music;
    TWriteRun w(gen, file, level);
    ASSERT_TRUE(RunToEnd(w.Out));
    EXPECT_EQ(w.Out.ExceptionMessage, "");
    const auto expected = Generated(channels, bits, frames);
    EXPECT_TRUE(FfmpegDecode(file, bits == 8 ? "u8" : bits == 16 ? "s16le" : "s24le") == expected);

    TMACIn in;
    in.SetFileName(file.string());
    EXPECT_EQ(in.GetChannels(), channels);
    EXPECT_EQ(in.GetBitsPerSample(), bits);
    EXPECT_EQ(in.GetSampleRate(), 44100);
    EXPECT_EQ(in.GetTotalTime(), 2);
    EXPECT_EQ(in.GetTotalSamples(), frames);
    const auto decoded = ReadAll(in, 1001);
    EXPECT_EQ(decoded.size(), expected.size());
    EXPECT_TRUE(decoded == expected);
  }
}

TEST(MacOutTest, TagsGoInOnlyWhenTheContainerIsNotEmpty) {
  QM_REQUIRE_TOOLS("ffprobe");
  TTempDir dir;
  const auto file = dir / "tagged.ape";
  {
    TGeneratorInput gen(2, 44100, 16, 5000);
    TWriteRun w(gen, file, 3000);
    TAPEv2Tags tags;
    tags.SetTitle(u"Tïtle");
    tags.SetArtist(u"Ärtist");
    tags.SetAlbum(u"Album");
    tags.SetYear("1999");
    tags.SetComment(u"Note");
    tags.SetTrack("4");
    w.Out.SetAPEv2Tags(tags);
    ASSERT_TRUE(RunToEnd(w.Out));
  }
  const std::string probed =
      CommandOutput("ffprobe -v error -show_entries format_tags=title,artist -of default=noprint_wrappers=1 " + Quote(file));
  EXPECT_NE(probed.find("TAG:Title=Tïtle"), std::string::npos) << probed;
  EXPECT_NE(probed.find("TAG:Artist=Ärtist"), std::string::npos) << probed;
  TMACIn in;
  in.SetFileName(file.string());
  TAPEv2Tags& read = in.APEv2Tags();
  EXPECT_EQ(read.Title(), u"Tïtle");
  EXPECT_EQ(read.Artist(), u"Ärtist");
  EXPECT_EQ(read.Album(), u"Album");
  EXPECT_EQ(read.Year(), "1999");
  EXPECT_EQ(read.Comment(), u"Note");

  const auto bare = dir / "bare.ape";
  TGeneratorInput gen(2, 44100, 16, 5000);
  TWriteRun w(gen, bare, 3000);
  ASSERT_TRUE(RunToEnd(w.Out));
  const auto bytes = ReadFile(bare);
  const std::string text(bytes.begin(), bytes.end());
  EXPECT_EQ(text.find("APETAGEX"), std::string::npos);
}

TEST(MacOutTest, SettingsAndBlockLengths) {
  TMACOut out;
  EXPECT_EQ(out.CompressionLevel(), 2000);
  out.SetCompressionLevel(4000);
  EXPECT_EQ(out.CompressionLevel(), 4000);
  out.SetCompressionLevel(3500);
  EXPECT_EQ(out.CompressionLevel(), 2000);
  EXPECT_EQ(TMACOut::BlockLength(4), 65536);
  EXPECT_EQ(TMACOut::BlockLength(18), 65520);
}

TEST(MacOutTest, FailuresAreReported) {
  TTempDir dir;
  {
    TGeneratorInput gen(2, 44100, 16, 100);
    TMACOut out;
    out.SetInput(&gen);
    RunToEnd(out);
    EXPECT_EQ(out.ExceptionMessage, kMsgOutputFileNameNotAssigned);
  }
  {
    TGeneratorInput gen(6, 44100, 16, 100);
    TWriteRun w(gen, dir / "six.ape", 2000);
    RunToEnd(w.Out);
    EXPECT_EQ(w.Out.ExceptionMessage, std::string(kMsgErrorStartingAPECompress) + "input file unsupported channel count");
    EXPECT_FALSE(fs::exists(dir / "six.ape"));
  }
  {
    // An input with no frames cannot make an APE file: that is an error, not a silent success.
    TGeneratorInput gen(2, 44100, 16, 0);
    TWriteRun w(gen, dir / "empty.ape", 2000);
    RunToEnd(w.Out);
    EXPECT_EQ(w.Out.ExceptionMessage, std::string(kMsgMacDllError) + "input file too small");
    EXPECT_FALSE(fs::exists(dir / "empty.ape"));
  }
}

TEST(MacInTest, RangesAndRequestsOfWholeFrames) {
  TTempDir dir;
  const auto file = dir / "in.ape";
  const int64_t frames = 80000;
  {
    TGeneratorInput gen(2, 44100, 16, frames);
    gen.Sample = Music;
    TWriteRun w(gen, file, 1000);
    ASSERT_TRUE(RunToEnd(w.Out));
  }
  const auto all = Generated(2, 16, frames);
  TMACIn in;
  in.SetFileName(file.string());
  in.Init();
  void* buffer = nullptr;
  uint32_t bytes = 1001;
  in.GetData(buffer, bytes);
  EXPECT_EQ(bytes, 1000u);
  in.Flush();

  // A range across the library's frame border (73728 blocks at this level).
  in.StartSample = 73000;
  in.EndSample = 74999;
  const auto part = ReadAll(in);
  ASSERT_EQ(part.size(), 2000u * 4);
  EXPECT_TRUE(std::equal(part.begin(), part.end(), all.begin() + 73000 * 4));
}

TEST(MacInTest, BadFilesRaiseLibraryErrors) {
  TTempDir dir;
  WriteFile(dir / "junk.ape", std::vector<uint8_t>(100, 7));
  TMACIn junk;
  junk.SetFileName((dir / "junk.ape").string());
  try {
    junk.GetChannels();
    FAIL() << "no exception";
  } catch (const EAPEException& e) {
    EXPECT_STREQ(e.what(), "MACDll error: invalid input file");
  }
  EXPECT_FALSE(junk.Valid);

  // A damaged frame ends the run with an error instead of a short stream.
  const auto file = dir / "damaged.ape";
  {
    TGeneratorInput gen(2, 44100, 16, 100000);
    gen.Sample = Music;
    TWriteRun w(gen, file, 1000);
    ASSERT_TRUE(RunToEnd(w.Out));
  }
  auto bytes = ReadFile(file);
  bytes[bytes.size() - 200] ^= 0x55;
  WriteFile(file, bytes);
  TMACIn in;
  in.SetFileName(file.string());
  EXPECT_THROW(ReadAll(in), EAuException);
}

// The file failing under the open decoder (here it shrinks, as a file on a
// share being replaced does) raises the library's read error; it never
// passes for the end of the data.
TEST(MacInTest, ReadErrorsOfTheFileRaise) {
  TTempDir dir;
  const auto file = dir / "shrinks.ape";
  {
    TGeneratorInput gen(2, 44100, 16, 44100 * 8);
    gen.Sample = Music;
    TWriteRun w(gen, file, 2000);
    ASSERT_TRUE(RunToEnd(w.Out));
    ASSERT_EQ(w.Out.ExceptionMessage, "");
  }
  TMACIn in;
  in.SetFileName(file.string());
  in.Init();
  void* buffer = nullptr;
  uint32_t bytes = 4096;
  in.GetData(buffer, bytes);
  ASSERT_EQ(bytes, 4096u);
  fs::resize_file(file, fs::file_size(file) / 3);
  uint64_t delivered = bytes;
  try {
    for (;;) {
      bytes = 16384;
      in.GetData(buffer, bytes);
      if (bytes == 0) break;
      delivered += bytes;
    }
    ADD_FAILURE() << "the data ended after " << delivered << " bytes without an error";
  } catch (const EAPEException& e) {
    EXPECT_EQ(e.ErrorCode, APE_ERROR_IO_READ);
    EXPECT_STREQ(e.what(), "MACDll error: I/O read error");
  }
  EXPECT_LT(delivered, 44100u * 8 * 4);
  in.Reset();
}

TEST(MacLibraryTest, ErrorTexts) {
  EXPECT_EQ(APEErrorText(0), "OK");
  EXPECT_EQ(APEErrorText(1004), "input file file too large");
  EXPECT_EQ(APEErrorText(6000), "APE compress too much data");
  EXPECT_EQ(APEErrorText(7777), "undefined (7777)");
  EXPECT_STREQ(EAPEException(1009).what(), "MACDll error: invalid checksum");
}

}  // namespace
