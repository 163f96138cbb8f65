#include "host/modulelist.h"

#include "host/trace.h"
#include "platform/rtl/exceptions.h"

namespace {

// A module's GetName; an error in it answers "" (such an entry never matches a name).
WideString NameOf(IModuleInfo* info) {
  try {
    return info->GetName();
  } catch (...) {
    return {};
  }
}

}  // namespace

// --- THostModuleList

HRESULT THostModuleList::Add(IModuleInfo* info) {
  Trace("IModuleInfoList.Add");
  if (info == nullptr) return S_OK;
  ComPtr<IModuleInfo> keep(info);
  ComPtr<IModuleInfo> replaced;  // released after the lock
  std::lock_guard lock(mutex_);
  const WideString name = NameOf(info);
  for (auto it = entries_.begin(); it != entries_.end(); ++it) {
    if (it->Get() == info || (!name.empty() && NameOf(it->Get()) == name)) {
      replaced = std::move(*it);
      entries_.erase(it);
      break;
    }
  }
  entries_.push_back(std::move(keep));
  return S_OK;
}

HRESULT THostModuleList::Remove(IModuleInfo* info) {
  Trace("IModuleInfoList.Remove");
  std::vector<ComPtr<IModuleInfo>> removed;  // released after the lock
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end();) {
    if (SameObject(it->Get(), info)) {
      removed.push_back(std::move(*it));
      it = entries_.erase(it);
    } else {
      ++it;
    }
  }
  return S_OK;
}

HRESULT THostModuleList::Find(const WideString& name, IModuleInfo** info) {
  if (Tracing()) Trace("IModuleInfoList.Find " + name.ToUtf8());
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  std::lock_guard lock(mutex_);
  for (const ComPtr<IModuleInfo>& e : entries_) {
    if (NameOf(e.Get()) == name) {
      *info = ComPtr<IModuleInfo>(e).Detach();
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT THostModuleList::GetEnumerator(IEnumModuleInfo** e) {
  Trace("IModuleInfoList.GetEnumerator");
  if (e == nullptr) return E_POINTER;
  {
    std::lock_guard lock(mutex_);
    if (entries_.empty()) return S_FALSE;
  }
  *e = MakeObject<TModuleEnumerator>(ComPtr<THostModuleList>(this)).Detach();
  return S_OK;
}

HRESULT THostModuleList::RegisterModule(IModuleInfo* info) {
  Trace("IModuleRegistrar.RegisterModule");
  if (info == nullptr) return E_POINTER;
  return Add(info);
}

std::vector<ComPtr<IModuleInfo>> THostModuleList::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void THostModuleList::Clear() {
  std::vector<ComPtr<IModuleInfo>> gone;
  {
    std::lock_guard lock(mutex_);
    gone.swap(entries_);
  }
}

HRESULT TModuleEnumerator::Next(IModuleInfo** info) {
  Trace("IEnumModuleInfo.Next");
  if (info == nullptr) return E_POINTER;
  std::lock_guard lock(list_->mutex_);
  if (position_ >= list_->entries_.size()) return S_FALSE;
  *info = ComPtr<IModuleInfo>(list_->entries_[position_++]).Detach();
  return S_OK;
}

// --- Version status

HRESULT TVersionStatusItem::SetText(const WideString& text, int32_t param) {
  if (Tracing())
    Trace("IVersionStatusItem.SetText " + name_.ToUtf8() + ": " + text.ToUtf8() + " (" +
          std::to_string(param) + ")");
  std::lock_guard lock(mutex_);
  text_ = text;
  has_text_ = true;
  return S_OK;
}

WideString TVersionStatusItem::Text() const {
  std::lock_guard lock(mutex_);
  return text_;
}

bool TVersionStatusItem::HasText() const {
  std::lock_guard lock(mutex_);
  return has_text_;
}

HRESULT TVersionStatusService::GetItem(const WideString& name, IVersionStatusItem** item) {
  if (Tracing()) Trace("IVersionStatusService.GetItem " + name.ToUtf8());
  if (item == nullptr) return E_POINTER;
  *item = nullptr;
  ComPtr<TVersionStatusItem> found = Item(name);
  if (!found) {
    std::lock_guard lock(mutex_);
    found = MakeObject<TVersionStatusItem>(name);
    items_.push_back(found);
    names_.push_back(name);
  }
  *item = ComPtr<IVersionStatusItem>(found).Detach();
  return S_OK;
}

ComPtr<TVersionStatusItem> TVersionStatusService::Item(const WideString& name) const {
  std::lock_guard lock(mutex_);
  for (size_t i = 0; i < names_.size(); ++i)
    if (names_[i] == name) return items_[i];
  return nullptr;
}

void TVersionStatusService::Clear() {
  std::vector<ComPtr<TVersionStatusItem>> gone;
  std::lock_guard lock(mutex_);
  gone.swap(items_);
  names_.clear();
}
