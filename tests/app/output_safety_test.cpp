// No file is ever lost: an output that finds its name taken keeps both,
// replaces or skips by "existingOutput", never replaces a listed source or an
// output whose source is gone, and a source is deleted only once its output
// was decoded back and holds its audio. Driven through the application core
// with the real codecs, on generated files.
#include <gtest/gtest.h>

#include <sys/mount.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "app/app_core.h"
#include "codecs/wav_in.h"
#include "pipeline/main_thread_invoker.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace {

using Strings = std::vector<std::string>;

class TRecordingView : public TDriverView {
 public:
  Strings Done;
  Strings Failed;
  Strings Skipped;

  void ShowProgressPanel(bool) override {}
  void SetGauge(int) override {}
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void ShowError(const std::string& message) override { Failed.push_back(message); }
  void RowNotStarted(const std::string&) override {}
  void RowFinished(int, const std::string& outputPath, const std::string& error) override {
    if (error.empty()) {
      Done.push_back(outputPath);
    } else {
      Failed.push_back(error);
    }
  }
  void RowSkipped(int, const std::string& reason) override { Skipped.push_back(reason); }
  void RowProgress(int percent, const std::string&) override {
    if (OnProgress) OnProgress(percent);
  }
  std::function<void(int)> OnProgress;
};

struct TFixture {
  TTempDir dir;
  TRecordingView view;
  TAppCore core{view};

  TFixture() {
    core.Settings.jobs = 1;
    core.Settings.asInput = true;
    core.Settings.outputType = 0;
    core.Settings.wavCh = 2;
    core.Settings.wavBps = 16;
    core.Settings.wavSr = 44100;
  }
  // Two channels of 16 bits at 44.1 kHz: the WAV settings above keep it as
  // it is, so a WAV output holds the very samples.
  std::string Wav(const std::string& name, int64_t frames = 44100) {
    const fs::path path = dir / name;
    fs::create_directories(path.parent_path());
    WriteSineWav(path, 44100, 2, 16, frames);
    return path.string();
  }
  void Add(const Strings& paths) { ASSERT_EQ(core.AddPaths(paths), Strings{}); }
  void Convert() {
    core.Driver.MStartClick();
    auto& invoker = MainThreadInvoker::Instance();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (core.Driver.Running) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline);
      invoker.WaitAndRun(std::chrono::milliseconds(50));
    }
  }
  TRowImage Image(int row) const { return core.Files.Row(row).Image; }
};

std::vector<uint8_t> Foreign() { return std::vector<uint8_t>(777, 0xa5); }

// The frames a WAV file holds, through our reader.
int64_t WavFrames(const fs::path& file) {
  TWaveIn in;
  in.SetFileName(file.string());
  return in.TotalSamples();
}

}  // namespace

// ------------------------------------------------------- existingOutput

TEST(ExistingOutput, KeepBothTakesAFreeNameReplaceReplacesSkipKeepsEverything) {
  for (int mode : {0, 1, 2}) {
    SCOPED_TRACE(mode);
    TFixture f;
    const std::string src = f.Wav("src/a.wav");
    const fs::path out = f.dir / "out";
    fs::create_directories(out);
    WriteFile(out / "a.wav.wav", Foreign());
    f.core.Settings.asInput = false;
    f.core.Settings.OutputDir = out.string();
    f.core.Settings.existingOutput = mode;
    f.Add({src});
    f.Convert();
    EXPECT_EQ(f.view.Failed, Strings{});
    EXPECT_TRUE(fs::exists(src));
    if (mode == 0) {
      EXPECT_EQ(ReadFile(out / "a.wav.wav"), Foreign());
      EXPECT_EQ(f.view.Done, Strings{(out / "a.wav (2).wav").string()});
      EXPECT_EQ(WavFrames(out / "a.wav (2).wav"), 44100);
      EXPECT_EQ(f.core.Files.Row(0).Message, FormatMessage(kFmtOutputWritten, {(out / "a.wav (2).wav").string()}));
    } else if (mode == 1) {
      EXPECT_EQ(f.view.Done, Strings{(out / "a.wav.wav").string()});
      EXPECT_EQ(WavFrames(out / "a.wav.wav"), 44100);
      EXPECT_FALSE(fs::exists(out / "a.wav (2).wav"));
    } else {
      EXPECT_EQ(f.view.Done, Strings{});
      EXPECT_EQ(f.view.Skipped, Strings{FormatMessage(kFmtOutputExists, {(out / "a.wav.wav").string()})});
      EXPECT_EQ(f.Image(0), TRowImage::Skipped);
      EXPECT_EQ(ReadFile(out / "a.wav.wav"), Foreign());
      EXPECT_FALSE(fs::exists(out / "a.wav (2).wav"));
    }
    EXPECT_TRUE(TemporaryOutputs(out).empty());
  }
}

TEST(ExistingOutput, AListedSourceIsNeverReplacedWhateverTheSetting) {
  TFixture f;
  const std::string a = f.Wav("a.wav");
  const std::string aa = f.Wav("a.wav.wav", 1000);
  const auto listed = ReadFile(aa);
  f.core.Settings.existingOutput = 1;
  f.Add({a, aa});
  f.Convert();
  EXPECT_EQ(f.view.Failed, Strings{});
  EXPECT_EQ(ReadFile(aa), listed);
  EXPECT_EQ(f.view.Done, (Strings{(f.dir / "a.wav (2).wav").string(), (f.dir / "a.wav.wav.wav").string()}));
  EXPECT_EQ(WavFrames(f.dir / "a.wav (2).wav"), 44100);

  // Skipping skips it instead.
  f.core.Settings.existingOutput = 2;
  f.core.Files.SetAllChecked(true);
  f.view.Done.clear();
  f.Convert();
  EXPECT_EQ(ReadFile(aa), listed);
  EXPECT_EQ(f.view.Skipped.size(), 2u) << "both outputs exist now";
}

// song.wav and the user's song.mp3 side by side, converted to MP3 beside
// themselves: whatever the order, song.mp3 is never written over.
TEST(ExistingOutput, AnMp3BesideItsWavSurvivesInEitherOrder) {
  for (const bool wavFirst : {true, false}) {
    for (int mode : {0, 1}) {
      SCOPED_TRACE(std::to_string(wavFirst) + " " + std::to_string(mode));
      TFixture f;
      const std::string wav = f.Wav("song.wav", 44100 / 2);
      f.core.Settings.outputType = 1;
      // The user's MP3, made from another file.
      const std::string other = f.Wav("make/other.wav", 44100 / 4);
      {
        TFixture maker;
        maker.core.Settings.outputType = 1;
        maker.Add({other});
        maker.Convert();
        ASSERT_EQ(maker.view.Done.size(), 1u);
        fs::rename(maker.view.Done[0], f.dir / "song.mp3");
      }
      const auto original = ReadFile(f.dir / "song.mp3");
      f.core.Settings.existingOutput = mode;
      const std::string mp3 = (f.dir / "song.mp3").string();
      f.Add(wavFirst ? Strings{wav, mp3} : Strings{mp3, wav});
      f.Convert();
      EXPECT_EQ(f.view.Failed, Strings{});
      EXPECT_EQ(ReadFile(f.dir / "song.mp3"), original);
      EXPECT_TRUE(fs::exists(f.dir / "song.mp3.mp3"));
      EXPECT_TRUE(fs::exists(f.dir / "song (2).mp3"));
    }
  }
}

// d1/x.wav and d2/x.wav into one folder: without deleting, the second
// replaces the first (with "replace") or keeps both; once d1/x.wav is
// deleted its output is the only copy, and is never replaced.
TEST(ExistingOutput, AnOutputWhoseSourceWasDeletedIsNeverReplaced) {
  for (const bool deleteSource : {false, true}) {
    SCOPED_TRACE(deleteSource);
    TFixture f;
    const std::string d1 = f.Wav("d1/x.wav", 1000);
    const std::string d2 = f.Wav("d2/x.wav", 3000);
    const fs::path out = f.dir / "out";
    fs::create_directories(out);
    f.core.Settings.asInput = false;
    f.core.Settings.OutputDir = out.string();
    f.core.Settings.existingOutput = 1;
    f.core.Settings.deleteSource = deleteSource;
    f.Add({d1, d2});
    f.Convert();
    EXPECT_EQ(f.view.Failed, Strings{});
    if (deleteSource) {
      EXPECT_FALSE(fs::exists(d1));
      EXPECT_FALSE(fs::exists(d2));
      EXPECT_EQ(WavFrames(out / "x.wav.wav"), 1000);
      EXPECT_EQ(WavFrames(out / "x.wav (2).wav"), 3000);
    } else {
      EXPECT_EQ(WavFrames(out / "x.wav.wav"), 3000);
      EXPECT_FALSE(fs::exists(out / "x.wav (2).wav"));
    }
  }
}

// A stopped row keeps its part under a name that replaces nothing; the
// row's next run replaces that part, as long as it is as the stop left it.
TEST(ExistingOutput, AStoppedRowsPartReplacesNothingAndIsReplacedByTheRowsNextRun) {
  TFixture f;
  const std::string a = f.Wav("a.wav", 44100 * 120);
  WriteFile(f.dir / "a.wav.wav", Foreign());
  f.core.Settings.existingOutput = 1;
  f.Add({a});
  // Stopped as a user would, between two events, once the row is under way.
  bool underWay = false;
  // The first progress pauses the row (it takes effect at its next block);
  // the stop follows from the loop, outside any handler.
  f.view.OnProgress = [&](int percent) {
    if (percent > 0 && !underWay) f.core.Driver.MPauseClick();
    underWay = underWay || percent > 0;
  };
  f.core.Driver.MStartClick();
  auto& invoker = MainThreadInvoker::Instance();
  while (!underWay && f.core.Driver.Running) invoker.WaitAndRun(std::chrono::milliseconds(10));
  f.core.Driver.MStopClick();
  f.view.OnProgress = nullptr;
  // On a loaded machine the writer may finish before the pause reaches it.
  if (!f.view.Done.empty()) GTEST_SKIP() << "the row finished before it could be stopped";
  EXPECT_EQ(ReadFile(f.dir / "a.wav.wav"), Foreign()) << "a part replaced a file even with \"replace\"";
  const auto part = f.dir / "a.wav (2).wav";
  ASSERT_TRUE(fs::exists(part));
  EXPECT_LT(WavFrames(part), 44100 * 120);

  f.core.Settings.existingOutput = 0;
  f.Convert();
  EXPECT_EQ(f.view.Done, Strings{(f.dir / "a.wav (2).wav").string()});
  EXPECT_EQ(WavFrames(part), 44100 * 120);
  EXPECT_FALSE(fs::exists(f.dir / "a.wav (3).wav"));
  EXPECT_EQ(ReadFile(f.dir / "a.wav.wav"), Foreign());
  EXPECT_TRUE(TemporaryOutputs(f.dir.Path()).empty());
}

// ------------------------------------------------------- verified delete

namespace {

struct TOutputKind {
  const char* Name;
  int OutputType;
  int WavFormat;
  int WavSr;
};

class VerifiedDelete : public ::testing::TestWithParam<TOutputKind> {};

}  // namespace

TEST_P(VerifiedDelete, TheSourceGoesOnlyOnceItsOutputDecodesBack) {
  const TOutputKind kind = GetParam();
  TFixture f;
  f.core.Settings.outputType = kind.OutputType;
  f.core.Settings.wavFormat = kind.WavFormat;
  f.core.Settings.wavSr = kind.WavSr;
  f.core.Settings.deleteSource = true;
  const std::string a = f.Wav("a.wav", 44100 * 3 + 17);
  f.Add({a});
  f.Convert();
  EXPECT_EQ(f.view.Failed, Strings{});
  ASSERT_EQ(f.view.Done.size(), 1u);
  EXPECT_TRUE(fs::exists(f.view.Done[0]));
  EXPECT_FALSE(fs::exists(a)) << "the check refused a good output";
}

INSTANTIATE_TEST_SUITE_P(EveryOutputType, VerifiedDelete,
                         ::testing::Values(TOutputKind{"WavPcm", 0, 0, 44100}, TOutputKind{"WavResampled", 0, 0, 22050},
                                           TOutputKind{"WavImaAdpcm", 0, 1, 44100}, TOutputKind{"Mp3", 1, 0, 44100},
                                           TOutputKind{"Ogg", 2, 0, 44100}, TOutputKind{"Wma", 3, 0, 44100},
                                           TOutputKind{"Ape", 4, 0, 44100}, TOutputKind{"Flac", 5, 0, 44100},
                                           TOutputKind{"Opus", 6, 0, 44100}),
                         [](const auto& info) { return std::string(info.param.Name); });

// One sample changed in a lossless output after it was written: the source
// stays and the row fails with the reason.
TEST(VerifiedDeleteRefuses, AFlippedSampleInALosslessOutput) {
  for (int outputType : {0, 4, 5}) {
    SCOPED_TRACE(outputType);
    TFixture f;
    f.core.Settings.outputType = outputType;
    f.core.Settings.deleteSource = true;
    const std::string a = f.Wav("a.wav", 44100 * 2);
    f.core.Driver.BeforeCheck = [](const std::string& output) {
      auto bytes = ReadFile(output);
      // A sample's low byte well inside the audio (of a WAV file: of the
      // data; of an APE or FLAC file: of the compressed frames).
      const std::size_t at = bytes.size() / 2;
      bytes[at] ^= 0x01;
      WriteFile(output, bytes);
    };
    f.Add({a});
    f.Convert();
    EXPECT_TRUE(fs::exists(a));
    ASSERT_EQ(f.view.Failed.size(), 1u);
    EXPECT_NE(f.view.Failed[0].find("the source was kept"), std::string::npos) << f.view.Failed[0];
    EXPECT_EQ(f.Image(0), TRowImage::Failed);
    EXPECT_TRUE(f.core.Files.Row(0).Checked);
  }
}

// A sink that ends a row after half of its input, reporting no error.
TEST(VerifiedDeleteRefuses, ASinkThatStopsEarly) {
  for (int outputType : {0, 1, 2, 3, 4}) {
    SCOPED_TRACE(outputType);
    TFixture f;
    f.core.Settings.outputType = outputType;
    f.core.Settings.deleteSource = true;
    const std::string a = f.Wav("a.wav", 44100 * 2);
    f.core.Routing.SinkFor(outputType)->Sink->EndAfterInputBytes = 44100 * 4;
    f.Add({a});
    f.Convert();
    EXPECT_TRUE(fs::exists(a));
    EXPECT_EQ(f.view.Failed, Strings{kMsgCheckOutputEndedEarly});
    EXPECT_EQ(f.Image(0), TRowImage::Failed);
  }
}

// A disk that fills part-way: no output under the final name, no part left,
// the earlier output as it was, and the source kept.
TEST(VerifiedDeleteRefuses, AFullDisk) {
  TFixture f;
  const fs::path out = f.dir / "small";
  fs::create_directories(out);
  if (::mount("tmpfs", out.c_str(), "tmpfs", 0, "size=128k") != 0) GTEST_SKIP() << "no tmpfs can be mounted here";
  const std::string a = f.Wav("a.wav", 44100 * 5);
  WriteFile(out / "a.wav.wav", Foreign());
  f.core.Settings.asInput = false;
  f.core.Settings.OutputDir = out.string();
  f.core.Settings.existingOutput = 1;
  f.core.Settings.deleteSource = true;
  f.Add({a});
  f.Convert();
  EXPECT_TRUE(fs::exists(a));
  EXPECT_EQ(f.view.Failed.size(), 1u);
  EXPECT_EQ(ReadFile(out / "a.wav.wav"), Foreign());
  EXPECT_TRUE(TemporaryOutputs(out).empty());
  ::umount(out.c_str());
}
