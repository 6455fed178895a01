// Drives the application core as the window does, with the real WAV source
// and sink on generated files: adding paths of every kind, and rows deleted
// or replaced while a run converts. The sinks' events are handled here,
// pumped from the invoker; the view's hooks act at the moment the driver
// tells it something, as a user could while a row converts.
#include "app/app_core.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "fifo_guard.h"
#include "pipeline/main_thread_invoker.h"
#include "tests/support/support.h"

using namespace qmtest;

namespace fs = std::filesystem;

namespace {

class TRecordingView : public TDriverView {
 public:
  std::function<void(int percent, const std::string& caption)> OnRowProgress;
  std::function<void(int index)> OnRowFinished;
  std::vector<std::string> Errors;
  std::vector<int> FinishedIndexes;

  void ShowProgressPanel(bool) override {}
  void SetGauge(int) override {}
  void SetTitle(const std::string&) override {}
  void SetStatus(const std::string&) override {}
  void ShowError(const std::string& message) override { Errors.push_back(message); }
  void RowProgress(int percent, const std::string& caption) override {
    if (OnRowProgress) OnRowProgress(percent, caption);
  }
  void RowFinished(int index, const std::string&, const std::string& error) override {
    if (!error.empty()) Errors.push_back(error);
    FinishedIndexes.push_back(index);
    if (OnRowFinished) OnRowFinished(index);
  }
};

struct TCoreFixture {
  TTempDir dir;
  TRecordingView view;
  TAppCore core{view};
  // These runs are the one-row-after-another kind.
  TCoreFixture() { core.Settings.jobs = 1; }

  // A WAV file of 8 kHz 8-bit mono: a few blocks per second, so every row
  // reports progress before it ends.
  std::string Wav(const std::string& name, int seconds = 1) {
    const fs::path path = dir / name;
    WriteSineWav(path, 8000, 1, 8, 8000 * seconds);
    return path.string();
  }
  bool Converted(const std::string& name) const { return fs::exists(dir / (name + ".wav")); }

  void Start() {
    core.Driver.MStartClick();
    ASSERT_TRUE(core.Driver.Running);
  }
  // Handles the sinks' events until the run ends.
  bool RunToEnd() {
    auto& invoker = MainThreadInvoker::Instance();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (core.Driver.Running) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      invoker.WaitAndRun(std::chrono::milliseconds(100));
    }
    return true;
  }
  // "caption:state" of every row, state one of none, busy, done, failed.
  std::vector<std::string> Rows() const {
    static const char* const names[] = {"none", "busy", "done", "failed"};
    std::vector<std::string> out;
    for (int i = 0; i < core.Files.Count(); ++i) {
      const TFileRow& row = core.Files.Row(i);
      out.push_back(row.Caption + ":" + names[static_cast<int>(row.Image)]);
    }
    return out;
  }
  std::vector<std::string> SortedCaptions() const {
    std::vector<std::string> out;
    for (int i = 0; i < core.Files.Count(); ++i) out.push_back(core.Files.Row(i).Caption);
    std::sort(out.begin(), out.end());
    return out;
  }
};

using Strings = std::vector<std::string>;

}  // namespace

// ------------------------------------------------------------ adding paths

TEST(AppCoreAdding, NamedPathsThatCannotBeListedAreReportedByNameAndTheRestAreAdded) {
  TCoreFixture f;
  const std::string a = f.Wav("a.wav");
  const std::string b = f.Wav("b.wav");
  fs::create_symlink(a, f.dir / "link.wav");
  f.Wav("folder/inner.wav");
  WriteText(f.dir / "notes.txt", "not audio");
  TFifoGuard fifo(f.dir / "pipe.wav");

  const Strings errors = f.core.AddPaths({a, (f.dir / "missing.wav").string(), (f.dir / "pipe.wav").string(),
                                          (f.dir / "link.wav").string(), (f.dir / "notes.txt").string(),
                                          (f.dir / "folder").string(), b});
  EXPECT_EQ(errors, (Strings{(f.dir / "missing.wav").string() + ": No such file or directory",
                             (f.dir / "pipe.wav").string() + ": " + kMsgNotARegularFile}));
  EXPECT_EQ(f.Rows(), (Strings{"a.wav:none", "link.wav:none", "inner.wav:none", "b.wav:none"}));
  EXPECT_EQ(fifo.Readers(), 0);
  EXPECT_EQ(f.core.Driver.RunMode, kRunModeConvert);

  // A drop reports the same way, after replacing the list.
  const Strings dropped = f.core.DropPaths({(f.dir / "pipe.wav").string(), b});
  EXPECT_EQ(dropped, (Strings{(f.dir / "pipe.wav").string() + ": " + kMsgNotARegularFile}));
  EXPECT_EQ(f.Rows(), (Strings{"b.wav:none"}));
  EXPECT_EQ(fifo.Readers(), 0);
}

TEST(AppCoreAdding, FolderScansTakeRegularFilesAndLinksToThemButNoFifoOrLinkedFolder) {
  TCoreFixture f;
  f.Wav("music/song.wav");
  f.Wav("music/sub/deep.wav");
  f.Wav("elsewhere/linked-away.wav");
  fs::create_symlink(f.dir / "music" / "song.wav", f.dir / "music" / "alias.wav");
  fs::create_directory_symlink(f.dir / "elsewhere", f.dir / "music" / "folder.wav");
  fs::create_symlink(f.dir / "gone.wav", f.dir / "music" / "dangling.wav");
  TFifoGuard fifo(f.dir / "music" / "stream.wav");

  EXPECT_EQ(f.core.DropPaths({(f.dir / "music").string()}), Strings{});
  EXPECT_EQ(f.SortedCaptions(), (Strings{"alias.wav", "deep.wav", "song.wav"}));

  // Add Folder collects the same files.
  f.core.Files.Clear();
  EXPECT_EQ(f.core.AddFolder((f.dir / "music").string()), Strings{});
  EXPECT_EQ(f.SortedCaptions(), (Strings{"alias.wav", "deep.wav", "song.wav"}));
  EXPECT_EQ(fifo.Readers(), 0);
}

// ------------------------------------------------- rows changed during a run

TEST(AppCoreRun, DeletingTheConvertingRowWithRowsAboveItGoesOnWithTheNextRow) {
  TCoreFixture f;
  const Strings errors = f.core.DropPaths(
      {f.Wav("a.wav"), f.Wav("b.wav"), f.Wav("c.wav", 2), f.Wav("d.wav"), f.Wav("e.wav")});
  ASSERT_EQ(errors, Strings{});
  bool deleted = false;
  bool cEnded = false;
  Strings captionsOfCAfterDelete;
  f.view.OnRowProgress = [&](int, const std::string& caption) {
    if (deleted && !cEnded) captionsOfCAfterDelete.push_back(caption);
    if (caption == "c.wav" && !deleted) {
      deleted = true;
      EXPECT_EQ(f.core.Files.Delete({1, 2}), 2);  // b (done) and c (converting)
    }
  };
  f.view.OnRowFinished = [&](int index) { cEnded = cEnded || index == -1; };
  f.Start();
  ASSERT_TRUE(f.RunToEnd());
  ASSERT_TRUE(deleted);
  EXPECT_EQ(f.Rows(), (Strings{"a.wav:done", "d.wav:done", "e.wav:done"}));
  EXPECT_TRUE(f.Converted("c.wav"));
  EXPECT_TRUE(f.Converted("d.wav"));
  EXPECT_TRUE(f.Converted("e.wav"));
  // c's end names no row, and its progress keeps its own name.
  EXPECT_EQ(f.view.FinishedIndexes, (std::vector<int>{0, 1, -1, 1, 2}));
  for (const std::string& caption : captionsOfCAfterDelete) EXPECT_EQ(caption, "c.wav");
  EXPECT_EQ(f.view.Errors, Strings{});
}

TEST(AppCoreRun, AListDroppedDuringARunIsConvertedFromItsFirstRow) {
  TCoreFixture f;
  ASSERT_EQ(f.core.DropPaths({f.Wav("old1.wav"), f.Wav("old2.wav"), f.Wav("old3.wav"), f.Wav("old4.wav")}),
            Strings{});
  const Strings replacement = {f.Wav("x.wav"), f.Wav("y.wav"), f.Wav("z.wav")};
  bool dropped = false;
  f.view.OnRowProgress = [&](int, const std::string& caption) {
    if (caption == "old3.wav" && !dropped) {
      dropped = true;
      EXPECT_EQ(f.core.DropPaths(replacement), Strings{});
    }
  };
  f.Start();
  ASSERT_TRUE(f.RunToEnd());
  ASSERT_TRUE(dropped);
  EXPECT_EQ(f.Rows(), (Strings{"x.wav:done", "y.wav:done", "z.wav:done"}));
  EXPECT_TRUE(f.Converted("old3.wav"));  // the row that was converting ends
  EXPECT_FALSE(f.Converted("old4.wav"));
  EXPECT_TRUE(f.Converted("x.wav"));
  EXPECT_TRUE(f.Converted("y.wav"));
}

TEST(AppCoreRun, RowsDeletedWhileTheViewIsToldOfARowsEndSkipNoRow) {
  TCoreFixture f;
  ASSERT_EQ(f.core.DropPaths({f.Wav("a.wav"), f.Wav("b.wav"), f.Wav("c.wav"), f.Wav("d.wav"), f.Wav("e.wav"),
                              f.Wav("f.wav")}),
            Strings{});
  f.core.Files.SetChecked(3, false);  // d is walked over
  f.view.OnRowFinished = [&](int index) {
    const std::string caption = index >= 0 ? f.core.Files.Row(index).Caption : "";
    if (caption == "a.wav") f.core.Files.Delete({0, 1});  // a itself and b below it
    if (caption == "c.wav") f.core.Files.Delete({0});     // c itself, before the unchecked d
  };
  f.Start();
  ASSERT_TRUE(f.RunToEnd());
  EXPECT_EQ(f.Rows(), (Strings{"d.wav:none", "e.wav:done", "f.wav:done"}));
  EXPECT_FALSE(f.Converted("b.wav"));
  EXPECT_FALSE(f.Converted("d.wav"));
  EXPECT_TRUE(f.Converted("e.wav"));
  EXPECT_TRUE(f.Converted("f.wav"));
}

TEST(AppCoreRun, AClearedListEndsTheRunWhenTheConvertingRowEnds) {
  TCoreFixture f;
  ASSERT_EQ(f.core.DropPaths({f.Wav("a.wav"), f.Wav("b.wav")}), Strings{});
  f.view.OnRowProgress = [&](int, const std::string&) { f.core.Files.Clear(); };
  f.Start();
  ASSERT_TRUE(f.RunToEnd());
  EXPECT_EQ(f.core.Files.Count(), 0);
  EXPECT_TRUE(f.Converted("a.wav"));
  EXPECT_FALSE(f.Converted("b.wav"));
  EXPECT_EQ(f.view.FinishedIndexes, (std::vector<int>{-1}));
}
