#pragma once

#include <atomic>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>

#include "pipeline/component.h"
#include "platform/auto_reset_event.h"

class TAuThread;

// One notification for the user, queued by a worker and handed to the main
// thread by the dispatcher.
struct PipelineEvent {
  // 0 = progress, 1 = done, 2 = sender notification.
  uint8_t Kind = 0;
  TComponent* Sender = nullptr;
  TNotifyEvent Handler;
  // The sink's worker (done events only).
  TAuThread* Thread = nullptr;
  // The run of the sink that posted it (0 for a sender that is no sink).
  uint64_t Run = 0;
};

// The process-wide dispatcher: one thread that takes events in posting order
// and runs each handler on the main thread, waiting for it to return. So the
// events of every sink reach the main thread one at a time, in order.
class TEventHandler {
 public:
  TEventHandler();
  ~TEventHandler();
  TEventHandler(const TEventHandler&) = delete;
  TEventHandler& operator=(const TEventHandler&) = delete;

  void PostProgress(TComponent* Sender, const TNotifyEvent& Handler);
  void PostDone(TComponent* Sender, TAuThread* Thread);
  void PostSenderEvent(TComponent* Sender, const TNotifyEvent& Handler);
  // Queues the event unless its sender is blocked (then it is dropped).
  void PostEvent(std::unique_ptr<PipelineEvent> Event);
  void RemoveEvents(TComponent* Sender);
  void BlockSender(TComponent* Sender);
  void UnblockSender();
  // Main thread: waits, running main-thread requests meanwhile, until the
  // dispatcher is not handling an event of Sender.
  void WaitWhileDispatching(TComponent* Sender);

  // The shared dispatcher: created for its first user, ended and freed when
  // its last user releases it (woken at once).
  static void AddUser();
  static void ReleaseUser();
  static TEventHandler* Instance();

 private:
  void Execute();
  void Dispatch(PipelineEvent& Event);

  std::deque<std::unique_ptr<PipelineEvent>> Events;
  std::mutex QueueLock;
  platform::AutoResetEvent QueueEvent;
  PipelineEvent* CurrentEvent = nullptr;
  TComponent* BlockedSender = nullptr;
  std::atomic<bool> Terminated{false};
  std::atomic<bool> FFinished{false};
  std::thread FThread;
};
