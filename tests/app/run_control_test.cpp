// Stop and Pause of the conversion driver as the window drives them, with the
// real WAV components on generated files.
#include <gtest/gtest.h>

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

class TQuietView : public TDriverView {
 public:
  void ShowProgressPanel(bool) override {}
  void SetGauge(int) override {}
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void ShowError(const std::string& message) override { errors.push_back(message); }
  void RowFinished(int index, const std::string&, const std::string&) override { finished.push_back(index); }
  std::vector<std::string> errors;
  std::vector<int> finished;
};

bool Pump(const std::function<bool()>& done, std::chrono::milliseconds timeout = 10s) {
  auto& invoker = MainThreadInvoker::Instance();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    invoker.WaitAndRun(2ms);
  }
  return true;
}

struct RunControl : ::testing::Test {
  RunControl() : core(view) {
    core.Settings.OutputDir = (dir / "out").string() + "/";
    core.Settings.asInput = false;
    core.Settings.deleteSource = true;
    core.Settings.jobs = 1;
    fs::create_directories(dir / "out");
    for (const char* name : {"a.wav", "b.wav"}) WriteSineWav(dir / name, 44100, 2, 16, 44100);
    EXPECT_TRUE(core.AddPaths({(dir / "a.wav").string(), (dir / "b.wav").string()}).empty());
  }
  TAuFileOut& WavSink() { return *core.Routing.SinkFor(0)->Sink; }
  TTempDir dir;
  TQuietView view;
  TAppCore core;
};

TEST_F(RunControl, StopWhileTheFinishedRowsDoneWaitsStartsNoOtherRow) {
  // Only the done event goes to the main thread, so the test can hold it.
  WavSink().OnProgress = nullptr;
  core.Driver.MStartClick();
  auto& invoker = MainThreadInvoker::Instance();
  const auto deadline = std::chrono::steady_clock::now() + 10s;
  while (!invoker.HasPending() && std::chrono::steady_clock::now() < deadline) std::this_thread::yield();
  ASSERT_TRUE(invoker.HasPending()) << "the first row's done event waits for the main thread";

  core.Driver.MStopClick();
  EXPECT_FALSE(core.Driver.Running);
  EXPECT_FALSE(WavSink().Busy) << "no row was started inside Stop";
  EXPECT_FALSE(Pump([&] { return fs::exists(dir / "out" / "b.wav"); }, 300ms)) << "the second row never runs";
  EXPECT_TRUE(fs::exists(dir / "a.wav")) << "a stopped run deletes no source";
  EXPECT_TRUE(fs::exists(dir / "b.wav"));
  EXPECT_TRUE(view.finished.empty());
  EXPECT_EQ(core.Files.Row(0).Image, TRowImage::None);
  EXPECT_TRUE(core.Files.Row(0).Checked) << "the next Start converts it again";

  // Start after the Stop converts both rows from the first.
  WavSink().OnProgress = [this](TComponent* s) { core.Driver.Progress(s); };
  core.Driver.MStartClick();
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }));
  EXPECT_EQ(view.finished, (std::vector<int>{0, 1}));
  EXPECT_FALSE(fs::exists(dir / "a.wav"));
  EXPECT_FALSE(fs::exists(dir / "b.wav"));
}

TEST_F(RunControl, AStoppedRunThatStillReportsDoneIsNoSuccess) {
  // Stop(true) lets OnDone follow; the driver must not take the partial
  // output for a finished one. A minute of audio outlasts the stop.
  WriteSineWav(dir / "a.wav", 44100, 2, 16, 60 * 44100);
  core.Driver.MStartClick();
  core.Driver.CurrentOutput->Stop(true);
  ASSERT_TRUE(Pump([&] { return !core.Driver.Running; }));
  ASSERT_TRUE(WavSink().LastRunStopped);
  EXPECT_TRUE(view.finished.empty());
  EXPECT_TRUE(fs::exists(dir / "a.wav"));
  EXPECT_EQ(core.Files.Row(0).Image, TRowImage::None);
  EXPECT_TRUE(core.Files.Row(1).Checked);
  EXPECT_FALSE(fs::exists(dir / "out" / "b.wav"));
}

}  // namespace
