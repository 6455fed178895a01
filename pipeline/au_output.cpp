#include "pipeline/au_output.h"

#include <chrono>
#include <cmath>

#include "pipeline/au_exception.h"
#include "pipeline/event_handler.h"
#include "pipeline/main_thread_invoker.h"

using namespace std::chrono_literals;

// ---- TAuOutput --------------------------------------------------------------

TAuOutput::TAuOutput(TComponent* AOwner) : TComponent(AOwner) {
  TEventHandler::AddUser();
  Thread = std::make_unique<TAuThread>(this);
}

TAuOutput::~TAuOutput() {
  DestroyWorker();
  TEventHandler::ReleaseUser();
}

void TAuOutput::DestroyWorker() {
  if (!Thread || FWorkerDestroyed) return;
  Stop(false);
  Thread->TerminateAndWait();
  FWorkerDestroyed = true;
}

void TAuOutput::SetInput(TAuInput* Value) {
  if (FInput) RemoveFreeNotification(FInput);
  if (Busy) {
    Stop(false);
    FInput = Value;
    if (FInput) FInput->FreeNotification(this);
    Run();
    return;
  }
  FInput = Value;
  if (FInput) FInput->FreeNotification(this);
}

void TAuOutput::Notification(TComponent* AComponent, TOperation Operation) {
  if (Operation != TOperation::opRemove || AComponent != FInput) return;
  // The input is going away: end a run that still pulls from it, then drop
  // it. No new run starts without an input.
  if (Busy) Stop(false);
  FInput = nullptr;
}

void TAuOutput::Run() {
  std::lock_guard lock(OutputLock);
  // The message belongs to the worker while a run is on: clear it only for
  // a run that can start.
  if (Busy) throw EAuException(kMsgSinkIsBusy);
  ExceptionMessage.clear();
  if (!FInput) throw EAuException(kMsgRunInputNotAssigned);
  // A Stop on an idle sink must not mark the next run as stopped.
  StopRequested = false;
  Busy = true;
  // After Stop(false) the worker may still be between posting its done event
  // and its idle wait; a wake signal must not arrive before that wait.
  while (!Thread->Waiting) Thread->WaitStateChange(1ms);
  // Signal until the worker has left its wait. A short run may be over and
  // the worker idle again before this thread looks: count wakes, not states.
  const uint64_t wakes = Thread->WakeCount;
  while (Thread->WakeCount == wakes) {
    Thread->StopFlag = false;
    Thread->WakeEvent.Signal();
    Thread->WaitStateChange(1ms);
  }
}

void TAuOutput::Stop(bool Async) {
  if (FWorkerDestroyed) return;
  StopRequested = true;
  Thread->FireDone = Async;
  Thread->DonePosted = false;
  Thread->StopFlag = true;
  while (Thread->Paused) {
    Thread->WakeEvent.Signal();
    Thread->WaitStateChange(1ms);
  }
  if (Async) return;
  TEventHandler* dispatcher = TEventHandler::Instance();
  dispatcher->BlockSender(this);
  dispatcher->RemoveEvents(this);
  auto& invoker = MainThreadInvoker::Instance();
  while (!Thread->Waiting && !Thread->DonePosted) {
    // The dispatcher may be blocked running a handler on this thread, and
    // the worker may need it to go on: keep serving those requests.
    invoker.RunPending();
    // A pause the worker was entering as the stop came is left at once.
    if (Thread->Paused) Thread->WakeEvent.Signal();
    Thread->WaitStateChange(1ms);
  }
  // A done event of this sink already taken from the queue must not reach
  // OnDone either.
  dispatcher->WaitWhileDispatching(this);
  dispatcher->RemoveEvents(this);
  dispatcher->UnblockSender();
  Thread->FireDone = true;
}

void TAuOutput::Pause() {
  if (!FInput) throw EAuException(kMsgPauseInputNotAssigned);
  if (!Busy) return;
  // A second Pause of a paused run has nothing to wait for.
  if (!Thread->Paused) {
    Thread->PauseRequested = true;
    // Wait for the worker to enter the pause, at most 5 s; a run that ends
    // first never will.
    const auto deadline = std::chrono::steady_clock::now() + 5000ms;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Thread->PauseAckEvent.WaitFor(10ms)) break;
      if (Thread->Waiting) break;
    }
  }
  FInput->PauseInput();
}

void TAuOutput::Resume() {
  if (!Busy || !Thread->Paused) return;
  if (FInput) FInput->ResumeInput();
  while (Thread->Paused) {
    Thread->WakeEvent.Signal();
    Thread->WaitStateChange(1ms);
  }
}

bool TAuOutput::Paused() const { return Thread->Paused; }

int TAuOutput::Progress() {
  if (!FInput) return 0;
  const int64_t size = FInput->Size;
  if (size == -1) return -1;
  if (size == 0) return 0;
  return static_cast<int>(std::lround(static_cast<double>(FInput->Position.load()) * 100.0 / static_cast<double>(size)));
}

void TAuOutput::SetThreadPriority(int Priority) { Thread->SetPriority(Priority); }

void TAuOutput::WhenDone() {
  if (!Busy) return;
  Active = false;
  Done();
  StopRequested = false;
  Busy = false;
}

// ---- TAuFileOut -------------------------------------------------------------

void TAuFileOut::SetFileMode(TFileOutputMode) { FFileMode = TFileOutputMode::foRewrite; }

void TAuFileOut::SetFileName(const std::string& Value) {
  FFileName = Value;
  FWideFileName = std::filesystem::path(Value);
}
