#include "tests/support/hold_gate.h"

namespace qmtest {

THoldGate& THoldGate::operator=(bool closed) {
  {
    std::lock_guard lock(FMutex);
    FClosed = closed;
  }
  FChanged.notify_all();
  return *this;
}

void THoldGate::Pass(const std::function<bool()>& letGo) {
  std::unique_lock lock(FMutex);
  if (!FClosed) return;
  FHeld = true;
  ++FTimesHeld;
  FChanged.notify_all();
  // Release notifies; letGo is looked at every few milliseconds, since what
  // it watches changes without a word to this gate.
  while (FClosed && !(letGo && letGo())) FChanged.wait_for(lock, std::chrono::milliseconds(5));
  FHeld = false;
  FChanged.notify_all();
}

bool THoldGate::WaitUntilHeld(std::chrono::milliseconds timeout) {
  std::unique_lock lock(FMutex);
  return FChanged.wait_for(lock, timeout, [this] { return FHeld; });
}

}  // namespace qmtest
