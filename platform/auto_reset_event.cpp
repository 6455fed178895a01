#include "platform/auto_reset_event.h"

namespace platform {

void AutoResetEvent::Signal() {
  {
    std::lock_guard lock(mutex_);
    signalled_ = true;
  }
  cv_.notify_one();
}

void AutoResetEvent::Reset() {
  std::lock_guard lock(mutex_);
  signalled_ = false;
}

void AutoResetEvent::Wait() {
  std::unique_lock lock(mutex_);
  cv_.wait(lock, [this] { return signalled_; });
  signalled_ = false;
}

bool AutoResetEvent::WaitFor(std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  if (!cv_.wait_for(lock, timeout, [this] { return signalled_; })) return false;
  signalled_ = false;
  return true;
}

}  // namespace platform
