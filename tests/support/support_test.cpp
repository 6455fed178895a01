// The shared test support checked on its own: what it writes is read back by
// the independent tools, a runner keeps output, error and status apart, and
// the gate and pump order threads without sleeping.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "pipeline/main_thread_invoker.h"
#include "tests/support/decoders.h"
#include "tests/support/files.h"
#include "tests/support/hold_gate.h"
#include "tests/support/main_thread_pump.h"
#include "tests/support/pipeline_parts.h"
#include "tests/support/process.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_streams.h"
#include "tests/support/wav_writer.h"

using namespace qmtest;
using namespace std::chrono_literals;
namespace fs = std::filesystem;

TEST(TempDir, IsFreshAndGoesWithEverythingInItEvenLockedFolders) {
  fs::path kept;
  {
    TTempDir a, b;
    EXPECT_NE(a.Path(), b.Path());
    EXPECT_TRUE(fs::is_directory(a.Path()));
    EXPECT_TRUE(fs::is_empty(a.Path()));
    WriteText(a / "deep" / "locked" / "file.txt", "x");
    ::chmod((a / "deep" / "locked").c_str(), 0500);
    ::chmod((a / "deep").c_str(), 0);
    kept = a.Path();
  }
  EXPECT_FALSE(fs::exists(kept));
}

TEST(RunShell, KeepsOutputErrorAndStatusApartAndBytesIntact) {
  const TRunResult r = RunShell("printf 'a\\0b'; printf err >&2; exit 3");
  EXPECT_EQ(r.Status, 3);
  EXPECT_EQ(r.Out, std::string("a\0b", 3));
  EXPECT_EQ(r.Err, "err");
  EXPECT_FALSE(r.TimedOut);
  // Standard input is empty rather than the test's own.
  EXPECT_EQ(RunShell("cat").Out, "");
  // More than a pipe holds, on both streams at once, without a dead lock.
  const TRunResult big = RunShell("head -c 300000 /dev/zero; head -c 300000 /dev/zero >&2");
  EXPECT_EQ(big.Out.size(), 300000u);
  EXPECT_EQ(big.Err.size(), 300000u);
}

TEST(RunShell, KillsACommandThatOutlivesItsTimeoutWithItsChildren) {
  const auto started = std::chrono::steady_clock::now();
  const TRunResult r = RunShell("sleep 30 & sleep 30; echo late", 1s);
  EXPECT_TRUE(r.TimedOut);
  EXPECT_EQ(r.Status, -1);
  EXPECT_EQ(r.Out, "");
  EXPECT_LT(std::chrono::steady_clock::now() - started, 20s);
}

TEST(RunShell, QuoteMakesOneWordOfAnyText) {
  const std::string text = "it's a \"test\" $HOME `x` \\ *";
  EXPECT_EQ(RunShell("printf %s " + Quote(text)).Out, text);
}

TEST(Tools, AMissingToolIsReportedByName) {
  EXPECT_TRUE(HaveTool("sh"));
  EXPECT_TRUE(HaveTool("/bin/sh"));
  EXPECT_FALSE(HaveTool("quellmark-no-such-tool"));
  EXPECT_EQ(MissingTools({"sh", "quellmark-no-such-tool", "quellmark-nor-this"}),
            "quellmark-no-such-tool, quellmark-nor-this");
  EXPECT_EQ(MissingTools({"sh"}), "");
}

TEST(Tools, QuellmarkRequireToolsTurnsASkipIntoAFailure) {
  const char* saved = std::getenv("QUELLMARK_REQUIRE_TOOLS");
  const std::string keep = saved ? saved : "";
  ::setenv("QUELLMARK_REQUIRE_TOOLS", "1", 1);
  EXPECT_TRUE(ToolsRequired());
  ::setenv("QUELLMARK_REQUIRE_TOOLS", "0", 1);
  EXPECT_FALSE(ToolsRequired());
  if (saved) {
    ::setenv("QUELLMARK_REQUIRE_TOOLS", keep.c_str(), 1);
  } else {
    ::unsetenv("QUELLMARK_REQUIRE_TOOLS");
  }
}

TEST(TestStreams, EveryWidthReadsBackThroughFfmpegAsWritten) {
  QM_REQUIRE_TOOLS("ffmpeg", "ffprobe");
  TTempDir dir;
  for (const int bits : {8, 16, 24, 32}) {
    SCOPED_TRACE(bits);
    const std::vector<TPcm> signals = {OneSample(bits, 1, 8000, FullScale(bits)),
                                       FullScaleSquare(bits, 2, 44100, 1000, 10), Sine(bits, 2, 48000, 4800, 1000)};
    for (std::size_t i = 0; i < signals.size(); ++i) {
      const TPcm& pcm = signals[i];
      const fs::path file = dir / ("s" + std::to_string(i) + ".wav");
      WriteWav(file, pcm);
      EXPECT_EQ(ProbeStream(file, "sample_rate,channels"),
                std::to_string(pcm.SampleRate) + "|" + std::to_string(pcm.Channels));
      // ffmpeg's 32-bit decode, shifted back to the width, is the signal.
      const std::vector<uint8_t> decoded = FfmpegDecode(file, "s32le");
      ASSERT_EQ(decoded.size(), static_cast<std::size_t>(pcm.Frames() * pcm.Channels * 4));
      for (int64_t f = 0; f < pcm.Frames(); ++f)
        for (int c = 0; c < pcm.Channels; ++c) {
          int32_t v;
          std::memcpy(&v, decoded.data() + (f * pcm.Channels + c) * 4, 4);
          ASSERT_EQ(v >> (32 - bits), pcm.Sample(f, c)) << "frame " << f << " channel " << c;
        }
    }
  }
}

TEST(TestStreams, ShapesAreWhatTheirNamesSay) {
  const TPcm square = FullScaleSquare(16, 1, 8000, 8, 4);
  EXPECT_EQ(square.Sample(0, 0), 32767);
  EXPECT_EQ(square.Sample(2, 0), -32768);
  EXPECT_EQ(square.Sample(4, 0), 32767);
  const TPcm one = OneSample(24, 2, 8000, -5);
  EXPECT_EQ(one.Frames(), 1);
  EXPECT_EQ(one.Sample(0, 1), -5);
  const TPcm sine = Sine(8, 1, 8000, 8000, 1000, 1.0);
  int32_t peak = 0;
  for (int64_t f = 0; f < sine.Frames(); ++f) peak = std::max(peak, sine.Sample(f, 0));
  EXPECT_EQ(peak, 127);
  EXPECT_EQ(Silence(32, 2, 8000, 3).Bytes, std::vector<uint8_t>(24, 0));
}

TEST(WavWriter, ExtraChunksAroundTheDataAreSkippedByReaders) {
  QM_REQUIRE_TOOLS("ffmpeg", "sox");
  TTempDir dir;
  const TPcm pcm = Sine(16, 1, 8000, 801);
  std::vector<uint8_t> before, after;
  PutPaddedChunk(before, "odd ", {1, 2, 3});
  PutPaddedChunk(before, "LIST", {'I', 'N', 'F', 'O'});
  PutChunk(after, "junk", std::vector<uint8_t>(10, 0xAA));
  WriteWav(dir / "chunks.wav", pcm, before, after);
  EXPECT_EQ(WavPayload(dir / "chunks.wav"), pcm.Bytes);
  EXPECT_EQ(FfmpegDecode(dir / "chunks.wav", "s16le"), pcm.Bytes);
  EXPECT_EQ(SoxDecode(dir / "chunks.wav"), pcm.Bytes);
  EXPECT_EQ(SoxInfo(dir / "chunks.wav", "-s"), "801");
  // An odd data chunk is padded, so the chunk after it starts where it should.
  const TPcm odd = Generate(8, 1, 8000, 3, [](int64_t f, int) { return static_cast<int32_t>(f); });
  WriteWav(dir / "odd.wav", odd, {}, after);
  EXPECT_EQ(ReadFile(dir / "odd.wav").size(), 12u + 24u + 8u + 4u + 18u);
  EXPECT_EQ(FfmpegDecode(dir / "odd.wav", "u8"), (std::vector<uint8_t>{128, 129, 130}));
}

TEST(HoldGate, HoldsAPassUntilReleasedOrLetGo) {
  THoldGate gate;
  gate.Pass();  // open: passes at once
  gate = true;
  std::atomic<bool> passed{false};
  std::thread worker([&] {
    gate.Pass();
    passed = true;
  });
  ASSERT_TRUE(gate.WaitUntilHeld(10s));
  EXPECT_FALSE(passed);
  gate.Release();
  worker.join();
  EXPECT_TRUE(passed);
  EXPECT_EQ(gate.TimesHeld(), 1);

  gate = true;
  std::atomic<bool> letGo{false};
  std::thread second([&] { gate.Pass([&] { return letGo.load(); }); });
  ASSERT_TRUE(gate.WaitUntilHeld(10s));
  letGo = true;
  second.join();
  EXPECT_TRUE(static_cast<bool>(gate)) << "letting go leaves the gate closed";
}

TEST(PumpUntil, RunsPostedWorkUntilTheConditionHolds) {
  std::atomic<bool> ran{false};
  std::thread poster([&] { MainThreadInvoker::Instance().InvokeAndWait([&] { ran = true; }); });
  EXPECT_TRUE(PumpUntil([&] { return ran.load(); }));
  poster.join();
  EXPECT_FALSE(PumpUntil([] { return false; }, 20ms));
}

TEST(GeneratorInput, HeldUntilReleasedThenDeliversEveryFrame) {
  TGeneratorInput gen(2, 8000, 16, 1000);
  gen.Hold = true;
  std::vector<uint8_t> got;
  std::thread reader([&] { got = ReadAll(gen, 400); });
  ASSERT_TRUE(gen.Hold.WaitUntilHeld(10s));
  EXPECT_TRUE(got.empty());
  gen.Hold.Release();
  reader.join();
  EXPECT_EQ(got.size(), 4000u);
}
