#include "pipeline/au_output.h"

#include <chrono>
#include <cmath>

#include "pipeline/au_exception.h"
#include "pipeline/event_handler.h"
#include "pipeline/main_thread_invoker.h"
#include "pipeline/output_names.h"

namespace fs = std::filesystem;

using namespace std::chrono_literals;

namespace {
// How long Pause waits for the worker to acknowledge.
constexpr auto kPauseAcknowledgeWait = 100ms;
}  // namespace

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
  if (!FInput) throw EAuException(kMsgInputNotAssigned);
  FInputEnded = false;
  FInputRecord = TInputRecord{};
  // A Stop on an idle sink must not mark the next run as stopped.
  StopRequested = false;
  Busy = true;
  const uint64_t run = ++FRunCounter;
  FLiveRun = run;
  Thread->StopFlag = false;
  Thread->CancelPendingPause();
  Thread->DonePosted = false;
  Thread->RequestedRun = run;
  // Signal until the worker has taken this run, so that a Stop right after
  // Run always finds it in progress. The worker may still be on its way to
  // its idle wait after the previous run; a signal it resets is repeated.
  while (Thread->CurrentRun != run) {
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
  Thread->CancelPendingPause();
  while (Thread->Paused) {
    Thread->WakeEvent.Signal();
    Thread->WaitStateChange(1ms);
  }
  if (Async) return;
  // From here no event of the stopped run reaches a handler, not even one
  // the dispatcher has already handed to the main thread and that the loop
  // below runs: it is dropped when it runs. So no OnDone can start another
  // row inside this Stop.
  FLiveRun = 0;
  TEventHandler* dispatcher = TEventHandler::Instance();
  dispatcher->BlockSender(this);
  dispatcher->RemoveEvents(this);
  auto& invoker = MainThreadInvoker::Instance();
  while (Thread->RunInProgress()) {
    // The dispatcher may be blocked running a handler on this thread, and
    // the worker may need it to go on: keep serving those requests.
    invoker.RunPending();
    // A pause the worker was entering as the stop came is left at once.
    if (Thread->Paused) Thread->WakeEvent.Signal();
    Thread->WaitStateChange(1ms);
  }
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
    Thread->RequestPause();
    // The worker enters the pause between two blocks, usually at once; a row
    // still preparing (a compressed file decoded as it opens) enters it at
    // its first block. The main thread waits only a moment either way.
    Thread->PauseAckEvent.WaitFor(kPauseAcknowledgeWait);
  }
  FInput->PauseInput();
}

void TAuOutput::Resume() {
  if (!Busy) return;
  if (Thread->CancelPendingPause()) {
    if (FInput) FInput->ResumeInput();
    return;
  }
  if (!Thread->Paused) return;
  if (FInput) FInput->ResumeInput();
  while (Thread->Paused) {
    Thread->WakeEvent.Signal();
    Thread->WaitStateChange(1ms);
  }
}

bool TAuOutput::Paused() const { return Thread->Paused; }

bool TAuOutput::PausePending() const { return Thread->PausePending(); }

void TAuOutput::ReportFailure(const std::string& Message) {
  if (!ExceptionMessage.empty()) return;
  ExceptionMessage = Message;
  if (OnThreadException) TEventHandler::Instance()->PostSenderEvent(this, OnThreadException);
}

uint32_t TAuOutput::ReadInput(void* Dest, uint32_t Bytes) {
  bool eof = false;
  if (FInputRecord.Channels == 0) {
    FInputRecord.Channels = FInput->Channels();
    FInputRecord.BitsPerSample = FInput->BitsPerSample();
    FInputRecord.SampleRate = FInput->SampleRate();
  }
  const uint32_t got = FInput->FillBuffer(Dest, Bytes, eof);
  FInputRecord.Digest.Add(Dest, got);
  if (eof) {
    FInputEnded = true;
    FInputRecord.Ended = true;
  }
  return got;
}

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

// ---- TAuStreamedOutput -------------------------------------------------------

void TAuStreamedOutput::CloseStream() {
  if (!Stream) return;
  try {
    Stream->Close();
  } catch (const std::exception& e) {
    ReportFailure(e.what());
  }
  Stream.reset();
}

// ---- TAuFileOut -------------------------------------------------------------

void TAuFileOut::BeginRun() {
  FOutputFileName.clear();
  FTargetFileName = FWideFileName;
  FTemporaryTarget = false;
  if (FWideFileName.empty()) return;
  std::error_code ec;
  const fs::file_status status = fs::status(FWideFileName, ec);
  if (fs::exists(status) && !fs::is_regular_file(status)) return;
  if (fs::exists(status) && FFileMode == TFileOutputMode::foAppend) return;
  FTargetFileName = output_names::TemporaryName(FWideFileName);
  FTemporaryTarget = true;
}

bool TAuFileOut::DoOutput(bool Abort) {
  if (!Active) return true;
  // Errors of the input or the target end the run: a short file must never
  // pass for a finished one.
  if (Abort || InputEnded()) return false;
  if (EndAfterInputBytes >= 0 && FInputRecord.Digest.Bytes() >= EndAfterInputBytes) return false;
  return EncodeStep();
}

void TAuFileOut::CommitTarget() {
  if (!FTemporaryTarget) {
    if (!FTargetFileName.empty() && ExceptionMessage.empty()) FOutputFileName = FTargetFileName;
    return;
  }
  FTemporaryTarget = false;
  std::error_code ec;
  if (!fs::is_regular_file(fs::symlink_status(FTargetFileName, ec))) return;
  if (ExceptionMessage.empty()) {
    try {
      output_names::SyncFile(FTargetFileName);
      // A stopped run's part never takes the place of anything.
      const bool replace = ReplaceExisting && !LastRunStopped;
      fs::path final = FWideFileName;
      if (replace) {
        output_names::MoveReplacing(FTargetFileName, final);
      } else {
        while (!output_names::MoveNoReplace(FTargetFileName, final)) {
          final = output_names::FreeName(FWideFileName, output_names::ExistsOnDisk);
        }
      }
      output_names::SyncFolderOf(final);
      FOutputFileName = final;
      return;
    } catch (const std::exception& e) {
      ReportFailure(e.what());
    }
  }
  fs::remove(FTargetFileName, ec);
}

void TAuFileOut::Done() {
  try {
    Finish();
  } catch (const std::exception& e) {
    ReportFailure(e.what());
  }
  CloseStream();
  try {
    AfterClose();
  } catch (const std::exception& e) {
    ReportFailure(e.what());
  }
  CommitTarget();
  if (FInput) FInput->Flush();
}

void TAuFileOut::SetFileMode(TFileOutputMode) { FFileMode = TFileOutputMode::foRewrite; }

void TAuFileOut::SetFileName(const std::string& Value) {
  FFileName = Value;
  FWideFileName = std::filesystem::path(Value);
}
