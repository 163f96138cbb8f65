#include "platform/com/interfacelist.h"

#include "platform/rtl/exceptions.h"

InterfaceList::~InterfaceList() = default;

void InterfaceList::CheckIndex(int index) const {
  if (index < 0 || static_cast<size_t>(index) >= items_.size())
    throw EListError::IndexOutOfBounds(index);
}

int InterfaceList::Count() const {
  std::lock_guard guard(mutex_);
  return static_cast<int>(items_.size());
}

ComPtr<IUnknown> InterfaceList::Get(int index) const {
  std::lock_guard guard(mutex_);
  CheckIndex(index);
  return items_[static_cast<size_t>(index)];
}

int InterfaceList::Add(IUnknown* item) {
  std::lock_guard guard(mutex_);
  items_.emplace_back(item);
  return static_cast<int>(items_.size()) - 1;
}

int InterfaceList::IndexOf(IUnknown* item) const {
  std::lock_guard guard(mutex_);
  for (size_t i = 0; i < items_.size(); ++i)
    if (items_[i].Get() == item) return static_cast<int>(i);
  return -1;
}

ComPtr<IUnknown> InterfaceList::Extract(int index) {
  std::lock_guard guard(mutex_);
  CheckIndex(index);
  auto it = items_.begin() + index;
  ComPtr<IUnknown> item = std::move(*it);
  items_.erase(it);
  return item;
}

void InterfaceList::Delete(int index) {
  ComPtr<IUnknown> dropped = Extract(index);
}

std::vector<ComPtr<IUnknown>> InterfaceList::TakeAll() {
  std::lock_guard guard(mutex_);
  return std::exchange(items_, {});
}

void InterfaceList::Clear() {
  std::vector<ComPtr<IUnknown>> dropped = TakeAll();
}
