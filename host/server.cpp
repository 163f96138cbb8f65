#include "host/server.h"

#include <cstdio>

#include "host/appserver.h"
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
    case REGDB_E_CLASSNOTREG:
      return "REGDB_E_CLASSNOTREG";
    default:
      return "failed";
  }
}

// Answers `iid` from `service` when it is one of the interfaces Is...
template <class... Is, class S>
bool Route(const GUID& iid, const ComPtr<S>& service, void** obj, HRESULT& hr) {
  if (!((iid == Is::iid) || ...)) return false;
  hr = service->QueryInterface(iid, obj);
  return true;
}
}  // namespace

std::string FolderOf(const std::string& path) {
  size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

THostServer::THostServer(const std::string& settings_path)
    : settings_(MakeObject<THostSettings>(settings_path)),
      data_(std::make_shared<DataService>(settings_)),
      db_manager_(MakeObject<TDBManager>(data_)),
      log_(MakeObject<THostErrorLog>(FolderOf(settings_path) + "kvthost.log")),
      connections_(MakeObject<TConnectionRegistry>(log_)),
      tables_(MakeObject<TTableRegistry>(data_, log_)),
      modules_(MakeObject<THostModuleList>()),
      status_(MakeObject<TVersionStatusService>()) {}

THostServer::~THostServer() {
  Trace("server released");
}

HRESULT THostServer::QueryInterface(const GUID& iid, void** obj) {
  HRESULT hr = E_NOINTERFACE;
  if (obj == nullptr) {
    hr = E_POINTER;
  } else if (Route<IKVTConfig, IKVTDatabaseConfig>(iid, settings_, obj, hr) ||
             Route<IDBManager2>(iid, db_manager_, obj, hr) ||
             Route<IKVTConnectionRegistry>(iid, connections_, obj, hr) ||
             Route<IKVTTableRegistry>(iid, tables_, obj, hr) ||
             Route<IKVTErrorLog>(iid, log_, obj, hr) ||
             Route<IModuleRegistrar, IModuleInfoList>(iid, modules_, obj, hr) ||
             Route<IVersionStatusService>(iid, status_, obj, hr)) {
    // answered by a service
  } else {
    hr = Implements::QueryInterface(iid, obj);
  }
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

HRESULT THostServer::CreateServerObject(const GUID& class_id, IUnknown** obj) {
  HRESULT hr = S_OK;
  if (obj == nullptr) {
    hr = E_POINTER;
  } else {
    *obj = nullptr;
    if (class_id == CLSID_KvtHostAppServer) {
      ComPtr<TAppServerObject> server = MakeObject<TAppServerObject>(data_);
      *obj = ComPtr<IUnknown>(static_cast<IAppServer*>(server.Get())).Detach();
    } else {
      hr = REGDB_E_CLASSNOTREG;
    }
  }
  if (Tracing())
    Trace("IKVTServer2.CreateServerObject " + GUIDToString(class_id) + " -> " + ResultName(hr));
  return hr;
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
  connections_->Clear();
  tables_->Clear();
  modules_->Clear();
  status_->Clear();
  data_->CloseDatabases();
}

WideString THostServer::DatabaseParam(const WideString& database, const WideString& key) const {
  return WideString::FromUtf8(settings_->DatabaseParam(database.ToUtf8(), key.ToUtf8()));
}

void SetExportedServer(THostServer* server) {
  g_exported = server;
}

THostServer* ExportedServer() {
  return g_exported;
}
