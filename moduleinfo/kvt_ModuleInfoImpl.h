// The module-information objects through which a module describes itself to the host.
#pragma once

#include <atomic>
#include <functional>

#include "hostintf/kvt_serverintf.h"
#include "moduleinfo/kvt_ModuleInfoIntf.h"
#include "platform/com/object.h"

// The base of every module-information object: answers the six module-information
// interfaces with neutral answers that descendants override. When construction ends it
// adds itself to the host's IModuleInfoList and takes the host's IKVTConfig, which keeps
// the update switch. Nothing in the module holds it; the host's references keep it alive.
class TModuleInfo : public Implements<IModuleVersionFormat, IModuleMark, IModuleUpdateSetting,
                                      IModuleOptionB, IModuleOptionA, IModuleInfo> {
 public:
  TModuleInfo() = default;

  // --- IModuleOptionA / IModuleOptionB: always True; the setters ignore their argument.
  bool GetOptionA() override;
  void SetOptionA(bool value) override;
  bool GetOptionB() override;
  void SetOptionB(bool value) override;
  // --- IModuleInfo
  WideString GetName() override;                         // empty
  WideString GetCaption() override;                      // empty
  WideString GetVersion() override;                      // empty
  bool GetUpdateDefault() override;                      // True
  HRESULT PublishVersionStatus(int32_t param) override;  // E_NOTIMPL
  // --- IModuleVersionFormat: the third and fourth part of a dotted version, "%.2d.%.2d".
  WideString FormatVersion(const WideString& version) override;
  // --- IModuleMark: a flag the host sets and reads back; False at creation.
  bool GetMark() override;
  void SetMark(bool value) override;
  // --- IModuleUpdateSetting: the value GetName() under kUpdateKey in the host
  // configuration, "Да" or "Нет". Without a configuration GetUpdate answers False and
  // SetUpdate does nothing.
  bool GetUpdate() override;
  void SetUpdate(bool value) override;

  static constexpr char16_t kUpdateKey[] = u"Настройки\\Обновление\\Обновлять";
  static constexpr char16_t kYes[] = u"Да";
  static constexpr char16_t kNo[] = u"Нет";

  // The host configuration taken when construction ended (empty without one).
  const ComPtr<IKVTConfig>& Config() const { return config_; }

 protected:
  ~TModuleInfo() override;
  // Adds the object to the host's IModuleInfoList, then takes IKVTConfig. A descendant
  // that overrides it runs its own steps first and then calls this one.
  void AfterConstruction() override;

 private:
  ComPtr<IKVTConfig> config_;  // written only while construction ends
  std::atomic<bool> mark_{false};
};

// A module-information object that publishes "<caption>: <short version>" to the host's
// version status service.
class TBASEInfo : public TModuleInfo {
 public:
  TBASEInfo() = default;

  HRESULT PublishVersionStatus(int32_t param) override;

 protected:
  ~TBASEInfo() override;
  // The publishing steps: asks the host's IVersionStatusService for the item named
  // GetName() and, when it answers S_OK with an item, sets the text
  // "<caption()>: <ShortVersion(GetVersion())>" with `param` (the caption is asked for
  // only then, and before the version). Answers S_OK in every case.
  HRESULT PublishVersionText(int32_t param, const std::function<WideString()>& caption);
};

// Hands `info` to the host's IModuleRegistrar; False (and no call) when HostServer is
// empty or does not offer it. The registrar's answer is not examined.
bool RegisterModuleInfo(IModuleInfo* info);

// The third and fourth of exactly four dot-separated parts of `text`, as "%s.%s" (parts
// trimmed of blanks; a dot at the end adds no part). Any other text comes back unchanged.
//   "2023.1.15.7" -> "15.7"    "1.2.3.4." -> "3.4"    "1.2.3" -> "1.2.3"
WideString ShortVersion(const WideString& text);
