#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "platform/auto_reset_event.h"

class TAuOutput;

// The worker thread of one sink. It lives as long as the sink and runs one
// conversion after another: it waits, is woken by Run, calls Prepare, calls
// DoOutput block by block, ends with WhenDone and posts the done event.
// Flags crossing threads are atomics; the main thread waits for a flag
// change on StateChanged with short timeouts instead of spinning.
//
// Runs are numbered: Run asks for run n (RequestedRun) and returns once the
// worker has taken it (CurrentRun = n); the worker sets FinishedRun = n after
// posting its done event. A run is in progress while CurrentRun differs from
// FinishedRun, so a Stop that comes at any moment after Run knows whether it
// has a run to wait for.
class TAuThread {
 public:
  explicit TAuThread(TAuOutput* AOutput);
  ~TAuThread();
  TAuThread(const TAuThread&) = delete;
  TAuThread& operator=(const TAuThread&) = delete;

  // Sets the worker's scheduling level (0 idle ... 6 time-critical).
  void SetPriority(int Level);
  // Ends the worker: it leaves its idle wait and returns. Joins it.
  void TerminateAndWait();

  // Waits at most `timeout` for any flag change of the worker.
  void WaitStateChange(std::chrono::milliseconds timeout);

  // Main thread. Asks for a pause between two blocks; a run still preparing
  // takes it before its first block.
  void RequestPause();
  // Main thread. Withdraws a pause that the worker has not entered yet;
  // true when there was one.
  bool CancelPendingPause();
  // A pause was asked for and the worker has not entered it yet.
  bool PausePending() const { return PauseRequested; }
  // A run has been taken by the worker and its done event is not posted yet.
  bool RunInProgress() const { return CurrentRun != FinishedRun; }

  platform::AutoResetEvent PauseAckEvent;
  platform::AutoResetEvent WakeEvent;
  std::atomic<bool> FireDone{true};
  std::atomic<bool> DonePosted{false};
  TAuOutput* const Output;
  std::atomic<bool> StopFlag{false};
  std::atomic<bool> PauseRequested{false};
  std::atomic<bool> Paused{false};
  // True while the worker is idle, blocked on WakeEvent.
  std::atomic<bool> Waiting{true};
  std::atomic<bool> Terminated{false};
  std::atomic<uint64_t> RequestedRun{0};
  std::atomic<uint64_t> CurrentRun{0};
  std::atomic<uint64_t> FinishedRun{0};

 private:
  void Execute();
  void WaitForWake();
  // Between blocks: enters a requested pause unless a stop came with it.
  void TakePauseRequest();
  void NotifyStateChange();
  void ApplyPendingPriority();
  // One run: Prepare, the block loop, WhenDone, the done event.
  void RunOnce(uint64_t Run);

  // Guards the pause hand-over between PauseRequested and Paused, and is
  // the mutex of FStateChanged.
  std::mutex FStateMutex;
  std::condition_variable FStateChanged;
  std::atomic<int> FRequestedPriority{-1};
  std::atomic<bool> FFinished{false};
  std::thread FThread;
};
