#include "moduleinfo/kvt_ModuleInfoImpl.h"

#include "dataaccess/kvt_event.h"
#include "dataaccess/kvt_strutils.h"
#include "moduleinfo/kvt_ModuleList.h"
#include "platform/rtl/format.h"
#include "platform/rtl/stringlist.h"

TModuleInfo::~TModuleInfo() = default;

void TModuleInfo::AfterConstruction() {
  ComPtr<IKVTServer> host = HostServer;
  if (!host) return;
  if (auto list = host.TryAs<IModuleInfoList>()) list->Add(this);
  // Taken after the list has the object: GetName() must not depend on the configuration.
  config_ = host.TryAs<IKVTConfig>();
}

bool TModuleInfo::GetOptionA() {
  return true;
}
void TModuleInfo::SetOptionA(bool) {}
bool TModuleInfo::GetOptionB() {
  return true;
}
void TModuleInfo::SetOptionB(bool) {}

WideString TModuleInfo::GetName() {
  return {};
}
WideString TModuleInfo::GetCaption() {
  return {};
}
WideString TModuleInfo::GetVersion() {
  return {};
}
bool TModuleInfo::GetUpdateDefault() {
  return true;
}
HRESULT TModuleInfo::PublishVersionStatus(int32_t) {
  return E_NOTIMPL;
}

WideString TModuleInfo::FormatVersion(const WideString& version) {
  return WideString::FromUtf8(FormatVersionPair(ParseVersion(version.ToUtf8())));
}

bool TModuleInfo::GetMark() {
  return mark_.load(std::memory_order_relaxed);
}
void TModuleInfo::SetMark(bool value) {
  mark_.store(value, std::memory_order_relaxed);
}

bool TModuleInfo::GetUpdate() {
  if (!config_) return false;
  WideString fallback = GetUpdateDefault() ? kYes : kNo;
  return config_->ReadValue(kUpdateKey, GetName(), fallback) != WideString(kNo);
}

void TModuleInfo::SetUpdate(bool value) {
  if (!config_) return;
  config_->WriteValue(kUpdateKey, GetName(), value ? kYes : kNo);
}

TBASEInfo::~TBASEInfo() = default;

HRESULT TBASEInfo::PublishVersionStatus(int32_t param) {
  return PublishVersionText(param, [this] { return GetCaption(); });
}

HRESULT TBASEInfo::PublishVersionText(int32_t param, const std::function<WideString()>& caption) {
  auto service = HostServer.TryAs<IVersionStatusService>();
  if (!service) return S_OK;
  ComPtr<IVersionStatusItem> item;
  if (service->GetItem(GetName(), item.Put()) != S_OK) return S_OK;
  // A host that answers S_OK without an item has nowhere to show the text.
  if (!item) return S_OK;
  std::string head = caption().ToUtf8();
  std::string version = ShortVersion(GetVersion()).ToUtf8();
  item->SetText(WideString::FromUtf8(Format("%s: %s", {head, version})), param);
  return S_OK;
}

bool RegisterModuleInfo(IModuleInfo* info) {
  auto registrar = HostServer.TryAs<IModuleRegistrar>();
  if (!registrar) return false;
  registrar->RegisterModule(info);
  return true;
}

WideString ShortVersion(const WideString& text) {
  StringList parts;
  SplitString(text.ToUtf8(), '.', parts);
  if (parts.Count() != 4) return text;
  return WideString::FromUtf8(Format("%s.%s", {parts[2], parts[3]}));
}
