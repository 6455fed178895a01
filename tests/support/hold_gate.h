// Holds a worker thread at a point of a test's choosing until the test lets
// it go, so that a test orders threads by what they are doing, never by
// sleeping. The worker calls Pass; while the gate is closed, Pass blocks
// until Release, or until `letGo` says so (the worker's pause or stop
// request, which the pipeline raises without telling the gate).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace qmtest {

class THoldGate {
 public:
  // Closes (true) or opens (false) the gate; opening lets a held Pass go.
  THoldGate& operator=(bool closed);
  explicit operator bool() const { return FClosed; }

  void Release() { *this = false; }

  // Worker side. Returns at once while the gate is open.
  void Pass(const std::function<bool()>& letGo = {});

  // Test side: a Pass is blocked in the gate now (true), or `timeout` passed.
  bool WaitUntilHeld(std::chrono::milliseconds timeout);
  // How many times a Pass was held.
  int TimesHeld() const { return FTimesHeld; }

 private:
  std::mutex FMutex;
  std::condition_variable FChanged;
  std::atomic<bool> FClosed{false};
  bool FHeld = false;
  std::atomic<int> FTimesHeld{0};
};

}  // namespace qmtest
