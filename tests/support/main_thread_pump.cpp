#include "tests/support/main_thread_pump.h"

#include "pipeline/au_output.h"
#include "pipeline/main_thread_invoker.h"

namespace qmtest {

bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
  auto& invoker = MainThreadInvoker::Instance();
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    invoker.WaitAndRun(std::chrono::milliseconds(2));
  }
  return true;
}

bool RunToEnd(TAuOutput& sink, std::chrono::seconds limit) {
  bool finished = false;
  sink.OnDone = [&finished](TComponent*) { finished = true; };
  sink.Run();
  return PumpUntil([&finished] { return finished; }, limit);
}

}  // namespace qmtest
