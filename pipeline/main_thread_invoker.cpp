#include "pipeline/main_thread_invoker.h"

#include <cstdio>

namespace {
// Static initialisation runs on the thread that starts the program.
const std::thread::id g_startThread = std::this_thread::get_id();
}  // namespace

MainThreadInvoker& MainThreadInvoker::Instance() {
  static MainThreadInvoker instance;
  return instance;
}

MainThreadInvoker::MainThreadInvoker() : mainThread_(g_startThread) {}

void MainThreadInvoker::SetMainThread(std::thread::id id) {
  std::lock_guard lock(mutex_);
  mainThread_ = id;
}

bool MainThreadInvoker::IsMainThread() const {
  std::lock_guard lock(mutex_);
  return std::this_thread::get_id() == mainThread_;
}

bool MainThreadInvoker::HasPending() const {
  std::lock_guard lock(mutex_);
  return !pending_.empty();
}

void MainThreadInvoker::SetWakeHook(std::function<void()> hook) {
  std::lock_guard lock(mutex_);
  wakeHook_ = std::move(hook);
}

void MainThreadInvoker::SetExceptionHook(std::function<void(const std::exception&)> hook) {
  std::lock_guard lock(mutex_);
  exceptionHook_ = std::move(hook);
}

void MainThreadInvoker::RunOne(Request& request) {
  try {
    request.fn();
  } catch (const std::exception& e) {
    std::function<void(const std::exception&)> hook;
    {
      std::lock_guard lock(mutex_);
      hook = exceptionHook_;
    }
    if (hook) {
      hook(e);
    } else {
      std::fprintf(stderr, "%s\n", e.what());
    }
  } catch (...) {
    std::fprintf(stderr, "unknown exception in an event handler\n");
  }
}

void MainThreadInvoker::InvokeAndWait(std::function<void()> fn) {
  if (IsMainThread()) {
    Request direct{std::move(fn)};
    RunOne(direct);
    return;
  }
  auto request = std::make_shared<Request>();
  request->fn = std::move(fn);
  std::function<void()> hook;
  {
    std::lock_guard lock(mutex_);
    pending_.push_back(request);
    hook = wakeHook_;
  }
  queued_.notify_all();
  if (hook) hook();
  std::unique_lock lock(mutex_);
  finished_.wait(lock, [&] { return request->done; });
}

std::size_t MainThreadInvoker::RunPending() {
  std::size_t ran = 0;
  for (;;) {
    std::shared_ptr<Request> request;
    {
      std::lock_guard lock(mutex_);
      if (pending_.empty()) break;
      request = pending_.front();
      pending_.pop_front();
    }
    RunOne(*request);
    {
      std::lock_guard lock(mutex_);
      request->done = true;
    }
    finished_.notify_all();
    ++ran;
  }
  return ran;
}

std::size_t MainThreadInvoker::WaitAndRun(std::chrono::milliseconds timeout) {
  {
    std::unique_lock lock(mutex_);
    queued_.wait_for(lock, timeout, [this] { return !pending_.empty(); });
  }
  return RunPending();
}
