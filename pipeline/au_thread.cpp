#include "pipeline/au_thread.h"

#include <exception>

#include "pipeline/au_output.h"
#include "pipeline/event_handler.h"
#include "platform/thread_priority.h"

using namespace std::chrono_literals;

TAuThread::TAuThread(TAuOutput* AOutput) : Output(AOutput) { FThread = std::thread([this] { Execute(); }); }

TAuThread::~TAuThread() { TerminateAndWait(); }

void TAuThread::TerminateAndWait() {
  if (!FThread.joinable()) return;
  Terminated = true;
  // Keep waking it until it has left its body: it may be on its way into
  // another idle wait when Terminated is set.
  while (!FFinished) {
    WakeEvent.Signal();
    WaitStateChange(1ms);
  }
  FThread.join();
}

void TAuThread::SetPriority(int Level) {
  // A thread can only change its own nice value; the worker takes the level
  // when it next starts a run (it is idle whenever a caller sets it).
  FRequestedPriority = Level;
}

void TAuThread::ApplyPendingPriority() {
  const int level = FRequestedPriority.exchange(-1);
  if (level >= 0) platform::SetCurrentThreadPriority(level);
}

void TAuThread::NotifyStateChange() {
  { std::lock_guard lock(FStateMutex); }
  FStateChanged.notify_all();
}

void TAuThread::WaitStateChange(std::chrono::milliseconds timeout) {
  std::unique_lock lock(FStateMutex);
  FStateChanged.wait_for(lock, timeout);
}

void TAuThread::RequestPause() {
  std::lock_guard lock(FStateMutex);
  if (!Paused) PauseRequested = true;
}

bool TAuThread::CancelPendingPause() {
  std::lock_guard lock(FStateMutex);
  return PauseRequested.exchange(false);
}

void TAuThread::WaitForWake() {
  WakeEvent.Reset();
  Waiting = true;
  NotifyStateChange();
  WakeEvent.Wait();
  Waiting = false;
  NotifyStateChange();
}

void TAuThread::TakePauseRequest() {
  bool enter = false;
  {
    // Decided under the lock that Stop, Resume and CancelPendingPause take,
    // so a request is either withdrawn or seen as Paused, never lost.
    std::lock_guard lock(FStateMutex);
    if (!PauseRequested) return;
    PauseRequested = false;
    // A stop that came with the pause request wins.
    enter = !StopFlag;
    if (enter) {
      WakeEvent.Reset();
      Paused = true;
    }
  }
  if (!enter) return;
  FStateChanged.notify_all();
  PauseAckEvent.Signal();
  WakeEvent.Wait();
  {
    std::lock_guard lock(FStateMutex);
    Paused = false;
  }
  FStateChanged.notify_all();
}

void TAuThread::Execute() {
  for (;;) {
    WaitForWake();
    if (Terminated) break;
    const uint64_t run = RequestedRun;
    // Wakes meant for a pause or for the end can arrive late: only a new
    // run number starts a run.
    if (run == CurrentRun) continue;
    CurrentRun = run;
    NotifyStateChange();
    RunOnce(run);
  }
  FFinished = true;
  NotifyStateChange();
}

void TAuThread::RunOnce(uint64_t Run) {
  ApplyPendingPriority();
  TEventHandler* dispatcher = TEventHandler::Instance();
  PauseAckEvent.Reset();
  // A Stop that came before the run began: nothing is opened or written.
  const bool began = !StopFlag;
  bool stopped = !began;
  if (began) {
    try {
      Output->BeginRun();
      Output->Prepare();
      Output->Active = true;
      // A pause asked for while Prepare ran is taken before the first block.
      bool Continue = true;
      bool aborted = false;
      while (Continue && !StopFlag) {
        const int progress = Output->Progress();
        if (progress != Output->LastProgress) {
          Output->LastProgress = progress;
          if (Output->OnProgress) dispatcher->PostProgress(Output, Output->OnProgress);
        }
        TakePauseRequest();
        aborted = StopFlag;
        Continue = Output->DoOutput(aborted);
      }
      stopped = Continue || aborted;
    } catch (const std::exception& e) {
      Output->ReportFailure(e.what());
      StopFlag = true;
    }
  }
  StopFlag = false;
  Output->LastRunStopped = stopped;
  if (began) {
    try {
      Output->WhenDone();
    } catch (const std::exception& e) {
      // A sink that could not finish its target (trailer, header patch,
      // close) has not written a good file: report it like any failure.
      Output->ReportFailure(e.what());
    } catch (...) {
    }
  }
  Output->StopRequested = false;
  Output->Busy = false;
  dispatcher->PostDone(Output, this);
  DonePosted = true;
  FinishedRun = Run;
  NotifyStateChange();
}
