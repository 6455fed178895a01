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

void TAuThread::WaitForWake() {
  WakeEvent.Reset();
  Waiting = true;
  NotifyStateChange();
  WakeEvent.Wait();
  ++WakeCount;
  Waiting = false;
  NotifyStateChange();
}

void TAuThread::DoPause() {
  WakeEvent.Reset();
  Paused = true;
  NotifyStateChange();
  PauseAckEvent.Signal();
  WakeEvent.Wait();
  Paused = false;
  NotifyStateChange();
}

void TAuThread::Execute() {
  WaitForWake();
  StopFlag = false;
  while (!Terminated) {
    ApplyPendingPriority();
    TEventHandler* dispatcher = TEventHandler::Instance();
    try {
      Output->Prepare();
      Output->Active = true;
      PauseRequested = false;
      Paused = false;
      PauseAckEvent.Reset();
      bool Continue = true;
      while (Continue && !StopFlag) {
        const int progress = Output->Progress();
        if (progress != Output->LastProgress) {
          Output->LastProgress = progress;
          if (Output->OnProgress) dispatcher->PostProgress(Output, Output->OnProgress);
        }
        if (PauseRequested) {
          PauseRequested = false;
          // A stop that came with the pause request wins.
          if (!StopFlag) DoPause();
        }
        Continue = Output->DoOutput(StopFlag);
      }
    } catch (const std::exception& e) {
      Output->ExceptionMessage = e.what();
      if (Output->OnThreadException) dispatcher->PostSenderEvent(Output, Output->OnThreadException);
      StopFlag = true;
    }
    StopFlag = false;
    try {
      Output->WhenDone();
    } catch (const std::exception& e) {
      // A sink that could not finish its target (trailer, header patch,
      // close) has not written a good file: report it like any failure.
      if (Output->ExceptionMessage.empty()) {
        Output->ExceptionMessage = e.what();
        if (Output->OnThreadException) dispatcher->PostSenderEvent(Output, Output->OnThreadException);
      }
      Output->StopRequested = false;
      Output->Busy = false;
    } catch (...) {
      Output->StopRequested = false;
      Output->Busy = false;
    }
    dispatcher->PostDone(Output, this);
    DonePosted = true;
    NotifyStateChange();
    if (!Terminated) WaitForWake();
  }
  FFinished = true;
  NotifyStateChange();
}
