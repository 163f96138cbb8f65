#include "moduleinfo/kvt_ModuleList.h"

#include <mutex>
#include <vector>

#include "dataaccess/kvt_event.h"
#include "platform/os/os.h"
#include "platform/rtl/format.h"
#include "platform/rtl/strutils.h"

// Shared by the list and its subscriptions. The list's destructor clears `list` under
// `mutex`; a firing that finds it set empties the list while holding `mutex`, so the list
// cannot be destroyed half-way through.
struct TModuleInfoList::Link {
  std::mutex mutex;
  TModuleInfoList* list = nullptr;
};

namespace {
constexpr char kStopServerEvent[] = "STOPSERVER";

ComPtr<IModuleInfo> AsModuleInfo(const ComPtr<IUnknown>& entry) {
  return entry.TryAs<IModuleInfo>();
}
}  // namespace

TModuleInfoList::TModuleInfoList() : link_(std::make_shared<Link>()) {
  link_->list = this;
}

TModuleInfoList::~TModuleInfoList() {
  std::lock_guard guard(link_->mutex);
  link_->list = nullptr;
}

HRESULT TModuleInfoList::Add(IModuleInfo* info) {
  if (info == nullptr) return S_OK;
  WideString name = info->GetName();
  ComPtr<IUnknown> replaced;  // released after the lock
  bool was_empty;
  {
    std::lock_guard guard(storage_);
    was_empty = storage_.Count() == 0;
    for (int i = 0; i < storage_.Count(); ++i) {
      auto entry = AsModuleInfo(storage_.Get(i));
      if (entry && entry->GetName() == name) {
        replaced = storage_.Extract(i);
        break;
      }
    }
    storage_.Add(info);
  }
  // Subscribing is a host call; made outside the lock so that a host raising "STOPSERVER"
  // on another thread while it holds its own lock cannot deadlock against this list.
  if (was_empty) {
    SubscribeEvent(kStopServerEvent, [link = link_](TKVTEvent*) {
      std::vector<ComPtr<IUnknown>> dropped;  // released after both locks
      std::lock_guard guard(link->mutex);
      if (link->list) dropped = link->list->storage_.TakeAll();
    });
  }
  return S_OK;
}

HRESULT TModuleInfoList::Remove(IModuleInfo* info) {
  std::vector<ComPtr<IUnknown>> removed;  // released after the lock
  std::lock_guard guard(storage_);
  for (int i; (i = storage_.IndexOf(info)) >= 0;) removed.push_back(storage_.Extract(i));
  return S_OK;
}

HRESULT TModuleInfoList::Find(const WideString& name, IModuleInfo** info) {
  if (info == nullptr) return E_POINTER;
  *info = nullptr;
  std::lock_guard guard(storage_);
  for (int i = 0; i < storage_.Count(); ++i) {
    auto entry = AsModuleInfo(storage_.Get(i));
    if (entry && entry->GetName() == name) {
      *info = entry.Detach();
      return S_OK;
    }
  }
  return S_FALSE;
}

HRESULT TModuleInfoList::GetEnumerator(IEnumModuleInfo** e) {
  if (e == nullptr) return E_POINTER;
  if (storage_.Count() == 0) return S_FALSE;
  *e = MakeObject<TEnumInfo>(ComPtr<TModuleInfoList>(this)).Detach();
  return S_OK;
}

void TModuleInfoList::Clear() {
  std::vector<ComPtr<IUnknown>> dropped = storage_.TakeAll();
}

TEnumInfo::TEnumInfo(ComPtr<TModuleInfoList> list) : list_(std::move(list)) {}

TEnumInfo::~TEnumInfo() = default;

HRESULT TEnumInfo::Next(IModuleInfo** info) {
  if (info == nullptr) return E_POINTER;
  InterfaceList& storage = list_->storage_;
  std::lock_guard guard(storage);
  if (position_ >= storage.Count()) return S_FALSE;
  *info = AsModuleInfo(storage.Get(position_)).Detach();
  ++position_;
  return S_OK;
}

const ComPtr<IModuleInfoList>& GlobalModuleList() {
  // Built on first use, and destroyed in reverse order of construction at exit, after
  // everything constructed later and before everything constructed earlier.
  static const ComPtr<IModuleInfoList> list(MakeObject<TModuleInfoList>());
  return list;
}

namespace {
// The unit's list exists from the unit's start, as the host may look for it at any time.
[[maybe_unused]] const bool kGlobalModuleListCreated = (GlobalModuleList(), true);
}  // namespace

uint64_t ParseVersion(std::string_view text) {
  uint64_t value = 0;
  std::string_view rest = text;
  for (int i = 0; i < 4; ++i) {
    value <<= 16;
    int32_t part = 0;
    if (!rest.empty()) {
      size_t dot = rest.find('.');
      std::string_view piece = dot == std::string_view::npos ? rest : rest.substr(0, dot);
      rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
      part = TryStrToInt(piece).value_or(0);
    }
    value |= static_cast<uint64_t>(static_cast<uint32_t>(part) & 0xFFFFu);
  }
  return value;
}

std::string FormatVersionPair(uint64_t packed) {
  return Format("%.2d.%.2d", {static_cast<unsigned>((packed >> 16) & 0xFFFFu),
                              static_cast<unsigned>(packed & 0xFFFFu)});
}

std::string GetTestSuffix() {
  return FileExists(ExecutableFolder() + ".test") ? "_TEST" : "";
}
