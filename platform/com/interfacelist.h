// InterfaceList: an ordered list of counted interface references with its own lock.
//
// Every single operation takes the lock; a caller that needs several operations to be
// atomic holds it across them (`std::lock_guard guard(list);`). The lock is re-entrant on
// one thread, so the list's own operations may run inside such a block.
//
// The list holds one counted reference per entry. References that leave the list are
// handed back to the caller (Extract, TakeAll) or released by the operation; Clear
// releases after it has let go of the lock, so an entry's destructor never runs while
// another thread waits for the list.
#pragma once

#include <mutex>
#include <vector>

#include "platform/com/comptr.h"

class InterfaceList {
 public:
  InterfaceList() = default;
  InterfaceList(const InterfaceList&) = delete;
  InterfaceList& operator=(const InterfaceList&) = delete;
  ~InterfaceList();

  // The lock (BasicLockable, re-entrant on one thread).
  void lock() const { mutex_.lock(); }
  void unlock() const { mutex_.unlock(); }

  int Count() const;
  // An added reference to entry `index`; raises EListError outside 0 .. Count()-1.
  ComPtr<IUnknown> Get(int index) const;
  // Appends `item` (the list adds its own reference); answers its position.
  int Add(IUnknown* item);
  // Position of the very reference `item` (pointer identity), or -1.
  int IndexOf(IUnknown* item) const;
  // Removes entry `index` and hands its reference to the caller; raises EListError
  // outside the range.
  [[nodiscard]] ComPtr<IUnknown> Extract(int index);
  // Removes entry `index` and releases its reference.
  void Delete(int index);
  // Removes every entry and hands the references to the caller, in list order.
  [[nodiscard]] std::vector<ComPtr<IUnknown>> TakeAll();
  // Removes and releases every entry.
  void Clear();

 private:
  void CheckIndex(int index) const;

  mutable std::recursive_mutex mutex_;
  std::vector<ComPtr<IUnknown>> items_;
};
