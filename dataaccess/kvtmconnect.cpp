#include "dataaccess/kvtmconnect.h"

#include "platform/com/activation.h"
#include "platform/com/comcat.h"
#include "platform/com/dispinvoke.h"
#include "platform/com/guid.h"
#include "platform/com/registry.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"

namespace {
// A failed system call: the platform's COM error with the system's text for the code.
void SysCheck(HRESULT hr) {
  if (FAILED(hr)) throw EOleSysError(hr);
}

// A ProgID from the system's task memory as component text; the memory is freed.
std::string TakeProgID(char16_t* prog_id) {
  std::string text = WideToAnsi(prog_id);
  CoTaskMemFree(prog_id);
  return text;
}

[[noreturn]] void RaiseNoServer(const std::string& component_name) {
  throw EDatabaseError(
      Format("Cannot connect, %s must contain a valid ServerName or ServerGUID", {component_name}));
}

// Runs one adapter method; an error becomes a result code with error information.
template <class F>
HRESULT SafeCall(F&& body) {
  try {
    body();
    return S_OK;
  } catch (...) {
    return HandleSafeCallException(std::current_exception(), IAppServer::iid, WideString(),
                                   WideString());
  }
}

// An optional out-argument: the caller's variable, or a local one when it passed none.
Variant RefTo(Variant* target, Variant& local) {
  return Variant::ByRef(target ? target : &local);
}

class RegKeyCloser {
 public:
  explicit RegKeyCloser(HKEY key) : key_(key) {}
  ~RegKeyCloser() { RegCloseKey(key_); }
  RegKeyCloser(const RegKeyCloser&) = delete;
  RegKeyCloser& operator=(const RegKeyCloser&) = delete;

 private:
  HKEY key_;
};

std::string InvalidRegistration(std::string_view what) {
  return Format("<Invalid Registration: %s>", {what});
}
}  // namespace

// --- TKVTDispatchAppServer ---------------------------------------------------------

HRESULT TKVTDispatchAppServer::InterfaceSupportsErrorInfo(const GUID& iid) {
  return iid == IAppServer::iid ? S_OK : S_FALSE;
}

HRESULT TKVTDispatchAppServer::GetTypeInfoCount(uint32_t* count) {
  if (!server_) return E_POINTER;
  return server_->GetTypeInfoCount(count);
}

HRESULT TKVTDispatchAppServer::GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) {
  if (!server_) return E_POINTER;
  return server_->GetTypeInfo(index, lcid, info);
}

HRESULT TKVTDispatchAppServer::GetIDsOfNames(const GUID& iid, const WideString* names,
                                             uint32_t count, LCID lcid, DISPID* ids) {
  if (!server_) return E_POINTER;
  return server_->GetIDsOfNames(iid, names, count, lcid, ids);
}

HRESULT TKVTDispatchAppServer::Invoke(DISPID id, const GUID& iid, LCID lcid, uint16_t flags,
                                      DISPPARAMS* params, Variant* result, EXCEPINFO* excep,
                                      uint32_t* arg_err) {
  if (!server_) return E_POINTER;
  return server_->Invoke(id, iid, lcid, flags, params, result, excep, arg_err);
}

HRESULT TKVTDispatchAppServer::AS_ApplyUpdates(const WideString& provider, const Variant& delta,
                                               int32_t max_errors, int32_t* error_count,
                                               Variant* owner_data, Variant* result) {
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] {
    Variant count(error_count ? *error_count : 0);
    Variant local_owner;
    *result = DispatchMethod(server_.Get(), kDispApplyUpdates,
                             {Variant(provider), delta, Variant(max_errors), Variant::ByRef(&count),
                              RefTo(owner_data, local_owner)});
    if (error_count) *error_count = count.ToInt32();
  });
}

HRESULT TKVTDispatchAppServer::AS_GetRecords(const WideString& provider, int32_t count,
                                             int32_t* recs_out, int32_t options,
                                             const WideString& command_text, Variant* params,
                                             Variant* owner_data, Variant* result) {
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] {
    Variant recs(recs_out ? *recs_out : 0);
    Variant local_params, local_owner;
    *result = DispatchMethod(
        server_.Get(), kDispGetRecords,
        {Variant(provider), Variant(count), Variant::ByRef(&recs), Variant(options),
         Variant(command_text), RefTo(params, local_params), RefTo(owner_data, local_owner)});
    if (recs_out) *recs_out = recs.ToInt32();
  });
}

HRESULT TKVTDispatchAppServer::AS_DataRequest(const WideString& provider, const Variant& data,
                                              Variant* result) {
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] {
    *result = DispatchMethod(server_.Get(), kDispDataRequest, {Variant(provider), data});
  });
}

HRESULT TKVTDispatchAppServer::AS_GetProviderNames(Variant* result) {
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] { *result = DispatchMethod(server_.Get(), kDispGetProviderNames, {}); });
}

HRESULT TKVTDispatchAppServer::AS_GetParams(const WideString& provider, Variant* owner_data,
                                            Variant* result) {
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] {
    Variant local_owner;
    *result = DispatchMethod(server_.Get(), kDispGetParams,
                             {Variant(provider), RefTo(owner_data, local_owner)});
  });
}

HRESULT TKVTDispatchAppServer::AS_RowRequest(const WideString& provider, const Variant& row,
                                             int32_t request_type, Variant* owner_data,
                                             Variant* result) {
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] {
    Variant local_owner;
    *result = DispatchMethod(
        server_.Get(), kDispRowRequest,
        {Variant(provider), row, Variant(request_type), RefTo(owner_data, local_owner)});
  });
}

HRESULT TKVTDispatchAppServer::AS_Execute(const WideString& provider,
                                          const WideString& command_text, Variant* params,
                                          Variant* owner_data) {
  return SafeCall([&] {
    Variant local_params, local_owner;
    DispatchMethod(server_.Get(), kDispExecute,
                   {Variant(provider), Variant(command_text), RefTo(params, local_params),
                    RefTo(owner_data, local_owner)});
  });
}

// --- TKVTDispatchConnection --------------------------------------------------------

TKVTDispatchConnection::TKVTDispatchConnection(Component* owner) : CustomRemoteServer(owner) {
  SetLoginPrompt(false);
}

TKVTDispatchConnection::~TKVTDispatchConnection() {
  // The base destructor cannot reach this class's overrides: disconnect while whole.
  try {
    SetConnected(false);
  } catch (...) {
    // A disconnect handler's error cannot leave a destructor.
  }
}

std::string TKVTDispatchConnection::ServerGUID() const {
  if (server_guid_.Data1 == 0 && server_guid_.Data2 == 0 && server_guid_.Data3 == 0) return {};
  return GUIDToString(server_guid_);
}

void TKVTDispatchConnection::SetServerGUID(std::string_view text) {
  if (!IsLoading()) SetConnected(false);
  if (text.empty()) {
    server_guid_ = GUID_NULL;
    return;
  }
  GUID id;
  SysCheck(CLSIDFromString(text, &id));
  server_guid_ = id;
  char16_t* prog_id = nullptr;
  if (SUCCEEDED(ProgIDFromCLSID(id, &prog_id))) server_name_ = TakeProgID(prog_id);
}

void TKVTDispatchConnection::SetServerName(std::string_view name) {
  std::string value = ToCodePage1251(name);
  if (value == server_name_) return;
  if (!IsLoading()) {
    SetConnected(false);
    GUID id;
    if (SUCCEEDED(CLSIDFromProgID(Utf8ToUtf16(value).c_str(), &id)))
      server_guid_ = id;
    else
      server_guid_ = GUID_NULL;
  }
  server_name_ = std::move(value);
}

GUID TKVTDispatchConnection::GetServerClassID() {
  if (!server_guid_.IsNull()) return server_guid_;
  if (server_name_.empty()) RaiseNoServer(Name());
  GUID id;
  SysCheck(CLSIDFromProgID(Utf8ToUtf16(server_name_).c_str(), &id));
  return id;
}

void TKVTDispatchConnection::SetConnected(bool value) {
  // While the stored form is read the base only remembers the connect; the prompt comes
  // with the connect itself, when loading ends.
  bool login = LoginPrompt() && value && !GetConnected() && !IsDesigning() && !IsReading();
  std::string user_name, password;
  if (login) {
    if (OnGetUsername) OnGetUsername(*this, user_name);
    if (const RemoteLoginHook& dialog = GetRemoteLoginHook(); dialog)
      if (!dialog(user_name, password)) throw EAbort();
  }
  CustomRemoteServer::SetConnected(value);
  if (login && GetConnected() && OnLogin) OnLogin(*this, user_name, password);
}

void TKVTDispatchConnection::Notification(Component* component, Operation operation) {
  CustomRemoteServer::Notification(component, operation);
  if (operation == Operation::Remove && component != nullptr && component == broker_)
    broker_ = nullptr;
}

ComPtr<IAppServer> TKVTDispatchConnection::GetServer() {
  SetConnected(true);
  ComPtr<IDispatch> disp = AppServer().ToDispatch();
  if (!disp) return {};
  if (ComPtr<IAppServer> direct = disp.TryAs<IAppServer>()) return direct;
  return ComPtr<IAppServer>(MakeObject<TKVTDispatchAppServer>(disp));
}

Variant TKVTDispatchConnection::GetServerList() {
  Variant result = Variant::Null();
  StringList list;
  ListRegisteredServers(list);
  if (list.Count() > 0) {
    std::vector<Variant> items;
    items.reserve(static_cast<size_t>(list.Count()));
    for (const std::string& line : list.Lines()) items.emplace_back(WideString::FromUtf8(line));
    result = Variant::Array(std::move(items), 0, varOleStr);
  }
  return result;
}

// --- TKVTCOMConnection -------------------------------------------------------------

void TKVTCOMConnection::SetConnected(bool value) {
  if (!IsReading() && value && !GetConnected())
    if (GetServerClassID().IsNull()) RaiseNoServer(Name());
  TKVTDispatchConnection::SetConnected(value);
}

void TKVTCOMConnection::DoConnect() {
  ComPtr<IUnknown> obj = CreateComObject(GetServerClassID());
  SetAppServer(Variant(obj.As<IDispatch>()));  // a refusal releases the object with `obj`
}

// --- TKVTDCOMConnection ------------------------------------------------------------

void TKVTDCOMConnection::SetComputerName(std::string_view name) {
  std::string value = ToCodePage1251(name);
  if (value == computer_name_) return;
  SetConnected(false);
  computer_name_ = std::move(value);
}

void TKVTDCOMConnection::SetObjectBroker(TKVTCustomObjectBroker* broker) {
  if (broker == broker_) return;
  if (broker_) RemoveFreeNotification(broker_);
  if (broker) FreeNotification(broker);
  broker_ = broker;
}

void TKVTDCOMConnection::DoConnect() {
  if (broker_) {
    // Every failed attempt is reported and the broker names the next computer; only an
    // error of the broker itself (or of choosing the class) ends the loop without a server.
    do {
      if (computer_name_.empty())
        computer_name_ = ToCodePage1251(broker_->GetComputerForClass(GetServerClassID()));
      try {
        ComPtr<IUnknown> obj =
            CreateRemoteComObject(WideString::FromUtf8(computer_name_), GetServerClassID());
        SetAppServer(Variant(obj.As<IDispatch>()));
        broker_->ReportConnectResult(computer_name_, true);
      } catch (...) {
        broker_->ReportConnectResult(computer_name_, false);
        computer_name_.clear();
      }
    } while (!GetConnected());
  } else if (!computer_name_.empty()) {
    ComPtr<IUnknown> obj =
        CreateRemoteComObject(WideString::FromUtf8(computer_name_), GetServerClassID());
    SetAppServer(Variant(obj.As<IDispatch>()));
  } else {
    TKVTCOMConnection::DoConnect();
  }
}

// --- Registered application servers ------------------------------------------------

void ListRegisteredServers(StringList& list) {
  list.Clear();
  ComPtr<ICatInformation> categories;
  if (SUCCEEDED(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                                 ICatInformation::iid, categories.PutVoid()))) {
    const CATID wanted = CATID_KVTAppServers;
    ComPtr<IEnumGUID> classes;
    SysCheck(categories->EnumClassesOfCategories(1, &wanted, 0, nullptr, classes.Put()));
    GUID clsid;
    ULONG fetched = 0;
    while (classes && classes->Next(1, &clsid, &fetched) == S_OK) {
      char16_t* prog_id = nullptr;
      if (SUCCEEDED(ProgIDFromCLSID(clsid, &prog_id)))
        list.Add(TakeProgID(prog_id));
      else
        list.Add(InvalidRegistration(GUIDToString(clsid)));
    }
    return;
  }
  // No category manager: look for the category key of every registered class.
  HKEY key = nullptr;
  if (RegOpenKey(HKEY_CLASSES_ROOT, "CLSID", &key) != ERROR_SUCCESS) return;
  RegKeyCloser closer(key);
  const std::string category = GUIDToString(CATID_KVTAppServers);
  char name[256];
  for (DWORD index = 0; RegEnumKey(key, index, name, sizeof name) == ERROR_SUCCESS; ++index) {
    std::string sub = Format("%s\\Implemented Categories\\%s", {name, category});
    LONG size = 0;
    if (RegQueryValue(key, sub.c_str(), nullptr, &size) != ERROR_SUCCESS) continue;
    GUID clsid;
    char16_t* prog_id = nullptr;
    if (SUCCEEDED(CLSIDFromString(std::string_view(name), &clsid)) &&
        SUCCEEDED(ProgIDFromCLSID(clsid, &prog_id)))
      list.Add(TakeProgID(prog_id));
    else
      list.Add(InvalidRegistration(name));
  }
}
