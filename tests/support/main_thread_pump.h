// Serving the main thread's side of the pipeline in a test: the events a
// worker posts (progress, done, failures) run while the test waits here.
#pragma once

#include <chrono>
#include <functional>

class TAuOutput;

namespace qmtest {

// Runs posted main-thread work until `done` holds (true) or `timeout`
// passes (false).
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout = std::chrono::seconds(10));

// Starts the sink and serves its events until its OnDone (true) or `limit`
// passes (false). Replaces the sink's OnDone.
bool RunToEnd(TAuOutput& sink, std::chrono::seconds limit = std::chrono::seconds(120));

}  // namespace qmtest
