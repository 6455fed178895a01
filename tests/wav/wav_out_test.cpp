#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "codecs/riff_chunks.h"
#include "codecs/wav_in.h"
#include "codecs/wav_out.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace {

uint32_t U32(const std::vector<uint8_t>& v, size_t at) { return ReadLe32(v.data() + at); }
uint16_t U16(const std::vector<uint8_t>& v, size_t at) { return ReadLe16(v.data() + at); }

struct TWriteRun {
  TWriteRun(TAuInput& input, const fs::path& file) {
    Out.SetInput(&input);
    Out.SetFileName(file.string());
  }
  TWaveOut Out;
};

}  // namespace

TEST(WaveOutTest, PlainPcmHeaderAndIndependentReaders) {
  QM_REQUIRE_TOOLS("ffprobe", "soxi");
  TTempDir dir;
  const auto file = dir / "out.wav";
  TGeneratorInput gen(2, 44100, 16, 1000);
  TWriteRun w(gen, file);
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, "");
  const auto bytes = ReadFile(file);
  ASSERT_EQ(bytes.size(), 4044u);
  EXPECT_EQ(U32(bytes, 4), 4036u);
  EXPECT_EQ(U16(bytes, 20), 1);
  EXPECT_EQ(U32(bytes, 28), 176400u);
  EXPECT_EQ(U16(bytes, 32), 4);
  EXPECT_EQ(U32(bytes, 40), 4000u);
  EXPECT_EQ(Probe(file, "sample_rate"), "44100");
  EXPECT_EQ(Probe(file, "channels"), "2");
  EXPECT_EQ(Probe(file, "bits_per_sample"), "16");
  EXPECT_EQ(SoxInfo(file, "-s"), "1000");
  EXPECT_EQ(SoxInfo(file, "-r"), "44100");
  // The samples are the generator's, byte for byte.
  const auto pcm = AsInt16(std::vector<uint8_t>(bytes.begin() + 44, bytes.end()));
  EXPECT_EQ(pcm[2 * 7 + 1], gen.Sample(7, 1));
}

TEST(WaveOutTest, ExtensibleHeaderForWideOrMultichannelInput) {
  QM_REQUIRE_TOOLS("ffprobe", "soxi");
  TTempDir dir;
  struct Case {
    int channels, bits;
    bool nonMs;
    uint16_t tag;
    uint32_t mask;
  } cases[] = {{6, 16, false, 0xFFFE, 0x3F}, {6, 16, true, 1, 0}, {2, 24, false, 0xFFFE, 0x3}, {8, 32, false, 0xFFFE, 0xFF}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + "x" + std::to_string(c.bits));
    const auto file = dir / "ext.wav";
    TGeneratorInput gen(c.channels, 48000, c.bits, 4801);
    TWriteRun w(gen, file);
    w.Out.CreateNonMsHeaders = c.nonMs;
    ASSERT_TRUE(RunToEnd(w.Out));
    const auto bytes = ReadFile(file);
    EXPECT_EQ(U16(bytes, 20), c.tag);
    if (c.tag == 0xFFFE) {
      EXPECT_EQ(U32(bytes, 40), c.mask);
      EXPECT_EQ(U32(bytes, 64), bytes.size() - 68);
      EXPECT_EQ(U32(bytes, 4), bytes.size() - 8);
    }
    EXPECT_EQ(Probe(file, "channels"), std::to_string(c.channels));
    EXPECT_EQ(SoxInfo(file, "-s"), "4801");
    EXPECT_EQ(SoxInfo(file, "-b"), std::to_string(c.bits));
    // What was written reads back through TWaveIn unchanged.
    TWaveIn in;
    in.SetFileName(file.string());
    EXPECT_EQ(ReadAll(in).size(), 4801u * c.channels * c.bits / 8);
  }
}

TEST(WaveOutTest, ImaAdpcmHeadersAndFfmpegDecode) {
  QM_REQUIRE_TOOLS("ffmpeg", "ffprobe", "sox");
  TTempDir dir;
  struct Case {
    int channels;
    uint16_t spb;
    uint32_t bytesPerSecond;
  } cases[] = {{1, 1017, 22016}, {2, 505, 44544}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.channels);
    const auto file = dir / "ima.wav";
    const int64_t frames = 10000;
    TGeneratorInput gen(c.channels, 44100, 16, frames);
    gen.Sample = [](int64_t f, int ch) { return static_cast<int32_t>(12000 * std::sin(0.03 * f + ch)); };
    TWriteRun w(gen, file);
    w.Out.SetWavType(TWavType::wtDVIADPCM);
    ASSERT_TRUE(RunToEnd(w.Out));
    const auto bytes = ReadFile(file);
    EXPECT_EQ(U16(bytes, 20), 0x11);
    EXPECT_EQ(U16(bytes, 38), c.spb);
    EXPECT_EQ(U32(bytes, 28), c.bytesPerSecond);
    EXPECT_EQ(U32(bytes, 48), frames);
    // ceil(frames / spb) blocks are written, and the data chunk holds them.
    const size_t written = (frames + c.spb - 1) / c.spb;
    EXPECT_EQ(U32(bytes, 56), written * 512);
    EXPECT_EQ(bytes.size(), 60 + written * 512);
    TWaveIn in;
    in.SetFileName(file.string());
    const auto ours = AsInt16(ReadAll(in));
    ASSERT_EQ(ours.size(), size_t(frames) * c.channels);
    // sox decodes it exactly as the reader does; FFmpeg within its rounding.
    const auto sox = AsInt16(SoxDecode(file));
    ASSERT_GE(sox.size(), ours.size());
    for (size_t i = 0; i < ours.size(); ++i) ASSERT_EQ(ours[i], sox[i]) << i;
    const auto ffmpeg = AsInt16(FfmpegDecode(file, "s16le"));
    ASSERT_GE(ffmpeg.size(), ours.size());
    EXPECT_GT(Correlation(ours, ffmpeg, ours.size()), 0.9999);
    EXPECT_EQ(Probe(file, "sample_rate"), "44100");
    EXPECT_EQ(Probe(file, "channels"), std::to_string(c.channels));
    double err = 0;
    for (int64_t f = 0; f < frames; ++f)
      for (int ch = 0; ch < c.channels; ++ch)
        err = std::max(err, std::abs(double(ours[f * c.channels + ch]) - gen.Sample(f, ch)));
    EXPECT_LT(err, 1500);
  }
}

// The chunk sizes cover exactly the blocks written: ceil(frames / SPB) of
// them, the last one silent where the frames did not fill it, and none after
// the data chunk when the frames fill whole blocks (121200 = 240 x 505).
TEST(WaveOutTest, ImaChunkSizesCoverExactlyWhatWasWritten) {
  QM_REQUIRE_TOOLS("ffmpeg", "soxi");
  TTempDir dir;
  struct Case {
    int channels;
    int64_t frames;
    uint32_t spb;
  } cases[] = {{2, 121200, 505}, {2, 121201, 505}, {2, 121199, 505}, {2, 121200 + 100, 505},
               {1, 2 * 1017, 1017}, {1, 1, 1017}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.channels) + " channels, " + std::to_string(c.frames) + " frames");
    const auto file = dir / "ima.wav";
    TGeneratorInput gen(c.channels, 44100, 16, c.frames);
    gen.Sample = [](int64_t f, int ch) { return static_cast<int32_t>(9000 * std::sin(0.02 * f + ch)); };
    TWriteRun w(gen, file);
    w.Out.SetWavType(TWavType::wtDVIADPCM);
    ASSERT_TRUE(RunToEnd(w.Out));
    EXPECT_EQ(w.Out.ExceptionMessage, "");
    const auto bytes = ReadFile(file);
    const uint64_t blocksInFile = (bytes.size() - 60) / 512;
    EXPECT_EQ((bytes.size() - 60) % 512, 0u);
    EXPECT_EQ(blocksInFile, (c.frames + c.spb - 1) / c.spb);
    EXPECT_EQ(U32(bytes, 4), bytes.size() - 8);
    EXPECT_EQ(U32(bytes, 56), bytes.size() - 60);
    EXPECT_EQ(U32(bytes, 48), c.frames);
    // ffmpeg and sox decode the blocks of the data chunk: all of the file's.
    EXPECT_EQ(AsInt16(FfmpegDecode(file, "s16le")).size(), blocksInFile * c.spb * c.channels);
    EXPECT_EQ(SoxInfo(file, "-s"), std::to_string(blocksInFile * c.spb));
    TWaveIn in;
    in.SetFileName(file.string());
    EXPECT_EQ(ReadAll(in).size(), static_cast<size_t>(c.frames) * 2 * c.channels);
  }
}

// A source that delivers less than it announced: the header still covers
// the blocks that were written, and counts the frames that came.
TEST(WaveOutTest, ImaHeaderFollowsWhatTheInputDelivered) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto file = dir / "short-ima.wav";
  TGeneratorInput gen(2, 44100, 16, 2000);
  gen.AnnouncedSize = 20000 * 4;
  TWriteRun w(gen, file);
  w.Out.SetWavType(TWavType::wtDVIADPCM);
  ASSERT_TRUE(RunToEnd(w.Out));
  const auto bytes = ReadFile(file);
  ASSERT_EQ(bytes.size(), 60u + 4 * 512);
  EXPECT_EQ(U32(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(U32(bytes, 56), 4u * 512);
  EXPECT_EQ(U32(bytes, 48), 2000u);
  EXPECT_EQ(AsInt16(FfmpegDecode(file, "s16le")).size(), 4u * 505 * 2);
}

TEST(WaveOutTest, SettersRefuseWhatTheyCannotWrite) {
  TWaveOut out;
  out.SetWavType(TWavType::wtMSADPCM);
  EXPECT_EQ(out.WavType(), TWavType::wtPCM);
  out.SetWavType(TWavType::wtExtPCM);
  EXPECT_EQ(out.WavType(), TWavType::wtPCM);
  out.SetBlockSize(0);
  out.SetBlockSize(510);
  EXPECT_EQ(out.BlockSize(), 512);
  out.SetBlockSize(1024);
  EXPECT_EQ(out.BlockSize(), 1024);
}

TEST(WaveOutTest, UnknownLengthIsPatchedFromTheFile) {
  QM_REQUIRE_TOOLS("soxi");
  TTempDir dir;
  for (bool ima : {false, true}) {
    SCOPED_TRACE(ima);
    const auto file = dir / "unknown.wav";
    TGeneratorInput gen(2, 22050, 16, 3000);
    gen.AnnouncedSize = -1;
    TWriteRun w(gen, file);
    if (ima) w.Out.SetWavType(TWavType::wtDVIADPCM);
    ASSERT_TRUE(RunToEnd(w.Out));
    const auto bytes = ReadFile(file);
    EXPECT_EQ(U32(bytes, 4), bytes.size() - 8);
    if (ima) {
      EXPECT_EQ(U32(bytes, 56), bytes.size() - 60);
      EXPECT_EQ(bytes.size(), 60u + 6 * 512);
      EXPECT_EQ(U32(bytes, 48), 3000u);
    } else {
      EXPECT_EQ(U32(bytes, 40), 12000u);
      EXPECT_EQ(SoxInfo(file, "-s"), "3000");
    }
  }
}

// While the run lasts, an unknown length shows as Size + 36 = 35 and $FFFFFFFF.
TEST(WaveOutTest, UnknownLengthHeaderWhileRunning) {
  TTempDir dir;
  const auto file = dir / "running.wav";
  TGeneratorInput gen(2, 44100, 16, 44100 * 60);
  gen.AnnouncedSize = -1;
  TWriteRun w(gen, file);
  bool done = false;
  w.Out.OnDone = [&done](TComponent*) { done = true; };
  w.Out.Run();
  while (gen.Position == 0) MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(1));
  w.Out.Pause();
  // While it is written the file has a hidden name of its own; the final
  // name appears only once it is finished.
  EXPECT_FALSE(fs::exists(file));
  const auto parts = TemporaryOutputs(dir.Path());
  ASSERT_EQ(parts.size(), 1u);
  const auto bytes = ReadFile(parts[0]);
  ASSERT_GE(bytes.size(), 44u);
  EXPECT_EQ(U32(bytes, 4), 35u);
  EXPECT_EQ(U32(bytes, 40), 0xFFFFFFFFu);
  w.Out.Resume();
  while (!done) MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(10));
  EXPECT_EQ(U32(ReadFile(file), 40), 44100u * 60 * 4);
  EXPECT_TRUE(TemporaryOutputs(dir.Path()).empty());
}

TEST(WaveOutTest, StoppedRunLeavesMatchingHeader) {
  QM_REQUIRE_TOOLS("soxi");
  TTempDir dir;
  const auto file = dir / "stopped.wav";
  TGeneratorInput gen(2, 44100, 16, 44100 * 600);
  TWriteRun w(gen, file);
  bool done = false;
  w.Out.OnDone = [&done](TComponent*) { done = true; };
  w.Out.Run();
  while (gen.Position < 1 << 20) MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(1));
  w.Out.Stop(false);
  EXPECT_FALSE(done);
  const auto bytes = ReadFile(file);
  ASSERT_GT(bytes.size(), 44u);
  EXPECT_LT(bytes.size(), 44100u * 4 * 600);
  EXPECT_EQ(U32(bytes, 40), bytes.size() - 44);
  EXPECT_EQ(U32(bytes, 4), bytes.size() - 8);
  EXPECT_EQ(SoxInfo(file, "-s"), std::to_string((bytes.size() - 44) / 4));
}

TEST(WaveOutTest, ShortRunIsPaddedToTheAnnouncedLength) {
  TTempDir dir;
  const auto file = dir / "short.wav";
  TGeneratorInput gen(1, 8000, 16, 100);
  gen.AnnouncedSize = 500;
  TWriteRun w(gen, file);
  ASSERT_TRUE(RunToEnd(w.Out));
  const auto bytes = ReadFile(file);
  ASSERT_EQ(bytes.size(), 544u);
  for (size_t i = 244; i < 544; ++i) ASSERT_EQ(bytes[i], 0) << i;
}

TEST(WaveOutTest, AppendingPcm) {
  QM_REQUIRE_TOOLS("soxi");
  TTempDir dir;
  const auto file = dir / "append.wav";
  // An empty existing file gets a new header.
  WriteFile(file, {});
  TGeneratorInput first(2, 44100, 16, 1000);
  TWriteRun w(first, file);
  w.Out.SetFileMode(TFileOutputMode::foAppend);
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(ReadFile(file).size(), 4044u);
  TGeneratorInput second(2, 44100, 16, 500);
  w.Out.SetInput(&second);
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, "");
  const auto bytes = ReadFile(file);
  ASSERT_EQ(bytes.size(), 44u + 6000);
  EXPECT_EQ(U32(bytes, 40), 6000u);
  EXPECT_EQ(U32(bytes, 4), 6036u);
  EXPECT_EQ(SoxInfo(file, "-s"), "1500");
  // Another format cannot join.
  TGeneratorInput mono(1, 44100, 16, 10);
  w.Out.SetInput(&mono);
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, kMsgCannotAppendDifferentFormat);
  EXPECT_EQ(ReadFile(file).size(), 44u + 6000);
}

TEST(WaveOutTest, AppendingImaAdpcmAddsWholeBlocks) {
  QM_REQUIRE_TOOLS("ffmpeg", "ffprobe");
  TTempDir dir;
  const auto file = dir / "append-ima.wav";
  // Two whole blocks, then one and a bit.
  TGeneratorInput first(2, 44100, 16, 1010);
  TWriteRun w(first, file);
  w.Out.SetWavType(TWavType::wtDVIADPCM);
  ASSERT_TRUE(RunToEnd(w.Out));
  const size_t before = ReadFile(file).size();
  EXPECT_EQ(before, 60u + 2 * 512);
  TGeneratorInput second(2, 44100, 16, 600);
  w.Out.SetInput(&second);
  w.Out.SetFileMode(TFileOutputMode::foAppend);
  w.Out.SetWavType(TWavType::wtPCM);  // the existing file's type wins
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, "");
  EXPECT_EQ(w.Out.WavType(), TWavType::wtDVIADPCM);
  const auto bytes = ReadFile(file);
  EXPECT_EQ(bytes.size(), before + 2 * 512);
  EXPECT_EQ(U32(bytes, 56), bytes.size() - 60);
  EXPECT_EQ(U32(bytes, 4), bytes.size() - 8);
  // The blocks of the first run, then the frames of the second.
  EXPECT_EQ(U32(bytes, 48), 2u * 505 + 600);
  EXPECT_EQ(Probe(file, "codec_name"), "adpcm_ima_wav");
  EXPECT_EQ(AsInt16(FfmpegDecode(file, "s16le")).size(), 4u * 505 * 2);
  // Appending again to the appended file keeps it whole.
  TGeneratorInput third(2, 44100, 16, 505);
  w.Out.SetInput(&third);
  ASSERT_TRUE(RunToEnd(w.Out));
  const auto again = ReadFile(file);
  EXPECT_EQ(again.size(), before + 3 * 512);
  EXPECT_EQ(U32(again, 56), again.size() - 60);
  EXPECT_EQ(U32(again, 4), again.size() - 8);
  EXPECT_EQ(U32(again, 48), 4u * 505 + 505);
  EXPECT_EQ(AsInt16(FfmpegDecode(file, "s16le")).size(), 5u * 505 * 2);
}

TEST(WaveOutTest, AppendingToOtherKindsFails) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto ms = dir / "ms.wav";
  FfmpegGenerate("sine=sample_rate=44100:duration=0.1", "-ac 2 -c:a adpcm_ms", ms);
  const auto ext = dir / "ext.wav";
  FfmpegGenerate("sine=sample_rate=44100:duration=0.1", "-ac 6 -c:a pcm_s16le", ext);
  for (const auto& file : {ms, ext}) {
    SCOPED_TRACE(file.string());
    const auto original = ReadFile(file);
    TGeneratorInput gen(2, 44100, 16, 10);
    TWriteRun w(gen, file);
    w.Out.SetFileMode(TFileOutputMode::foAppend);
    ASSERT_TRUE(RunToEnd(w.Out));
    EXPECT_EQ(w.Out.ExceptionMessage, kMsgCannotAppendToFile);
    EXPECT_EQ(ReadFile(file), original);
  }
}

TEST(WaveOutTest, StereoImaNeedsWholeNibbleGroups) {
  TTempDir dir;
  TGeneratorInput gen(2, 8000, 16, 10);
  TWriteRun w(gen, dir / "x.wav");
  w.Out.SetWavType(TWavType::wtDVIADPCM);
  w.Out.SetBlockSize(516);
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, kMsgStereoBlockSize);
}

TEST(WaveOutTest, EightBitInputCannotBecomeAdpcm) {
  TTempDir dir;
  TGeneratorInput gen(1, 8000, 8, 10);
  TWriteRun w(gen, dir / "x.wav");
  w.Out.SetWavType(TWavType::wtDVIADPCM);
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, kMsgCannotEncode8Bit);
}

// A failed write or read ends the run as a failure, never as a short success.
TEST(WaveOutTest, WriteAndReadFailuresEndTheRunWithTheError) {
  TTempDir dir;
  {
    TGeneratorInput gen(2, 44100, 16, 44100);
    TWriteRun w(gen, "/dev/full");
    bool reported = false;
    w.Out.OnThreadException = [&reported](TComponent*) { reported = true; };
    ASSERT_TRUE(RunToEnd(w.Out));
    EXPECT_TRUE(reported);
    EXPECT_NE(w.Out.ExceptionMessage, "");
  }
  {
    TGeneratorInput gen(2, 44100, 16, 44100);
    gen.FailAfterFrames = 8192;
    const auto file = dir / "failed-read.wav";
    TWriteRun w(gen, file);
    bool reported = false;
    w.Out.OnThreadException = [&reported](TComponent*) { reported = true; };
    ASSERT_TRUE(RunToEnd(w.Out));
    EXPECT_TRUE(reported);
    EXPECT_EQ(w.Out.ExceptionMessage, "generator failed");
    // A failed output never appears, nor its unfinished part.
    EXPECT_FALSE(fs::exists(file));
    EXPECT_TRUE(TemporaryOutputs(dir.Path()).empty());
  }
}

// A source whose file fails part-way through fails the run with the
// system's error.
TEST(WaveOutTest, ReadErrorOfTheSourceFailsTheRun) {
  QM_REQUIRE_TOOLS("ffmpeg");
  TTempDir dir;
  const auto src = dir / "src.wav";
  FfmpegGenerate("sine=frequency=440:sample_rate=44100:duration=2", "-ac 2 -c:a pcm_s16le", src);
  auto stream = FaultyFile(src, static_cast<int64_t>(fs::file_size(src)) * 6 / 10);
  TWaveIn in;
  in.SetStream(stream.get());
  const auto file = dir / "out.wav";
  TWriteRun w(in, file);
  bool reported = false;
  w.Out.OnThreadException = [&reported](TComponent*) { reported = true; };
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_TRUE(reported);
  EXPECT_EQ(w.Out.ExceptionMessage, std::strerror(EIO));
  // Not padded out as if the data had ended, nor left half written.
  EXPECT_FALSE(fs::exists(file));
  EXPECT_TRUE(TemporaryOutputs(dir.Path()).empty());
}

namespace {

// A WAV sink whose file reports an error when it is closed.
class TCloseFailingWaveOut : public TWaveOut {
 public:
  int CloseErrno = EDQUOT;

 protected:
  void Prepare() override {
    TWaveOut::Prepare();
    auto stream = std::make_unique<TFaultyStream>(std::move(Stream));
    stream->CloseErrno = CloseErrno;
    Stream = std::move(stream);
  }
};

}  // namespace

// Closing the output is part of finishing it: an error the system reports
// only at the close fails the run, whatever kind of file was written.
TEST(WaveOutTest, AFailedCloseFailsTheRun) {
  TTempDir dir;
  for (const TWavType type : {TWavType::wtPCM, TWavType::wtDVIADPCM}) {
    SCOPED_TRACE(static_cast<int>(type));
    const auto file = dir / "closed.wav";
    TGeneratorInput gen(2, 44100, 16, 5000);
    TCloseFailingWaveOut out;
    out.SetInput(&gen);
    out.SetFileName(file.string());
    out.SetWavType(type);
    bool reported = false;
    out.OnThreadException = [&reported](TComponent*) { reported = true; };
    ASSERT_TRUE(RunToEnd(out));
    EXPECT_TRUE(reported);
    EXPECT_EQ(out.ExceptionMessage, std::strerror(EDQUOT));
    EXPECT_FALSE(gen.Busy) << "the input is flushed all the same";
    // The next run with a close that works succeeds.
    out.CloseErrno = 0;
    TGeneratorInput again(2, 44100, 16, 5000);
    out.SetInput(&again);
    ASSERT_TRUE(RunToEnd(out));
    EXPECT_EQ(out.ExceptionMessage, "");
  }
}

TEST(WaveOutTest, MissingFileNameFails) {
  TGeneratorInput gen(1, 8000, 16, 10);
  TWaveOut out;
  out.SetInput(&gen);
  ASSERT_TRUE(RunToEnd(out));
  EXPECT_EQ(out.ExceptionMessage, kMsgOutputFileNameNotAssigned);
}
