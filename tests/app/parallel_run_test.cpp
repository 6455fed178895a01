// Runs of several rows at once ("jobs" 3), with the real WAV components on
// generated files: rows ending out of order, a failing row among them, Pause,
// Stop and rows deleted while they convert.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <thread>

#include "app/app_core.h"
#include "pipeline/main_thread_invoker.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

class TRunView : public TDriverView {
 public:
  void ShowProgressPanel(bool visible) override { panel = visible; }
  void SetGauge(int percent) override { gauges.push_back(percent); }
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string& text) override { status = text; }
  void ShowError(const std::string& message) override { errors.push_back(message); }
  void RunProgress(int, const std::string&, int runningRows, int) override {
    maxRunning = std::max(maxRunning, runningRows);
  }
  void RowFinished(int index, const std::string&, const std::string& error) override {
    finished.push_back(index);
    if (!error.empty()) failed.push_back(index);
    if (AfterRow) AfterRow();
  }
  std::function<void()> AfterRow;
  std::vector<std::string> errors;
  std::vector<int> finished;
  std::vector<int> failed;
  std::vector<int> gauges;
  std::string status;
  bool panel = false;
  int maxRunning = 0;
};

// The events of the rows run while a test waits here.
bool Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout = 30s) {
  return PumpUntil(done, timeout);
}

struct ParallelRun : ::testing::Test {
  ParallelRun() : core(view) {
    core.Settings.OutputDir = (dir / "out").string() + "/";
    core.Settings.asInput = false;
    core.Settings.deleteSource = true;
    core.Settings.jobs = 3;
    fs::create_directories(dir / "out");
  }
  // seconds of 44.1 kHz stereo: a minute outlasts every step of a test.
  std::string Wav(const std::string& name, int seconds) {
    const fs::path path = dir / name;
    fs::create_directories(path.parent_path());
    WriteSineWav(path, 44100, 2, 16, 44100 * seconds);
    return path.string();
  }
  void Add(const std::vector<std::string>& paths) { ASSERT_TRUE(core.AddPaths(paths).empty()); }
  // The sink of the first pipeline set: it converts the first row started.
  TAuFileOut& FirstSink() { return *core.Routing.SinkFor(core.Settings.outputType)->Sink; }
  fs::path Out(const std::string& name) const { return dir / "out" / (name + ".wav.wav"); }
  // Rows that are held while they run are encoded to MP3: a minute of it
  // takes long enough that a pause comes before the end.
  void SlowRows() { core.Settings.outputType = 1; }
  fs::path Mp3(const std::string& name) const { return dir / "out" / (name + ".mp3"); }
  TTempDir dir;
  TRunView view;
  TAppCore core;
};

}  // namespace

TEST(Jobs, ZeroOrLessIsOnePerCoreAndTheCountIsBounded) {
  const int cores = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
  EXPECT_EQ(EffectiveJobs(0), std::min(cores, kMaxJobs));
  EXPECT_EQ(EffectiveJobs(-4), std::min(cores, kMaxJobs));
  EXPECT_EQ(EffectiveJobs(1), 1);
  EXPECT_EQ(EffectiveJobs(3), 3);
  EXPECT_EQ(EffectiveJobs(100000), kMaxJobs);
}

TEST_F(ParallelRun, RowsEndingOutOfOrderAreEachMarkedAndAFailingRowFailsAlone) {
  QM_REQUIRE_TOOLS("ffprobe");
  SlowRows();
  Add({Wav("long.wav", 60), Wav("b.wav", 1), Wav("broken.wav", 1), Wav("d.wav", 1)});
  fs::remove(dir / "broken.wav");  // fails on its worker thread
  core.Driver.MStartClick();
  EXPECT_EQ(core.Driver.RunningRows(), 3);
  FirstSink().Pause();  // the first row ends last
  ASSERT_TRUE(Pump([&] { return view.finished.size() >= 3; })) << "the rows after the held one end";
  ASSERT_EQ(view.finished.size(), 3u);
  EXPECT_EQ(core.Files.Row(0).Image, TRowImage::InProgress);
  std::vector<int> ended = view.finished;
  std::sort(ended.begin(), ended.end());
  EXPECT_EQ(ended, (std::vector<int>{1, 2, 3}));
  EXPECT_EQ(view.failed, std::vector<int>{2});

  FirstSink().Resume();
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }));
  EXPECT_EQ(view.finished.back(), 0);
  EXPECT_EQ(core.Driver.Lanes(), 3) << "three sets, none for the fourth row";
  for (int row : {0, 1, 3}) {
    EXPECT_EQ(core.Files.Row(row).Image, TRowImage::Done) << row;
    EXPECT_FALSE(core.Files.Row(row).Checked) << row;
  }
  EXPECT_EQ(core.Files.Row(2).Image, TRowImage::Failed);
  EXPECT_TRUE(core.Files.Row(2).Checked) << "the failed row is tried again by the next Start";
  // Each output is its own source's, of its length.
  EXPECT_NEAR(std::stod(Probe(Mp3("long"), "duration")), 60.0, 0.2);
  EXPECT_NEAR(std::stod(Probe(Mp3("b"), "duration")), 1.0, 0.2);
  EXPECT_NEAR(std::stod(Probe(Mp3("d"), "duration")), 1.0, 0.2);
  for (const char* name : {"long.wav", "b.wav", "d.wav"}) EXPECT_FALSE(fs::exists(dir / name)) << name;
  EXPECT_FALSE(view.panel);
  EXPECT_EQ(view.status, "");
  EXPECT_EQ(view.gauges.back(), 0);
}

TEST_F(ParallelRun, PauseHoldsEveryRunningRowAndStartResumesThem) {
  SlowRows();
  Add({Wav("a.wav", 60), Wav("b.wav", 60), Wav("c.wav", 60), Wav("d.wav", 1)});
  core.Driver.MStartClick();
  core.Driver.MPauseClick();
  EXPECT_TRUE(core.Driver.RunPaused);
  EXPECT_FALSE(Pump([&] { return !view.finished.empty(); }, 300ms)) << "no paused row ends";
  EXPECT_EQ(core.Driver.RunningRows(), 3);
  EXPECT_TRUE(FirstSink().Paused());
  EXPECT_TRUE(core.Driver.CurrentOutput->Paused()) << "the row started last holds too";

  core.Driver.MStartClick();
  EXPECT_FALSE(core.Driver.RunPaused);
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }, 60s));
  EXPECT_EQ(view.finished.size(), 4u);
  for (int row = 0; row < 4; ++row) EXPECT_EQ(core.Files.Row(row).Image, TRowImage::Done) << row;
  EXPECT_GE(view.maxRunning, 2) << "the run reported rows converting together";
}

TEST_F(ParallelRun, StopLeavesTheRunningRowsCheckedAndNoneOfThemReportsLater) {
  Add({Wav("a.wav", 60), Wav("b.wav", 60), Wav("c.wav", 60), Wav("d.wav", 1)});
  core.Driver.MStartClick();
  core.Driver.MStopClick();
  EXPECT_FALSE(core.Driver.Running);
  EXPECT_EQ(core.Driver.RunningRows(), 0);
  EXPECT_FALSE(Pump([&] { return !view.finished.empty(); }, 300ms)) << "no OnDone after Stop";
  for (int row = 0; row < 4; ++row) {
    EXPECT_EQ(core.Files.Row(row).Image, TRowImage::None) << row;
    EXPECT_TRUE(core.Files.Row(row).Checked) << row;
  }
  for (const char* name : {"a.wav", "b.wav", "c.wav", "d.wav"}) EXPECT_TRUE(fs::exists(dir / name)) << name;
  EXPECT_FALSE(fs::exists(Out("d"))) << "the waiting row never started";

  // The next Start converts all four again.
  core.Driver.MStartClick();
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }, 60s));
  EXPECT_EQ(view.finished.size(), 4u);
  EXPECT_TRUE(view.failed.empty());
}

TEST_F(ParallelRun, DeletingARunningRowMarksNothingWrong) {
  Add({Wav("a.wav", 60), Wav("b.wav", 60), Wav("c.wav", 1), Wav("d.wav", 1)});
  core.Driver.MStartClick();
  ASSERT_EQ(core.Files.Delete({1}), 1);  // b converts while it goes
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }, 60s));
  ASSERT_EQ(core.Files.Count(), 3);
  std::vector<int> ended = view.finished;
  std::sort(ended.begin(), ended.end());
  EXPECT_EQ(ended, (std::vector<int>{-1, 0, 1, 2})) << "the deleted row reports as none";
  for (int row = 0; row < 3; ++row) {
    EXPECT_EQ(core.Files.Row(row).Image, TRowImage::Done) << row;
    EXPECT_FALSE(core.Files.Row(row).Checked) << row;
  }
  EXPECT_EQ(core.Files.Row(1).Caption, "c.wav");
  for (const char* name : {"a", "b", "c", "d"}) EXPECT_TRUE(fs::exists(Out(name))) << name;
}

TEST_F(ParallelRun, TwoRowsOfOneOutputFileRunOneAfterTheOtherWhenTheLaterReplaces) {
  // Same file name in two folders, written into one OutputDir: with
  // "replace" the second waits for the first, so its output replaces it whole.
  core.Settings.existingOutput = 1;
  core.Settings.deleteSource = false;
  Add({Wav("one/song.wav", 3), Wav("two/song.wav", 1), Wav("c.wav", 1)});
  core.Driver.MStartClick();
  EXPECT_EQ(core.Driver.RunningRows(), 1) << "the second song waits, and the rows after it";
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }, 60s));
  ASSERT_EQ(view.finished.size(), 3u);
  EXPECT_EQ(view.finished[0], 0);
  EXPECT_EQ(fs::file_size(Out("song")) - 44, 22050u) << "the second source's output, written alone";
  EXPECT_TRUE(view.failed.empty());
  EXPECT_FALSE(fs::exists(dir / "out" / "song.wav (2).wav"));
}

TEST_F(ParallelRun, AWaitingRowNeverReplacesAnOutputWhoseSourceWasDeleted) {
  // deleteSource is on: once the first row's output is checked and its
  // source gone, that output is the only copy, so the waiting row keeps both.
  core.Settings.existingOutput = 1;
  Add({Wav("one/song.wav", 3), Wav("two/song.wav", 1)});
  core.Driver.MStartClick();
  EXPECT_EQ(core.Driver.RunningRows(), 1) << "the second song waits";
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }, 60s));
  EXPECT_TRUE(view.failed.empty());
  EXPECT_EQ(fs::file_size(Out("song")) - 44, 3 * 22050u) << "the first row's output stays";
  EXPECT_EQ(fs::file_size(dir / "out" / "song.wav (2).wav") - 44, 22050u);
  EXPECT_FALSE(fs::exists(dir / "one/song.wav"));
  EXPECT_FALSE(fs::exists(dir / "two/song.wav"));
}

TEST_F(ParallelRun, TwoRowsOfOneOutputFileKeepingBothRunTogetherUnderTheirOwnNames) {
  core.Settings.existingOutput = 0;
  core.Settings.deleteSource = false;
  Add({Wav("one/song.wav", 3), Wav("two/song.wav", 1)});
  core.Driver.MStartClick();
  EXPECT_EQ(core.Driver.RunningRows(), 2) << "a free name needs no wait";
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }, 60s));
  EXPECT_TRUE(view.failed.empty());
  const fs::path second = dir / "out" / "song.wav (2).wav";
  ASSERT_TRUE(fs::exists(Out("song")));
  ASSERT_TRUE(fs::exists(second));
  EXPECT_EQ(fs::file_size(Out("song")) - 44, 3 * 22050u) << "the first row's output";
  EXPECT_EQ(fs::file_size(second) - 44, 22050u) << "the second row's output";
  EXPECT_NE(core.Files.Row(1).Message.find("song.wav (2).wav"), std::string::npos) << core.Files.Row(1).Message;
}
