#include "dataaccess/kvt_event.h"

#include <exception>

#include "platform/rtl/exceptions.h"

ComPtr<IKVTServer> HostServer;

TKVTEvent::TKVTEvent(std::string event_name, Handler handler)
    : event_name_(std::move(event_name)), on_event_(std::move(handler)) {}

TKVTEvent::TKVTEvent(std::string event_name, Proc proc)
    : event_name_(std::move(event_name)), event_proc_(proc) {}

void TKVTEvent::AfterConstruction() {
  // The host's Subscribe takes the reference that keeps this object alive once its
  // creator lets go. Without a host nobody takes one, and the creator's release frees it.
  ComPtr<IKVTServer> host = HostServer;
  if (host) host->Subscribe(WideString::FromUtf8(event_name_), this);
}

HRESULT TKVTEvent::Notify(IUnknown* param) {
  if (!on_event_ && event_proc_ == nullptr) return S_OK;
  // The host may drop its last reference while the handler runs; stay alive until the
  // firing is over.
  ComPtr<IKVTEventSink> self(this);
  param_ = param;
  ComPtr<IKVTEventContext> context;
  try {
    context = param_.TryAs<IKVTEventContext>();
    if (context) context->GetValue(&saved_value_);
    if (on_event_)
      on_event_(this);
    else
      event_proc_(this);
    if (context) context->SetValue(saved_value_);
    param_ = nullptr;
  } catch (...) {
    // The parameter is not kept past a failed firing either: holding a host object after
    // the event is over could keep the host (and through it this subscription) alive.
    param_ = nullptr;
    std::string message = ExceptionMessage(std::current_exception());
    ComPtr<IKVTServer> host = HostServer;  // a handler may have emptied it
    if (host) host.As<IKVTErrorLog>()->LogError(WideString::FromUtf8(message));
  }
  return S_OK;
}

void SubscribeEvent(const std::string& event_name, TKVTEvent::Handler handler) {
  MakeObject<TKVTEvent>(event_name, std::move(handler));
}

void SubscribeEventProc(const std::string& event_name, TKVTEvent::Proc proc) {
  MakeObject<TKVTEvent>(event_name, proc);
}
