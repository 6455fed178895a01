#pragma once

#include <functional>
#include <string>
#include <vector>

// The base of every pipeline object: an owner that destroys what it owns, a
// name, and removal notification, so that a component referring to another
// (a sink's or converter's Input) hears when that one is being destroyed.
class TComponent {
 public:
  enum class TOperation { opInsert, opRemove };

  explicit TComponent(TComponent* AOwner = nullptr);
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;
  // Notifies every referrer, then destroys the owned components, last
  // created first.
  virtual ~TComponent();

  TComponent* Owner() const { return FOwner; }
  const std::string& Name() const { return FName; }
  void SetName(std::string Value) { FName = std::move(Value); }

  // Asks for a Notification(this-referenced, opRemove) when AComponent is
  // destroyed (both directions are registered, as the reference may die on
  // either side).
  void FreeNotification(TComponent* AComponent);
  void RemoveFreeNotification(TComponent* AComponent);

 protected:
  // Called on every component registered with FreeNotification when
  // AComponent is being destroyed.
  virtual void Notification(TComponent* AComponent, TOperation Operation) {}

  // Sends the removal notifications now. Derived destructors whose state a
  // referrer may still touch call this first; later calls do nothing.
  void NotifyRemoval();

 private:
  void InsertComponent(TComponent* AComponent);
  void RemoveComponent(TComponent* AComponent);

  TComponent* FOwner;
  std::string FName;
  std::vector<TComponent*> FComponents;
  std::vector<TComponent*> FFreeNotifies;
  bool FDestroying = false;
};

// The three event types of a sink: procedure(Sender) of object.
using TNotifyEvent = std::function<void(TComponent* Sender)>;
using TOutputDoneEvent = TNotifyEvent;
using TOutputProgressEvent = TNotifyEvent;
using TThreadExceptionEvent = TNotifyEvent;
