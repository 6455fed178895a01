// A file sink's output appears under its name only when it is finished: the
// run writes a hidden temporary file beside it, which a finished run moves
// into place, a failed run removes and a stopped run keeps under a name that
// replaces nothing. Shown with the WAV sink, whose base does all of it.
#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/resource.h>

#include <csignal>

#include "codecs/wav_out.h"
#include "pipeline/output_names.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace {

struct TWriteRun {
  TWriteRun(TAuInput& input, const fs::path& file) {
    Out.SetInput(&input);
    Out.SetFileName(file.string());
  }
  TWaveOut Out;
};

std::vector<uint8_t> SomeBytes() { return std::vector<uint8_t>(1000, 0x5a); }

}  // namespace

TEST(FinishedOutput, AFailedRunLeavesWhatTheNameHeldByteForByte) {
  TTempDir dir;
  const auto file = dir / "song.wav";
  WriteFile(file, SomeBytes());
  TGeneratorInput gen(2, 44100, 16, 44100 * 4);
  gen.FailAfterFrames = 44100 * 2;
  TWriteRun w(gen, file);
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, "generator failed");
  EXPECT_EQ(ReadFile(file), SomeBytes()) << "the earlier good output was destroyed";
  EXPECT_TRUE(TemporaryOutputs(dir.Path()).empty());
  EXPECT_TRUE(w.Out.OutputFileName().empty());

  // The same run that succeeds replaces it, by default.
  TGeneratorInput good(2, 44100, 16, 1000);
  w.Out.SetInput(&good);
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, "");
  EXPECT_EQ(ReadFile(file).size(), 4044u);
  EXPECT_EQ(w.Out.OutputFileName(), file);
}

TEST(FinishedOutput, ANameTakenWhileWritingIsKeptWhenReplacingIsOff) {
  TTempDir dir;
  const auto file = dir / "song.wav";
  TGeneratorInput gen(1, 8000, 16, 8000);
  gen.Hold = true;
  TWriteRun w(gen, file);
  w.Out.ReplaceExisting = false;
  bool done = false;
  w.Out.OnDone = [&done](TComponent*) { done = true; };
  w.Out.Run();
  ASSERT_TRUE(gen.Hold.WaitUntilHeld(std::chrono::seconds(30)));
  // Someone else's file appears under the name while ours is written.
  WriteFile(file, SomeBytes());
  gen.Hold.Release();
  while (!done) MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(10));
  EXPECT_EQ(w.Out.ExceptionMessage, "");
  EXPECT_EQ(ReadFile(file), SomeBytes());
  EXPECT_EQ(w.Out.OutputFileName(), dir / "song (2).wav");
  EXPECT_EQ(ReadFile(dir / "song (2).wav").size(), 16044u);
}

TEST(FinishedOutput, AStoppedRunKeepsItsPartUnderAFreeName) {
  TTempDir dir;
  const auto file = dir / "song.wav";
  WriteFile(file, SomeBytes());
  TGeneratorInput gen(2, 44100, 16, 44100 * 600);
  TWriteRun w(gen, file);
  // Even a sink told to replace never replaces with a part.
  w.Out.ReplaceExisting = true;
  w.Out.Run();
  while (gen.Position < 1 << 20) MainThreadInvoker::Instance().WaitAndRun(std::chrono::milliseconds(1));
  w.Out.Stop(false);
  EXPECT_EQ(ReadFile(file), SomeBytes());
  const auto part = dir / "song (2).wav";
  EXPECT_EQ(w.Out.OutputFileName(), part);
  EXPECT_GT(ReadFile(part).size(), 1u << 20);
  EXPECT_TRUE(TemporaryOutputs(dir.Path()).empty());
}

TEST(FinishedOutput, ADeviceIsWrittenInPlace) {
  TGeneratorInput gen(1, 8000, 8, 8000);
  TWriteRun w(gen, "/dev/null");
  ASSERT_TRUE(RunToEnd(w.Out));
  EXPECT_EQ(w.Out.ExceptionMessage, "");
  EXPECT_EQ(w.Out.OutputFileName(), "/dev/null");
}

// A disk that fills up part-way: a small tmpfs where the test may mount one,
// else a file-size limit, which fails writes beyond it with EFBIG alike.
TEST(FinishedOutput, AFullDiskLeavesNeitherAPartNorAChangedFile) {
  TTempDir dir;
  const auto folder = dir / "small";
  fs::create_directories(folder);
  const bool mounted = ::mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") == 0;
  const auto file = folder / "song.wav";
  WriteFile(file, SomeBytes());
  rlimit saved{};
  ::getrlimit(RLIMIT_FSIZE, &saved);
  const auto previous = std::signal(SIGXFSZ, SIG_IGN);
  if (!mounted) {
    rlimit limit = saved;
    limit.rlim_cur = 256 * 1024;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  TGeneratorInput gen(2, 44100, 16, 44100 * 10);
  TWriteRun w(gen, file);
  const bool ended = RunToEnd(w.Out);
  if (!mounted) ::setrlimit(RLIMIT_FSIZE, &saved);
  std::signal(SIGXFSZ, previous);
  ASSERT_TRUE(ended);
  EXPECT_NE(w.Out.ExceptionMessage, "");
  EXPECT_EQ(ReadFile(file), SomeBytes());
  EXPECT_TRUE(TemporaryOutputs(folder).empty());
  if (mounted) ::umount(folder.c_str());
}

TEST(FinishedOutput, TemporaryNamesAreHiddenAndRecognisable) {
  const fs::path a = output_names::TemporaryName("/music/song.mp3");
  const fs::path b = output_names::TemporaryName("/music/song.mp3");
  EXPECT_NE(a, b);
  EXPECT_EQ(a.parent_path(), "/music");
  EXPECT_EQ(a.filename().string().front(), '.');
  EXPECT_TRUE(output_names::IsTemporaryName(a));
  EXPECT_FALSE(output_names::IsTemporaryName("/music/song.mp3"));
  EXPECT_FALSE(output_names::IsTemporaryName("/music/.qmpart"));

  auto takenUpTo = [](int n) {
    return [n](const fs::path& p) {
      const std::string s = p.filename().string();
      if (s == "a.b.mp3") return true;
      for (int i = 2; i <= n; ++i)
        if (s == "a.b (" + std::to_string(i) + ").mp3") return true;
      return false;
    };
  };
  EXPECT_EQ(output_names::FreeName("/m/a.b.mp3", [](const fs::path&) { return false; }), "/m/a.b.mp3");
  EXPECT_EQ(output_names::FreeName("/m/a.b.mp3", takenUpTo(1)), "/m/a.b (2).mp3");
  EXPECT_EQ(output_names::FreeName("/m/a.b.mp3", takenUpTo(3)), "/m/a.b (4).mp3");
}
