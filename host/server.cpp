#include "host/server.h"

#include <cstdio>

#include "host/trace.h"
#include "platform/com/guid.h"
#include "platform/rtl/exceptions.h"

namespace {
THostServer* g_exported = nullptr;

const char* ResultName(HRESULT hr) {
  switch (hr) {
    case S_OK:
      return "S_OK";
    case E_NOINTERFACE:
      return "E_NOINTERFACE";
    case E_POINTER:
      return "E_POINTER";
    default:
      return "failed";
  }
}
}  // namespace

THostServer::THostServer() = default;

THostServer::~THostServer() {
  Trace("server released");
}

HRESULT THostServer::QueryInterface(const GUID& iid, void** obj) {
  HRESULT hr = Implements::QueryInterface(iid, obj);
  if (Tracing()) Trace("QueryInterface " + GUIDToString(iid) + " -> " + ResultName(hr));
  return hr;
}

HRESULT THostServer::RegisterService(IUnknown* obj) {
  Trace("RegisterService");
  if (obj == nullptr) return E_POINTER;
  services_.emplace_back(obj);
  return S_OK;
}

HRESULT THostServer::Subscribe(const WideString& name, IKVTEventSink* sink) {
  if (Tracing()) Trace("Subscribe " + name.ToUtf8());
  if (sink == nullptr) return E_POINTER;
  sinks_.emplace(name.str(), ComPtr<IKVTEventSink>(sink));
  return S_OK;
}

void THostServer::RaiseEvent(const std::u16string& name, IUnknown* param) {
  std::string text = WideString(name).ToUtf8();
  Trace("Raise " + text);
  // A sink may subscribe or stop while it is notified: work on a copy.
  std::vector<ComPtr<IKVTEventSink>> targets;
  auto range = sinks_.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) targets.push_back(it->second);
  for (auto& sink : targets) {
    try {
      sink->Notify(param);
    } catch (...) {
      std::fprintf(stderr, "kvthost: event %s: %s\n", text.c_str(),
                   ExceptionMessage(std::current_exception()).c_str());
    }
  }
}

void THostServer::Stop() {
  RaiseEvent(u"STOPSERVER");
  // Released outside the containers, so that a release that calls back finds them settled.
  std::vector<ComPtr<IUnknown>> services;
  services.swap(services_);
  std::multimap<std::u16string, ComPtr<IKVTEventSink>> sinks;
  sinks.swap(sinks_);
}

WideString THostServer::DatabaseParam(const WideString&, const WideString&) const {
  return {};
}

void SetExportedServer(THostServer* server) {
  g_exported = server;
}

THostServer* ExportedServer() {
  return g_exported;
}

// The host's one export: what a module asks for its host server.
extern "C" __attribute__((visibility("default"))) HRESULT Server_QueryInterface(const GUID& iid,
                                                                                void** obj) {
  if (Tracing()) Trace(std::string("Server_QueryInterface ") + GUIDToString(iid));
  if (obj == nullptr) return E_POINTER;
  *obj = nullptr;
  if (g_exported == nullptr) return E_NOINTERFACE;
  return g_exported->QueryInterface(iid, obj);
}
