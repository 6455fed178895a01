#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace platform {

// An event that stays signalled until exactly one waiter takes it, then
// resets itself. A signal given while nobody waits is kept for the next wait.
class AutoResetEvent {
 public:
  explicit AutoResetEvent(bool initiallySignalled = false) : signalled_(initiallySignalled) {}
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  void Signal();
  void Reset();
  // Waits without a time limit.
  void Wait();
  // Returns true when the event was taken, false when the time ran out.
  bool WaitFor(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool signalled_;
};

}  // namespace platform
