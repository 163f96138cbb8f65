#include "moduleinfo/vodar_moduleinfo.h"

#include <memory>

#include "dataaccess/cdsTable.h"
#include "dataaccess/kvt_event.h"
#include "moduleinfo/kvt_ModuleList.h"
#include "platform/com/variant.h"
#include "platform/rtl/format.h"

namespace {
// The register's database at the host (shared with the register data module).
constexpr char kRegisterDatabase[] = "ТРОИС";
constexpr char16_t kVersionQuery[] = u"select version from vodar_version";
constexpr char16_t kFallbackVersion[] = u"1.0.0.0";
constexpr char16_t kNoVersion[] = u"Версия не установлена";
}  // namespace

TVodarInfo::~TVodarInfo() = default;

void TVodarInfo::AfterConstruction() {
  RegisterModuleInfo(this);
  TBASEInfo::AfterConstruction();
}

WideString TVodarInfo::GetName() {
  return VodarModuleName();
}

WideString TVodarInfo::GetCaption() {
  return kCaption;
}

WideString TVodarInfo::GetVersion() {
  return VodarDataVersion();
}

HRESULT TVodarInfo::PublishVersionStatus(int32_t param) {
  return PublishVersionText(param, [] { return WideString(kStatusCaption); });
}

WideString VodarModuleName() {
  return WideString::FromUtf8(Format("%s%s", {TVodarInfo::kModuleName, GetTestSuffix()}));
}

WideString VodarDataVersion() {
  return ReadDatabaseVersion(kRegisterDatabase);
}

bool CreateVodarInfo() {
  MakeObject<TVodarInfo>();
  return true;
}

WideString ReadDatabaseVersion(const std::string& database_name) {
  ComPtr<IKVTServer> host = HostServer;
  if (!host) return kFallbackVersion;
  ComPtr<IDBManager2> manager;
  if (host.QueryInterface(manager) != S_OK || !manager) return kFallbackVersion;
  auto server = host.TryAs<IKVTServer2>();
  Variant fields;
  ComPtr<IKVTTableinfo> info = manager->OpenSQL(WideString::FromUtf8(database_name), kVersionQuery,
                                                nullptr, false, false, fields);
  if (!info) return kFallbackVersion;
  std::string version = ReadFirstValueOfResult(info, server);
  if (version.empty()) return kNoVersion;
  return WideString::FromUtf8(version);
}

std::string ReadFirstValueOfResult(const ComPtr<IKVTTableinfo>& info,
                                   const ComPtr<IKVTServer2>& server) {
  // The table owns the private connection it makes; freeing it (also on error) frees that.
  auto table = std::make_unique<TcdsTable>(info.Get(), nullptr, server.Get(), nullptr);
  table->Open();
  if (table->IsEmpty() || table->FieldCount() == 0) return {};
  return table->Fields(0).AsString();
}
