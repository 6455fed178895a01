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

  platform::AutoResetEvent PauseAckEvent;
  platform::AutoResetEvent WakeEvent;
  std::atomic<bool> FireDone{true};
  std::atomic<bool> DonePosted{false};
  TAuOutput* const Output;
  std::atomic<bool> StopFlag{false};
  std::atomic<bool> PauseRequested{false};
  std::atomic<bool> Paused{false};
  // True from construction: a Run that comes before the worker first waits
  // keeps signalling until the worker has left its wait.
  std::atomic<bool> Waiting{true};
  std::atomic<bool> Terminated{false};
  // Counts the worker's departures from its idle wait, so a waker can tell
  // "not woken yet" from "woken, finished and idle again".
  std::atomic<uint64_t> WakeCount{0};

 private:
  void Execute();
  void WaitForWake();
  void DoPause();
  void NotifyStateChange();
  void ApplyPendingPriority();

  std::mutex FStateMutex;
  std::condition_variable FStateChanged;
  std::atomic<int> FRequestedPriority{-1};
  std::atomic<bool> FFinished{false};
  std::thread FThread;
};
