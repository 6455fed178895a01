#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

// Runs requests of other threads on the main thread. A requesting thread
// queues a call, wakes the main thread through the installed hook and waits
// until the call has run. The main thread runs pending requests when woken
// (the window installs a hook that posts to its event loop), or pumps them
// itself (the command line, tests, and Stop(false) while it waits).
class MainThreadInvoker {
 public:
  static MainThreadInvoker& Instance();

  // Runs fn on the main thread and returns when it has run. Called on the
  // main thread itself, runs fn at once.
  void InvokeAndWait(std::function<void()> fn);

  // Main thread: runs every request queued so far; returns how many ran.
  std::size_t RunPending();
  // Main thread: waits up to `timeout` for a request, then runs what is
  // pending; returns how many ran.
  std::size_t WaitAndRun(std::chrono::milliseconds timeout);

  // A request is queued and waits for the main thread.
  bool HasPending() const;

  // Called (on the requesting thread) after each request is queued.
  void SetWakeHook(std::function<void()> hook);
  // Receives an exception that escaped a request (by default it is written
  // to standard error). Runs on the main thread.
  void SetExceptionHook(std::function<void(const std::exception&)> hook);

  // The thread whose requests run directly; the thread that started the
  // program unless changed.
  void SetMainThread(std::thread::id id);
  bool IsMainThread() const;

 private:
  struct Request {
    std::function<void()> fn;
    bool done = false;
  };

  MainThreadInvoker();
  void RunOne(Request& request);

  mutable std::mutex mutex_;
  std::condition_variable queued_;
  std::condition_variable finished_;
  std::deque<std::shared_ptr<Request>> pending_;
  std::function<void()> wakeHook_;
  std::function<void(const std::exception&)> exceptionHook_;
  std::thread::id mainThread_;
};
