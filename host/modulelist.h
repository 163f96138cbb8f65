// The host's list of module-information objects, the registrar that feeds it, and the
// version-status service whose items receive the short texts modules publish.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "hostintf/kvt_serverintf.h"
#include "moduleinfo/kvt_ModuleInfoIntf.h"
#include "platform/com/object.h"

// At most one entry per module name: adding an object whose name an entry has replaces
// that entry and moves it to the end. Removal is by identity. Registering a module
// (IModuleRegistrar) adds it to the list. An enumerator keeps the list alive and reads it
// live. Safe from several threads; the entries' GetName is called under the list's lock.
class THostModuleList : public Implements<IModuleInfoList, IModuleRegistrar> {
 public:
  // --- IModuleInfoList
  HRESULT Add(IModuleInfo* info) override;
  HRESULT Remove(IModuleInfo* info) override;
  HRESULT Find(const WideString& name, IModuleInfo** info) override;
  HRESULT GetEnumerator(IEnumModuleInfo** e) override;
  // --- IModuleRegistrar
  HRESULT RegisterModule(IModuleInfo* info) override;

  std::vector<ComPtr<IModuleInfo>> Entries() const;
  void Clear();

 private:
  friend class TModuleEnumerator;
  mutable std::recursive_mutex mutex_;
  std::vector<ComPtr<IModuleInfo>> entries_;
};

class TModuleEnumerator : public Implements<IEnumModuleInfo> {
 public:
  explicit TModuleEnumerator(ComPtr<THostModuleList> list) : list_(std::move(list)) {}
  HRESULT Next(IModuleInfo** info) override;

 private:
  ComPtr<THostModuleList> list_;
  size_t position_ = 0;
};

// One place where a module's version text is shown.
class TVersionStatusItem : public Implements<IVersionStatusItem> {
 public:
  explicit TVersionStatusItem(WideString name) : name_(std::move(name)) {}
  HRESULT SetText(const WideString& text, int32_t param) override;

  // "" until a text arrived.
  WideString Text() const;
  bool HasText() const;

 private:
  WideString name_;
  mutable std::mutex mutex_;
  WideString text_;
  bool has_text_ = false;
};

// Hands out one item per module name (made on first request).
class TVersionStatusService : public Implements<IVersionStatusService> {
 public:
  HRESULT GetItem(const WideString& name, IVersionStatusItem** item) override;

  // The item of a name, or empty.
  ComPtr<TVersionStatusItem> Item(const WideString& name) const;
  void Clear();

 private:
  mutable std::mutex mutex_;
  std::vector<ComPtr<TVersionStatusItem>> items_;
  std::vector<WideString> names_;
};
