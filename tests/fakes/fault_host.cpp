#include "tests/fakes/fault_host.h"

#include <map>

#include "hostintf/kvt_TLB.h"
#include "moduleinfo/kvt_ModuleInfoIntf.h"
#include "platform/com/errorinfo.h"
#include "platform/com/guid.h"

EHostFault::~EHostFault() = default;

const char* FaultName(Fault fault) {
  switch (fault) {
    case Fault::kError:
      return "error";
    case Fault::kNotOffered:
      return "not offered";
    case Fault::kEmpty:
      return "empty";
    case Fault::kRaise:
      return "raise";
  }
  return "?";
}

namespace {

// Names of the interfaces the module asks for, for readable traces.
std::string InterfaceName(const GUID& iid) {
  static const std::map<GUID, const char*> names = {
      {IKVTServer::iid, "IKVTServer"},
      {IKVTServer2::iid, "IKVTServer2"},
      {IKVTConfig::iid, "IKVTConfig"},
      {IKVTDatabaseConfig::iid, "IKVTDatabaseConfig"},
      {IKVTConnectionRegistry::iid, "IKVTConnectionRegistry"},
      {IKVTTableRegistry::iid, "IKVTTableRegistry"},
      {IModuleRegistrar::iid, "IModuleRegistrar"},
      {IModuleInfoList::iid, "IModuleInfoList"},
      {IVersionStatusService::iid, "IVersionStatusService"},
      {IKVTErrorLog::iid, "IKVTErrorLog"},
      {IDBManager2::iid, "IDBManager2"},
      {IKVTTableinfo::iid, "IKVTTableinfo"},
      {IKVTEventContext::iid, "IKVTEventContext"},
      {IDispatch::iid, "IDispatch"},
      {IAppServer::iid, "IAppServer"},
      {ISupportErrorInfo::iid, "ISupportErrorInfo"},
  };
  auto it = names.find(iid);
  return it != names.end() ? it->second : GUIDToString(iid);
}

// A counted QueryInterface: answers the fault, or nothing when the call goes on.
std::optional<HRESULT> FailedQuery(FaultPlan& plan, const char* object, const GUID& iid,
                                   void** obj) {
  if (iid == IUnknown::iid) return std::nullopt;  // identity is never refused
  std::optional<Fault> fault =
      plan.Hit(std::string(object) + "QueryInterface " + InterfaceName(iid));
  if (!fault) return std::nullopt;
  if (obj == nullptr) return E_POINTER;
  *obj = nullptr;
  switch (*fault) {
    case Fault::kError:
      return E_FAIL;
    case Fault::kNotOffered:
      return E_NOINTERFACE;
    case Fault::kEmpty:
      return S_OK;
    case Fault::kRaise:
      return E_UNEXPECTED;
  }
  return E_FAIL;
}

}  // namespace

// --- FaultPlan

void FaultPlan::Arm(int n, Fault fault) {
  fail_at_ = n;
  fault_ = fault;
  calls_ = 0;
  fired_ = false;
  failed_call_.clear();
  trail_.clear();
}

void FaultPlan::Disarm() {
  Arm(0, Fault::kError);
}

std::optional<Fault> FaultPlan::Hit(std::string call) {
  ++calls_;
  trail_.push_back(call);
  if (calls_ != fail_at_) return std::nullopt;
  fired_ = true;
  failed_call_ = std::move(call);
  if (on_fire) on_fire();
  return fault_;
}

void FaultPlan::Raise() const {
  throw EHostFault("the host failed in " + failed_call_);
}

// --- FaultyHost

HRESULT FaultyHost::Failed(Fault fault) const {
  switch (fault) {
    case Fault::kError:
      return E_FAIL;
    case Fault::kNotOffered:
      return E_NOTIMPL;
    case Fault::kEmpty:
      return S_OK;
    case Fault::kRaise:
      plan_->Raise();
  }
  return E_FAIL;
}

HRESULT FaultyHost::QueryInterface(const GUID& iid, void** obj) {
  if (auto hr = FailedQuery(*plan_, "", iid, obj)) return *hr;
  return FakeHost::QueryInterface(iid, obj);
}

HRESULT FaultyHost::RegisterService(IUnknown* obj) {
  if (auto f = plan_->Hit("RegisterService")) return Failed(*f);
  return FakeHost::RegisterService(obj);
}

HRESULT FaultyHost::Subscribe(const WideString& name, IKVTEventSink* sink) {
  if (auto f = plan_->Hit("Subscribe " + name.ToUtf8())) return Failed(*f);
  return FakeHost::Subscribe(name, sink);
}

HRESULT FaultyHost::CreateServerObject(const GUID& class_id, IUnknown** obj) {
  if (auto f = plan_->Hit("CreateServerObject")) {
    *obj = nullptr;
    if (*f == Fault::kNotOffered) return REGDB_E_CLASSNOTREG;
    if (*f == Fault::kError)
      SetErrorInfo(
          {IKVTServer2::iid, u"host", u"the host could not create the server object", {}, 0});
    return Failed(*f);
  }
  return FakeHost::CreateServerObject(class_id, obj);
}

WideString FaultyHost::ReadValue(const WideString& path, const WideString& name,
                                 const WideString& default_value) {
  if (auto f = plan_->Hit("ReadValue")) {
    if (*f == Fault::kRaise) plan_->Raise();
    return {};
  }
  return FakeHost::ReadValue(path, name, default_value);
}

HRESULT FaultyHost::WriteValue(const WideString& path, const WideString& name,
                               const WideString& value) {
  if (auto f = plan_->Hit("WriteValue")) return Failed(*f);
  return FakeHost::WriteValue(path, name, value);
}

HRESULT FaultyHost::SetDriver(const WideString& database, const WideString& driver) {
  if (auto f = plan_->Hit("SetDriver")) return Failed(*f);
  return FakeHost::SetDriver(database, driver);
}

HRESULT FaultyHost::SetParam(const WideString& database, const WideString& key,
                             const WideString& value) {
  if (auto f = plan_->Hit("SetParam " + key.ToUtf8())) return Failed(*f);
  return FakeHost::SetParam(database, key, value);
}

HRESULT FaultyHost::AddConnection(IKVTAlias* connection) {
  if (auto f = plan_->Hit("AddConnection")) return Failed(*f);
  return FakeHost::AddConnection(connection);
}

HRESULT FaultyHost::AddTable(const WideString& database, IKVTTableDef* table) {
  if (auto f = plan_->Hit("AddTable")) return Failed(*f);
  return FakeHost::AddTable(database, table);
}

HRESULT FaultyHost::RegisterModule(IModuleInfo* info) {
  if (auto f = plan_->Hit("RegisterModule")) return Failed(*f);
  return FakeHost::RegisterModule(info);
}

HRESULT FaultyHost::Add(IModuleInfo* info) {
  if (auto f = plan_->Hit("ModuleList.Add")) return Failed(*f);
  return FakeHost::Add(info);
}

HRESULT FaultyHost::GetItem(const WideString& name, IVersionStatusItem** item) {
  if (auto f = plan_->Hit("GetItem")) {
    *item = nullptr;
    return Failed(*f);
  }
  return FakeHost::GetItem(name, item);
}

HRESULT FaultyHost::LogError(const WideString& text) {
  if (auto f = plan_->Hit("LogError")) return Failed(*f);
  return FakeHost::LogError(text);
}

// --- FaultyTableinfo

HRESULT FaultyTableinfo::QueryInterface(const GUID& iid, void** obj) {
  if (auto hr = FailedQuery(*plan_, "result set ", iid, obj)) return *hr;
  return FakeOpenSQLResult::QueryInterface(iid, obj);
}

WideString FaultyTableinfo::Answer(const char* call, const WideString& value) {
  if (auto f = plan_->Hit(call)) {
    if (*f == Fault::kRaise) plan_->Raise();
    return {};
  }
  return value;
}

WideString FaultyTableinfo::GetServerGUID() {
  return Answer("GetServerGUID", server_guid);
}
WideString FaultyTableinfo::GetProviderName() {
  return Answer("GetProviderName", provider);
}
WideString FaultyTableinfo::GetTableName() {
  return Answer("GetTableName", table);
}

// --- FaultyDBManager

ComPtr<IKVTTableinfo> FaultyDBManager::OpenSQL(const WideString& database, const WideString& sql,
                                               IKVTParams* params, bool unidirectional, bool flag,
                                               Variant& table_def) {
  calls.push_back({database, sql, params != nullptr, unidirectional, flag, table_def.IsEmpty()});
  if (auto f = plan_->Hit("OpenSQL")) {
    if (*f == Fault::kRaise) plan_->Raise();
    if (*f == Fault::kError) throw EDatabaseError("the database manager refused the statement");
    return nullptr;
  }
  const std::u16string provider = provider_for ? provider_for(sql.ToUtf8()) : std::u16string();
  if (provider.empty()) return nullptr;
  auto answer = MakeObject<FaultyTableinfo>(plan_);
  answer->provider = provider;
  answer->table = provider;
  answer->server_guid = server_guid;
  answer->database = database;
  answer->sql = sql;
  return answer;
}

// --- FaultyAppServer

HRESULT FaultyAppServer::QueryInterface(const GUID& iid, void** obj) {
  if (auto hr = FailedQuery(*plan_, "server object ", iid, obj)) return *hr;
  return FakeAppServer::QueryInterface(iid, obj);
}

namespace {
// What an application server call answers under `fault` (kRaise raises).
HRESULT ServerFailure(FaultPlan& plan, Fault fault, Variant* result) {
  switch (fault) {
    case Fault::kError:
      SetErrorInfo({IAppServer::iid, u"server", u"the application server failed", {}, 0});
      return E_FAIL;
    case Fault::kNotOffered:
      return E_NOTIMPL;
    case Fault::kEmpty:
      if (result) result->Clear();
      return S_OK;
    case Fault::kRaise:
      plan.Raise();
  }
  return E_FAIL;
}
}  // namespace

HRESULT FaultyAppServer::Invoke(DISPID id, const GUID& iid, LCID lcid, uint16_t flags,
                                DISPPARAMS* params, Variant* result, EXCEPINFO* excep,
                                uint32_t* arg_err) {
  if (auto f = plan_->Hit("Invoke " + std::to_string(id))) return ServerFailure(*plan_, *f, result);
  return FakeAppServer::Invoke(id, iid, lcid, flags, params, result, excep, arg_err);
}

HRESULT FaultyAppServer::AS_GetRecords(const WideString& provider, int32_t count, int32_t* recs_out,
                                       int32_t options, const WideString& command_text,
                                       Variant* params, Variant* owner_data, Variant* result) {
  if (auto f = plan_->Hit("AS_GetRecords")) {
    // The empty answer of a provider: its columns without a row.
    if (*f == Fault::kEmpty && result) {
      *result = EncodeDataPacket(GetTable(provider.ToUtf8()).columns, {});
      return S_OK;
    }
    return ServerFailure(*plan_, *f, result);
  }
  return FakeAppServer::AS_GetRecords(provider, count, recs_out, options, command_text, params,
                                      owner_data, result);
}

HRESULT FaultyAppServer::AS_ApplyUpdates(const WideString& provider, const Variant& delta,
                                         int32_t max_errors, int32_t* error_count,
                                         Variant* owner_data, Variant* result) {
  if (auto f = plan_->Hit("AS_ApplyUpdates")) return ServerFailure(*plan_, *f, result);
  return FakeAppServer::AS_ApplyUpdates(provider, delta, max_errors, error_count, owner_data,
                                        result);
}

// --- FaultyEventContext

HRESULT FaultyEventContext::QueryInterface(const GUID& iid, void** obj) {
  if (auto hr = FailedQuery(*plan_, "event parameter ", iid, obj)) return *hr;
  return Implements::QueryInterface(iid, obj);
}

HRESULT FaultyEventContext::GetValue(int32_t* out) {
  if (broken) throw EHostFault("the event parameter failed");
  if (auto f = plan_->Hit("GetValue")) {
    if (*f == Fault::kRaise) plan_->Raise();
    return *f == Fault::kEmpty ? S_OK : E_FAIL;
  }
  *out = value;
  return S_OK;
}

HRESULT FaultyEventContext::SetValue(int32_t v) {
  if (auto f = plan_->Hit("SetValue")) {
    if (*f == Fault::kRaise) plan_->Raise();
    return *f == Fault::kEmpty ? S_OK : E_FAIL;
  }
  set_values.push_back(v);
  return S_OK;
}

// --- FaultWorld

FaultWorld::FaultWorld() {
  server->AddTable("version", {{"VERSION", ftString, 30}}, {{Variant::Text("2022.5.1.3")}});
  server->AddTable("yes", {{"ex", ftInteger, 0}}, {{Variant(int32_t{1})}});
  server->AddTable("no", {{"ex", ftInteger, 0}}, {{Variant(int32_t{0})}});
  host->server_objects[host->ServerGUID] = [s = server] {
    return ComPtr<IUnknown>(static_cast<IUnknown*>(static_cast<IAppServer*>(s.Get())));
  };
  manager->server_guid = GUIDToWide(host->ServerGUID);
  manager->provider_for = [this](const std::string& sql) -> std::u16string {
    if (sql.find("vodar_version") != std::string::npos) return u"version";
    if (sql.find("FROM vodar_g33") != std::string::npos) return register_match ? u"yes" : u"no";
    if (sql.find("FROM omit1532") != std::string::npos) return omit_match ? u"yes" : u"no";
    return {};
  };
  host->AddService(IDBManager2::iid, manager);
}

FaultWorld::~FaultWorld() {
  host->ReleaseAll();
  host->server_objects.clear();
  manager->provider_for = nullptr;
}
