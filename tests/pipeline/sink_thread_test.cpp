#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>

#include "pipeline/au_exception.h"
#include "pipeline/event_handler.h"
#include "pipeline/main_thread_invoker.h"
#include "test_components.h"

using namespace testing_pipeline;
using namespace std::chrono_literals;

namespace {

struct Recorder {
  std::vector<std::string> events;
  std::vector<int> progress;
  int done = 0;
  std::thread::id mainThread = std::this_thread::get_id();
  bool offMainThread = false;

  void Attach(TMemorySink& sink, const std::string& tag = "") {
    sink.OnProgress = [this, &sink, tag](TComponent* s) {
      Check(s == &sink);
      progress.push_back(sink.Progress());
      events.push_back(tag + "progress");
    };
    sink.OnDone = [this, &sink, tag](TComponent* s) {
      Check(s == &sink);
      ++done;
      events.push_back(tag + "done");
    };
    sink.OnThreadException = [this, &sink, tag](TComponent* s) {
      Check(s == &sink);
      events.push_back(tag + "exception:" + sink.ExceptionMessage);
    };
  }
  void Check(bool senderOk) {
    EXPECT_TRUE(senderOk);
    if (std::this_thread::get_id() != mainThread) offMainThread = true;
  }
};

// Pauses a sink whose worker is held inside a block: the held block lets go
// when it sees the request, and the worker pauses after it.
void PauseHeldSink(TMemorySink& sink) {
  sink.Pause();
  ASSERT_TRUE(PumpUntil([&] { return sink.Paused(); }));
  sink.Hold = false;
}

// Waits for a condition of the other threads without serving the main
// thread's requests.
bool WaitWithoutPumping(const std::function<bool()>& done, std::chrono::microseconds timeout = 10s) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

class SinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file = dir / "ramp.raw";
    WriteRampFile(file, kFrames, 2);
    source.SetFileName(file.string());
    sink.SetInput(&source);
  }
  std::vector<uint8_t> FileBytes() {
    std::vector<uint8_t> v(kFrames * 4);
    TAuFileStream s(file, TAuFileStream::fmOpenRead);
    s.ReadBuffer(v.data(), v.size());
    return v;
  }
  static constexpr int64_t kFrames = 50000;
  TTempDir dir;
  std::filesystem::path file;
  TRawFileIn source;
  TMemorySink sink;
  Recorder rec;
};

TEST_F(SinkTest, RunPullsTheChainAndReportsProgressThenDoneOnTheMainThread) {
  rec.Attach(sink);
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(sink.Data, FileBytes());
  EXPECT_FALSE(sink.Busy);
  EXPECT_FALSE(rec.offMainThread);
  ASSERT_FALSE(rec.progress.empty());
  // No event for the first block of a new sink (0 equals the last reported
  // value); then one per change, ending at 100.
  EXPECT_GT(rec.progress.front(), 0);
  EXPECT_EQ(sink.LastProgress.load(), 100);
  EXPECT_TRUE(std::is_sorted(rec.progress.begin(), rec.progress.end()));
  EXPECT_EQ(rec.events.back(), "done");
  EXPECT_EQ(sink.PrepareCalls, 1);
  EXPECT_EQ(sink.DoneCalls, 1);
  EXPECT_TRUE(sink.ExceptionMessage.empty());
  EXPECT_FALSE(source.Busy) << "Done flushed the chain";

  // A second run from OnDone's state converts again, reporting the drop
  // from 100 to the new first value.
  rec.progress.clear();
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 2; }));
  EXPECT_EQ(sink.Data, FileBytes());
}

TEST_F(SinkTest, ProgressIsMinusOneOnceForAnUnknownSizeAndZeroForAnEmptySource) {
  source.UnknownSize = true;
  rec.Attach(sink);
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(rec.progress, std::vector<int>{-1});
  EXPECT_EQ(sink.Data.size(), static_cast<std::size_t>(kFrames * 4));

  const auto empty = dir / "empty.raw";
  TAuFileStream(empty, TAuFileStream::fmCreate);
  TRawFileIn emptySource;
  emptySource.SetFileName(empty.string());
  TMemorySink other;
  Recorder rec2;
  rec2.Attach(other);
  other.SetInput(&emptySource);
  EXPECT_EQ(other.Progress(), 0);
  other.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec2.done == 1; }));
  EXPECT_TRUE(rec2.progress.empty());
  EXPECT_TRUE(other.Data.empty());
  TMemorySink unconnected;
  EXPECT_EQ(unconnected.Progress(), 0);
}

TEST_F(SinkTest, FailingPrepareReportsTheExceptionThenDoneAndLeavesTheSinkIdle) {
  sink.FailPrepare = true;
  rec.Attach(sink);
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(rec.events, (std::vector<std::string>{"exception:prepare failed on purpose", "done"}));
  EXPECT_EQ(sink.ExceptionMessage, "prepare failed on purpose");
  EXPECT_FALSE(sink.Busy);

  sink.FailPrepare = false;
  sink.Run();
  EXPECT_TRUE(sink.ExceptionMessage.empty()) << "Run clears the last message";
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 2; }));
  EXPECT_EQ(sink.Data, FileBytes());
}

TEST_F(SinkTest, AFailingDoneIsReportedAsTheRunsFailure) {
  sink.FailDone = true;
  rec.Attach(sink);
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(rec.events.back(), "done");
  EXPECT_EQ(rec.events[rec.events.size() - 2], "exception:closing failed on purpose");
  EXPECT_EQ(sink.ExceptionMessage, "closing failed on purpose");
  EXPECT_FALSE(sink.Busy);
  EXPECT_FALSE(sink.StopRequested);

  // The first failure of a run is the one reported.
  sink.FailPrepare = true;
  rec.events.clear();
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 2; }));
  EXPECT_EQ(sink.ExceptionMessage, "prepare failed on purpose");
  EXPECT_EQ(rec.events, (std::vector<std::string>{"exception:prepare failed on purpose", "done"}));
}

TEST_F(SinkTest, RunChecksBusyAndInput) {
  TMemorySink lonely;
  try {
    lonely.Run();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgInputNotAssigned);
  }
  EXPECT_FALSE(lonely.Busy);
  try {
    lonely.Pause();
    FAIL();
  } catch (const EAuException& e) {
    EXPECT_STREQ(e.what(), kMsgPauseInputNotAssigned);
  }
  lonely.SetInput(&source);
  lonely.Hold = true;
  lonely.Run();
  EXPECT_THROW(lonely.Run(), EAuException);
  lonely.Release();
  ASSERT_TRUE(PumpUntil([&] { return !lonely.Busy; }));
  EXPECT_EQ(lonely.Data, FileBytes());
}

TEST_F(SinkTest, StopAsyncReturnsAtOnceAndDoneFollows) {
  rec.Attach(sink);
  sink.Hold = true;
  sink.Run();
  ASSERT_TRUE(sink.WaitUntilHeld(5s));
  sink.Stop(true);
  EXPECT_TRUE(sink.Busy) << "the worker is still finishing";
  EXPECT_EQ(rec.done, 0);
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_FALSE(sink.Busy);
  EXPECT_EQ(sink.DoneCalls, 1);
  EXPECT_FALSE(sink.StopRequested) << "cleared when the run ended";
  EXPECT_LT(sink.Data.size(), FileBytes().size());
}

TEST_F(SinkTest, StopOnAPausedSinkAbortsAndReturnsAfterDoneWithoutOnDone) {
  rec.Attach(sink);
  sink.Hold = true;
  sink.Run();
  ASSERT_TRUE(sink.WaitUntilHeld(5s));
  PauseHeldSink(sink);
  ASSERT_TRUE(sink.Paused());
  const int blocks = sink.BlocksWritten;
  EXPECT_FALSE(WaitWithoutPumping([&] { return sink.BlocksWritten != blocks; }, 30ms)) << "no block while paused";
  sink.Pause();  // a second pause changes nothing
  EXPECT_TRUE(sink.Paused());

  sink.Stop(false);
  EXPECT_FALSE(sink.Busy);
  EXPECT_EQ(sink.DoneCalls, 1);
  EXPECT_EQ(sink.AbortCalls, 1) << "DoOutput(true) after the pause";
  EXPECT_FALSE(PumpUntil([&] { return rec.done > 0; }, 300ms)) << "no OnDone after Stop(false)";

  // Stop on the idle sink returns at once; the next run converts normally.
  sink.Stop(false);
  sink.Stop(true);
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(sink.Data, FileBytes());
}

TEST_F(SinkTest, StopDropsADoneThatIsAlreadyWaitingForTheMainThread) {
  // The driver's OnDone starts the next row. A done event that the
  // dispatcher has handed to the main thread when Stop comes must not run
  // inside Stop, where it would start a run that nobody stops.
  int done = 0;
  sink.OnDone = [&](TComponent*) {
    ++done;
    sink.Run();
  };
  sink.Run();
  auto& invoker = MainThreadInvoker::Instance();
  ASSERT_TRUE(WaitWithoutPumping([&] { return invoker.HasPending(); }));
  sink.Stop(false);
  EXPECT_EQ(done, 0);
  EXPECT_FALSE(sink.Busy);
  EXPECT_FALSE(PumpUntil([&] { return done > 0; }, 200ms)) << "no OnDone after Stop(false)";
  EXPECT_FALSE(sink.Busy);
  EXPECT_EQ(sink.PrepareCalls, 1);
  EXPECT_EQ(sink.DoneCalls, 1);
}

TEST_F(SinkTest, StopRightAfterRunWaitsForTheRunAndReportsItStopped) {
  // However soon Stop follows Run, it returns after the run is over, and no
  // event of the run follows.
  TRawFileIn small;
  const auto smallFile = dir / "small.raw";
  WriteRampFile(smallFile, 64, 2);
  small.SetFileName(smallFile.string());
  sink.SetInput(&small);
  rec.Attach(sink);
  for (int i = 0; i < 300; ++i) {
    sink.Run();
    sink.Stop(false);
    ASSERT_FALSE(sink.Busy) << "run " << i;
    ASSERT_EQ(sink.PrepareCalls, sink.DoneCalls) << "run " << i << ": a begun run is finished";
    ASSERT_FALSE(small.Busy) << "run " << i;
  }
  EXPECT_FALSE(PumpUntil([&] { return !rec.events.empty(); }, 100ms)) << "no event of a stopped run";
}

TEST_F(SinkTest, AStoppedRunIsMarkedStoppedAndACompleteOneIsNot) {
  rec.Attach(sink);
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_FALSE(sink.LastRunStopped);
  sink.Hold = true;
  sink.Run();
  ASSERT_TRUE(sink.WaitUntilHeld(5s));
  sink.Stop(true);
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 2; }));
  EXPECT_TRUE(sink.LastRunStopped) << "OnDone follows Stop(true), but the target is incomplete";
  EXPECT_TRUE(sink.ExceptionMessage.empty());
}

TEST_F(SinkTest, PauseDuringPrepareReturnsAtOnceAndTakesEffectAtTheFirstBlock) {
  rec.Attach(sink);
  sink.HoldPrepare = true;
  sink.Run();
  ASSERT_TRUE(sink.WaitUntilPrepareHeld(5s));
  const auto asked = std::chrono::steady_clock::now();
  sink.Pause();
  // Generous for sanitizer builds; the worker is held, so Pause must not
  // wait for it.
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 2s);
  EXPECT_TRUE(sink.PausePending());
  EXPECT_FALSE(sink.Paused());
  sink.ReleasePrepare();
  ASSERT_TRUE(PumpUntil([&] { return sink.Paused(); }));
  EXPECT_EQ(sink.BlocksWritten, 0) << "paused before the first block";
  EXPECT_FALSE(sink.PausePending());
  sink.Resume();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(sink.Data, FileBytes());

  // A pause withdrawn by Resume before the worker took it changes nothing.
  sink.HoldPrepare = true;
  sink.Run();
  ASSERT_TRUE(sink.WaitUntilPrepareHeld(5s));
  sink.Pause();
  sink.Resume();
  EXPECT_FALSE(sink.PausePending());
  sink.ReleasePrepare();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 2; }));
  EXPECT_EQ(sink.Data, FileBytes());

  // A stop while a pause is pending wins; Stop during a held Prepare
  // returns after the run is over.
  sink.HoldPrepare = true;
  sink.Run();
  ASSERT_TRUE(sink.WaitUntilPrepareHeld(5s));
  sink.Pause();
  sink.Stop(false);
  EXPECT_FALSE(sink.Busy);
  EXPECT_FALSE(sink.Paused());
  EXPECT_EQ(sink.DoneCalls, 3);
}

TEST_F(SinkTest, PauseAndResumeLoseNothing) {
  rec.Attach(sink);
  sink.Resume();  // not running: nothing
  sink.Pause();   // idle: nothing
  sink.Hold = true;
  sink.Run();
  ASSERT_TRUE(sink.WaitUntilHeld(5s));
  PauseHeldSink(sink);
  EXPECT_TRUE(sink.Paused());
  sink.Resume();
  EXPECT_FALSE(sink.Paused());
  sink.Resume();  // not paused: nothing
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(sink.Data, FileBytes());
}

TEST_F(SinkTest, NewInputWhileRunningRestartsTheRun) {
  rec.Attach(sink);
  sink.Hold = true;
  sink.Run();
  ASSERT_TRUE(sink.WaitUntilHeld(5s));
  TRawFileIn second;
  second.SetFileName(file.string());
  second.StartSample = kFrames - 10;
  // Still held: the new input comes while the first run is surely on (the
  // stop lets the held block go), and the restarted run waits at its first
  // block until the release.
  sink.SetInput(&second);
  sink.Hold = false;
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(sink.Data.size(), 40u);
  EXPECT_EQ(sink.DoneCalls, 2);
}

TEST_F(SinkTest, TwoSinksDeliverTheirEventsOneAtATimeInOrder) {
  TRawFileIn source2;
  source2.SetFileName(file.string());
  TMemorySink sink2;
  sink2.SetInput(&source2);
  std::atomic<int> inHandler{0};
  bool overlapped = false;
  std::vector<std::pair<int, int>> seen;  // (sink, progress)
  int done = 0;
  auto attach = [&](TMemorySink& s, int id) {
    s.BlockBytes = 1024;
    s.OnProgress = [&, id](TComponent*) {
      if (inHandler.fetch_add(1) != 0) overlapped = true;
      // Stays in the handler a little, so that a second handler run at the
      // same time would be seen.
      WaitWithoutPumping([] { return false; }, 100us);
      seen.emplace_back(id, (id == 1 ? sink : sink2).LastProgress.load());
      inHandler.fetch_sub(1);
    };
    s.OnDone = [&, id](TComponent*) {
      seen.emplace_back(id, 1000);
      ++done;
    };
  };
  attach(sink, 1);
  attach(sink2, 2);
  sink.Run();
  sink2.Run();
  ASSERT_TRUE(PumpUntil([&] { return done == 2; }));
  EXPECT_FALSE(overlapped);
  for (int id : {1, 2}) {
    std::vector<int> values;
    for (auto& [who, v] : seen)
      if (who == id) values.push_back(v);
    ASSERT_FALSE(values.empty());
    EXPECT_EQ(values.back(), 1000) << "done comes after every progress event of its run";
    EXPECT_TRUE(std::is_sorted(values.begin(), values.end()));
  }
}

TEST_F(SinkTest, WorkerTakesTheRequestedPriorityAtTheNextRun) {
  rec.Attach(sink);
  sink.SetThreadPriority(0);  // idle: lowering is always allowed
  sink.Run();
  ASSERT_TRUE(PumpUntil([&] { return rec.done == 1; }));
  EXPECT_EQ(sink.NiceInPrepare, 19);
}

TEST(SinkLifetime, DestroyingASinkMidRunStopsItAndTheLastOneEndsTheDispatcher) {
  TTempDir dir;
  WriteRampFile(dir / "r.raw", 20000, 2);
  TRawFileIn source;
  source.SetFileName((dir / "r.raw").string());
  bool doneCalled = false;
  {
    auto* sink = new TMemorySink();
    ASSERT_NE(TEventHandler::Instance(), nullptr);
    sink->OnDone = [&](TComponent*) { doneCalled = true; };
    sink->SetInput(&source);
    sink->Hold = true;
    sink->Run();
    ASSERT_TRUE(sink->WaitUntilHeld(5s));
    const auto start = std::chrono::steady_clock::now();
    delete sink;
    const auto took = std::chrono::steady_clock::now() - start;
    // The dispatcher notices its end within its 100 ms wait; leave room
    // for slow sanitizer builds.
    EXPECT_LT(took, 2s);
  }
  EXPECT_EQ(TEventHandler::Instance(), nullptr);
  EXPECT_FALSE(source.Busy);
  PumpUntil([] { return false; }, 50ms);
  EXPECT_FALSE(doneCalled);
}

TEST(MainThreadInvoker, RunsRequestsOnTheMainThreadAndReportsEscapedExceptions) {
  auto& invoker = MainThreadInvoker::Instance();
  EXPECT_TRUE(invoker.IsMainThread());
  std::string caught;
  invoker.SetExceptionHook([&](const std::exception& e) { caught = e.what(); });
  std::thread::id ranOn;
  std::atomic<bool> finished{false};
  std::thread other([&] {
    invoker.InvokeAndWait([&] { ranOn = std::this_thread::get_id(); });
    invoker.InvokeAndWait([] { throw EAuException("handler failed"); });
    finished = true;
  });
  ASSERT_TRUE(PumpUntil([&] { return finished.load(); }));
  other.join();
  EXPECT_EQ(ranOn, std::this_thread::get_id());
  EXPECT_EQ(caught, "handler failed");
  invoker.SetExceptionHook(nullptr);
  int direct = 0;
  invoker.InvokeAndWait([&] { ++direct; });
  EXPECT_EQ(direct, 1) << "a request from the main thread runs at once";
}

}  // namespace
