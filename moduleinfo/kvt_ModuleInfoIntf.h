// The interfaces through which a module describes itself to the host's module list.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/widestring.h"

struct IModuleVersionFormat : IUnknown {
  static constexpr GUID iid = "{E4C7EAA1-C87C-4124-9DAC-FCACFABE66ED}"_guid;
  virtual WideString FormatVersion(const WideString& version) = 0;

 protected:
  ~IModuleVersionFormat() = default;
};

struct IModuleMark : IUnknown {
  static constexpr GUID iid = "{EE23DBC4-3879-4C05-95F8-08EA9C85D3C1}"_guid;
  virtual bool GetMark() = 0;
  virtual void SetMark(bool value) = 0;

 protected:
  ~IModuleMark() = default;
};

struct IModuleUpdateSetting : IUnknown {
  static constexpr GUID iid = "{A3017582-01F4-4F29-8657-84218916030A}"_guid;
  virtual bool GetUpdate() = 0;
  virtual void SetUpdate(bool value) = 0;

 protected:
  ~IModuleUpdateSetting() = default;
};

struct IModuleOptionB : IUnknown {
  static constexpr GUID iid = "{24D257D2-3A19-4C00-A618-5CF0112B39D7}"_guid;
  virtual bool GetOptionB() = 0;
  virtual void SetOptionB(bool value) = 0;

 protected:
  ~IModuleOptionB() = default;
};

struct IModuleOptionA : IUnknown {
  static constexpr GUID iid = "{87A474DA-D9FD-476C-86BD-B2491DBAFFF1}"_guid;
  virtual bool GetOptionA() = 0;
  virtual void SetOptionA(bool value) = 0;

 protected:
  ~IModuleOptionA() = default;
};

struct IModuleInfo : IUnknown {
  static constexpr GUID iid = "{154A0D10-8597-4C2F-8F36-F9EFD6A03F71}"_guid;
  virtual WideString GetName() = 0;
  virtual WideString GetCaption() = 0;
  virtual WideString GetVersion() = 0;
  virtual bool GetUpdateDefault() = 0;
  virtual HRESULT PublishVersionStatus(int32_t param) = 0;

 protected:
  ~IModuleInfo() = default;
};

struct IEnumModuleInfo : IUnknown {
  static constexpr GUID iid = "{8026F6EC-779F-4CC5-B218-FE8BE257F257}"_guid;
  // S_OK with *info set (an added reference), or S_FALSE at the end.
  virtual HRESULT Next(IModuleInfo** info) = 0;

 protected:
  ~IEnumModuleInfo() = default;
};

struct IModuleInfoList : IUnknown {
  static constexpr GUID iid = "{C5478AF3-B0ED-404B-BDD0-FF0D670269C1}"_guid;
  virtual HRESULT Add(IModuleInfo* info) = 0;
  virtual HRESULT Remove(IModuleInfo* info) = 0;
  // S_OK with *info set, or S_FALSE with *info null.
  virtual HRESULT Find(const WideString& name, IModuleInfo** info) = 0;
  // S_OK with *e set, or S_FALSE (e untouched) when the list is empty.
  virtual HRESULT GetEnumerator(IEnumModuleInfo** e) = 0;

 protected:
  ~IModuleInfoList() = default;
};
