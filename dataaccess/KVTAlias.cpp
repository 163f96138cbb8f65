#include "dataaccess/KVTAlias.h"

#include "platform/com/guid.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/format.h"

TKVTAlias::TKVTAlias(Component* owner) : NonCounting(owner) {
  load_from_file_ = true;
}

TKVTAlias::~TKVTAlias() {
  host_server2_.Reset();
  db_manager_.Reset();
  // The connection bases disconnect next, releasing the server object.
}

void TKVTAlias::SetDriverType(std::string_view value) {
  driver_type_ = ToCodePage1251(value);
}

void TKVTAlias::SetDatabasename(std::string_view value) {
  databasename_ = ToCodePage1251(value);
}

void TKVTAlias::SetHostServer(IKVTServer2* server) {
  if (server == nullptr) {
    db_manager_.Reset();
    host_server2_.Reset();
    return;
  }
  host_server2_ = server;
  db_manager_.Reset();
  db_manager_ = host_server2_.TryAs<IDBManager2>();
}

ComPtr<IKVTDatabaseInfo> TKVTAlias::GetDatabaseInfo() {
  return AppServer().ToDispatch().TryAs<IKVTDatabaseInfo>();
}

void TKVTAlias::DoConnect() {
  if (!(load_from_file_ && host_server2_)) {
    TKVTDCOMConnection::DoConnect();
    return;
  }
  std::string text = ServerGUID();
  GUID id;
  if (FAILED(CLSIDFromString(std::string_view(text), &id)))
    throw EConvertError(Format("'%s' is not a valid GUID value", {text}));
  ComPtr<IUnknown> obj;
  ClearErrorInfo();  // a failure below reports only what the host says about it
  OleCheck(host_server2_->CreateServerObject(id, obj.Put()));
  // A host that answers success without an object would leave the alias half connected
  // (an empty server that reads as disconnected): refuse it here.
  if (!obj)
    throw EDatabaseError(
        Format("Cannot connect, the host created no server object for %s", {text}));
  SetAppServer(Variant(obj.As<IDispatch>()));
}

// --- IKVTAlias ---------------------------------------------------------------------

WideString TKVTAlias::GetDatabasename() {
  return WideString::FromUtf8(databasename_);
}

HRESULT TKVTAlias::SetDatabasename(const WideString& name) {
  databasename_ = name.ToAnsi();
  return S_OK;
}

WideString TKVTAlias::GetParamText() {
  return {};
}

HRESULT TKVTAlias::SetParamText(const WideString&) {
  return S_OK;
}

WideString TKVTAlias::GetServerGUID() {
  return WideString::FromUtf8(ServerGUID());
}

HRESULT TKVTAlias::SetServerGUID(const WideString& guid) {
  TKVTDCOMConnection::SetServerGUID(guid.ToAnsi());
  return S_OK;
}

WideString TKVTAlias::GetDriverType() {
  return WideString::FromUtf8(driver_type_);
}
