// A sink that collects everything it pulls in memory, with hooks that let a
// test fail its steps or hold its worker at a known point.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

#include "pipeline/au_output.h"
#include "tests/support/hold_gate.h"

namespace qmtest {

class TMemorySink : public TAuOutput {
 public:
  using TAuOutput::TAuOutput;
  ~TMemorySink() override { DestroyWorker(); }

  std::vector<uint8_t> Data;
  uint32_t BlockBytes = 4096;
  std::atomic<int> PrepareCalls{0};
  std::atomic<int> DoneCalls{0};
  std::atomic<int> AbortCalls{0};
  std::atomic<bool> FailPrepare{false};
  std::atomic<bool> FailDone{false};
  // While closed, each block waits before it is pulled until Release(), a
  // stop or a pause request (the worker then takes the pause after the
  // held block).
  THoldGate Hold;
  // While closed, Prepare waits until ReleasePrepare() or a stop.
  THoldGate HoldPrepare;
  std::atomic<int> BlocksWritten{0};
  // The worker's nice value when Prepare ran.
  std::atomic<int> NiceInPrepare{0};

  void Release() { Hold.Release(); }
  bool WaitUntilHeld(std::chrono::milliseconds timeout) { return Hold.WaitUntilHeld(timeout); }
  void ReleasePrepare() { HoldPrepare.Release(); }
  bool WaitUntilPrepareHeld(std::chrono::milliseconds timeout) { return HoldPrepare.WaitUntilHeld(timeout); }

 protected:
  bool DoOutput(bool Abort) override;
  void Done() override;
  void Prepare() override;
};

}  // namespace qmtest
