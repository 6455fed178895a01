#include "pipeline/event_handler.h"

#include <algorithm>

#include "pipeline/au_output.h"
#include "pipeline/au_thread.h"
#include "pipeline/main_thread_invoker.h"

using namespace std::chrono_literals;

namespace {
std::mutex g_usersLock;
int g_users = 0;
std::atomic<TEventHandler*> g_eventHandler{nullptr};
}  // namespace

void TEventHandler::AddUser() {
  std::lock_guard lock(g_usersLock);
  if (g_users++ == 0) g_eventHandler = new TEventHandler();
}

void TEventHandler::ReleaseUser() {
  std::lock_guard lock(g_usersLock);
  if (g_users == 0) return;
  if (--g_users == 0) {
    delete g_eventHandler.exchange(nullptr);
  }
}

TEventHandler* TEventHandler::Instance() { return g_eventHandler; }

TEventHandler::TEventHandler() { FThread = std::thread([this] { Execute(); }); }

TEventHandler::~TEventHandler() {
  // Wake the dispatcher from its idle wait rather than let it notice the end
  // at its next 100 ms timeout: every program that closes its last sink
  // would wait that long. It may be blocked handing an event to this very
  // thread, so serve such requests until it has ended.
  Terminated = true;
  QueueEvent.Signal();
  auto& invoker = MainThreadInvoker::Instance();
  if (invoker.IsMainThread()) {
    while (!FFinished) invoker.WaitAndRun(1ms);
  }
  FThread.join();
}

void TEventHandler::PostProgress(TComponent* Sender, const TNotifyEvent& Handler) {
  auto event = std::make_unique<PipelineEvent>();
  event->Kind = 0;
  event->Sender = Sender;
  event->Handler = Handler;
  PostEvent(std::move(event));
}

void TEventHandler::PostDone(TComponent* Sender, TAuThread* Thread) {
  auto event = std::make_unique<PipelineEvent>();
  event->Kind = 1;
  event->Sender = Sender;
  event->Thread = Thread;
  PostEvent(std::move(event));
}

void TEventHandler::PostSenderEvent(TComponent* Sender, const TNotifyEvent& Handler) {
  auto event = std::make_unique<PipelineEvent>();
  event->Kind = 2;
  event->Sender = Sender;
  event->Handler = Handler;
  PostEvent(std::move(event));
}

void TEventHandler::PostEvent(std::unique_ptr<PipelineEvent> Event) {
  if (auto* output = dynamic_cast<TAuOutput*>(Event->Sender)) Event->Run = output->Thread->CurrentRun;
  {
    std::lock_guard lock(QueueLock);
    if (Event->Sender == BlockedSender) return;
    Events.push_back(std::move(Event));
  }
  QueueEvent.Signal();
}

void TEventHandler::RemoveEvents(TComponent* Sender) {
  std::lock_guard lock(QueueLock);
  Events.erase(std::remove_if(Events.begin(), Events.end(), [Sender](const auto& e) { return e->Sender == Sender; }),
               Events.end());
}

void TEventHandler::BlockSender(TComponent* Sender) {
  std::lock_guard lock(QueueLock);
  BlockedSender = Sender;
}

void TEventHandler::UnblockSender() {
  std::lock_guard lock(QueueLock);
  BlockedSender = nullptr;
}

void TEventHandler::WaitWhileDispatching(TComponent* Sender) {
  auto& invoker = MainThreadInvoker::Instance();
  for (;;) {
    {
      std::lock_guard lock(QueueLock);
      if (CurrentEvent == nullptr || CurrentEvent->Sender != Sender) return;
    }
    invoker.WaitAndRun(1ms);
  }
}

void TEventHandler::Execute() {
  while (!Terminated) {
    for (;;) {
      std::unique_ptr<PipelineEvent> event;
      {
        std::lock_guard lock(QueueLock);
        if (Events.empty()) break;
        event = std::move(Events.front());
        Events.pop_front();
        CurrentEvent = event.get();
      }
      Dispatch(*event);
      std::lock_guard lock(QueueLock);
      CurrentEvent = nullptr;
    }
    QueueEvent.WaitFor(100ms);
  }
  FFinished = true;
}

namespace {

// Main thread: an event of a run that Stop(false) ended (or that a later
// run replaced) is not handed on. Decided here, when the handler would run,
// because Stop serves the main thread's pending requests while it waits.
bool IsLive(const PipelineEvent& Event) {
  auto* output = dynamic_cast<TAuOutput*>(Event.Sender);
  return output == nullptr || Event.Run == output->LiveRun();
}

}  // namespace

void TEventHandler::Dispatch(PipelineEvent& Event) {
  auto& invoker = MainThreadInvoker::Instance();
  if (Event.Kind != 1) {
    if (Event.Handler) {
      invoker.InvokeAndWait([&Event] {
        if (IsLive(Event)) Event.Handler(Event.Sender);
      });
    }
    return;
  }
  // A done event: the handler may start the next run at once, so the worker
  // must be idle first.
  auto* output = static_cast<TAuOutput*>(Event.Sender);
  while (!Event.Thread->Waiting) Event.Thread->WaitStateChange(10ms);
  output->Busy = false;
  RemoveEvents(output);
  // FireDone and OnDone are read on the main thread, which is the only one
  // assigning them.
  invoker.InvokeAndWait([&Event, output] {
    if (!IsLive(Event) || !Event.Thread->FireDone) return;
    Event.Handler = output->OnDone;
    if (Event.Handler) Event.Handler(output);
  });
}
