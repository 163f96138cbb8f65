// A list of module-information objects, at most one per module name, and the version-text
// helpers of the module information.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "moduleinfo/kvt_ModuleInfoIntf.h"
#include "platform/com/interfacelist.h"
#include "platform/com/object.h"

// The entries live in insertion order in an InterfaceList whose re-entrant lock every
// operation holds from start to end, so the find-and-replace of Add is atomic with respect
// to other threads. Entries' GetName() runs under that lock: a GetName must not wait for
// another thread that uses the same list.
//
// The first Add into an empty list subscribes to the host event "STOPSERVER", which
// empties the list. The subscription refers to the list weakly: the host keeps the
// subscription, and a strong reference would keep the list (and the entries, and through
// their configuration the host) alive for as long as the host keeps its subscriptions.
// Once the list is gone, the event does nothing.
class TModuleInfoList : public Implements<IModuleInfoList> {
 public:
  TModuleInfoList();

  // --- IModuleInfoList
  // Appends `info`, first dropping an entry with the same name (exact, case-sensitive):
  // a replaced module moves to the end. An empty `info` changes nothing. Answers S_OK.
  HRESULT Add(IModuleInfo* info) override;
  // Drops every entry that is the very reference `info`. Answers S_OK.
  HRESULT Remove(IModuleInfo* info) override;
  // The first entry named `name` (exact, case-sensitive): S_OK with *info set, or S_FALSE
  // with *info null.
  HRESULT Find(const WideString& name, IModuleInfo** info) override;
  // A new enumerator over the live list (it keeps the list alive), or S_FALSE with *e
  // untouched when the list is empty.
  HRESULT GetEnumerator(IEnumModuleInfo** e) override;

  // Empties the list, releasing every entry (the "STOPSERVER" handler).
  void Clear();
  int Count() const { return storage_.Count(); }

 protected:
  ~TModuleInfoList() override;

 private:
  friend class TEnumInfo;
  struct Link;  // the subscription's weak way back to the list

  InterfaceList storage_;
  std::shared_ptr<Link> link_;
};

// An enumerator over a TModuleInfoList. It reads the live list on every Next: entries
// appended after its creation are handed out too, and deleting an entry already handed
// out makes it skip the entry after the last one handed out.
class TEnumInfo : public Implements<IEnumModuleInfo> {
 public:
  explicit TEnumInfo(ComPtr<TModuleInfoList> list);  // holds a counted reference
  // S_OK with *info set and the position advanced, or S_FALSE (*info untouched) at the end.
  HRESULT Next(IModuleInfo** info) override;

 protected:
  ~TEnumInfo() override;

 private:
  ComPtr<TModuleInfoList> list_;
  int position_ = 0;
};

// The unit's own list, created when the unit starts and released when it ends.
const ComPtr<IModuleInfoList>& GlobalModuleList();

// Packs the first four dot-separated parts of `text` into 16 bits each (the first part in
// bits 48..63). A part that is not a whole 32-bit integer (decimal, or hexadecimal after
// "$", "x" or "0x") counts as 0; only its low 16 bits are kept; parts after the fourth are
// ignored.
uint64_t ParseVersion(std::string_view text);
// The third and fourth parts of a packed version as "%.2d.%.2d": 1.0.22.5 -> "22.05".
std::string FormatVersionPair(uint64_t packed);
// "_TEST" while a file ".test" stands in the folder of the process's executable, else "".
std::string GetTestSuffix();
