// The module-wide host server reference, and subscriptions to host events.
#pragma once

#include <functional>
#include <string>
#include <type_traits>

#include "hostintf/kvt_serverintf.h"
#include "platform/com/comptr.h"
#include "platform/com/object.h"

// The host's server: empty at load, set at start-up, emptied on "STOPSERVER", released
// last at unload. Every user tests it first and skips host work when it is empty.
extern ComPtr<IKVTServer> HostServer;

// A subscription of a module handler to a named host event. The subscriber creates it and
// forgets it: the object subscribes itself when construction ends (if HostServer is set),
// and the host's reference keeps it alive. Created while HostServer is empty it is not
// registered anywhere and dies with its creator's reference.
//
// When the host fires the event (Notify), the handler runs with the event object as its
// sender and Param() holding the firing's parameter. A value the parameter carries through
// IKVTEventContext is read before the handler and written back after it. A handler error
// goes to the host's IKVTErrorLog and no further.
class TKVTEvent : public Implements<IKVTEventSink> {
 public:
  using Handler = std::function<void(TKVTEvent* sender)>;  // method form
  using Proc = void (*)(TKVTEvent* sender);                // plain procedure

  TKVTEvent(std::string event_name, Handler handler);
  TKVTEvent(std::string event_name, Proc proc);
  // Any other callable (a lambda, also one without captures) is a method-form handler.
  template <class F>
  requires(std::is_invocable_v<F&, TKVTEvent*> && !std::is_same_v<std::decay_t<F>, Proc> &&
           !std::is_same_v<std::decay_t<F>, Handler>) TKVTEvent(std::string event_name, F&& handler)
      : TKVTEvent(std::move(event_name), Handler(std::forward<F>(handler))) {}

  const std::string& EventName() const { return event_name_; }
  // The parameter of the firing in progress; empty outside a firing.
  const ComPtr<IUnknown>& Param() const { return param_; }

  // --- IKVTEventSink
  // Runs the handler; answers 0. A handler error is logged through HostServer's
  // IKVTErrorLog (EIntfCastError leaves here when the host server lacks it; with
  // HostServer empty the error is dropped).
  HRESULT Notify(IUnknown* param) override;

 protected:
  void AfterConstruction() override;

 private:
  std::string event_name_;
  Handler on_event_;
  Proc event_proc_ = nullptr;
  ComPtr<IUnknown> param_;
  int32_t saved_value_ = 0;
};

// Creates a subscription of `handler` (or `proc`) to the host event `event_name` and
// forgets it. Without a host server nothing is registered and nothing stays alive.
void SubscribeEvent(const std::string& event_name, TKVTEvent::Handler handler);
void SubscribeEventProc(const std::string& event_name, TKVTEvent::Proc proc);
