#include "platform/com/comcat.h"

#include <algorithm>
#include <string>
#include <vector>

#include "platform/com/guid.h"
#include "platform/com/object.h"
#include "platform/com/registry.h"

namespace {
class GuidEnumerator : public Implements<IEnumGUID> {
 public:
  explicit GuidEnumerator(std::vector<GUID> items, size_t pos = 0)
      : items_(std::move(items)), pos_(pos) {}

  HRESULT Next(ULONG count, GUID* items, ULONG* fetched) override {
    if (items == nullptr || (fetched == nullptr && count != 1)) return E_POINTER;
    ULONG n = 0;
    while (n < count && pos_ < items_.size()) items[n++] = items_[pos_++];
    if (fetched) *fetched = n;
    return n == count ? S_OK : S_FALSE;
  }
  HRESULT Skip(ULONG count) override {
    size_t left = items_.size() - pos_;
    pos_ += std::min<size_t>(count, left);
    return count <= left ? S_OK : S_FALSE;
  }
  HRESULT Reset() override {
    pos_ = 0;
    return S_OK;
  }
  HRESULT Clone(IEnumGUID** clone) override {
    if (clone == nullptr) return E_POINTER;
    *clone = MakeObject<GuidEnumerator>(items_, pos_).Detach();
    return S_OK;
  }

 private:
  std::vector<GUID> items_;
  size_t pos_;
};

// The subkey names of `path` below HKEY_CLASSES_ROOT that are GUID text.
std::vector<GUID> GuidSubkeys(const std::string& path) {
  std::vector<GUID> out;
  HKEY key = nullptr;
  if (RegOpenKey(HKEY_CLASSES_ROOT, path.c_str(), &key) != ERROR_SUCCESS) return out;
  char name[256];
  for (DWORD i = 0; RegEnumKey(key, i, name, sizeof name) == ERROR_SUCCESS; ++i) {
    GUID g;
    if (SUCCEEDED(CLSIDFromString(std::string_view(name), &g))) out.push_back(g);
  }
  RegCloseKey(key);
  return out;
}

std::string ClassKey(const CLSID& clsid) {
  return "CLSID\\" + GUIDToString(clsid);
}

bool Contains(ULONG count, const CATID* list, const GUID& g) {
  return list != nullptr && std::find(list, list + count, g) != list + count;
}

bool ClassQualifies(const CLSID& clsid, ULONG impl_count, const CATID* impl, ULONG req_count,
                    const CATID* req) {
  constexpr ULONG kAny = static_cast<ULONG>(-1);
  if (impl_count != kAny) {
    std::vector<GUID> cats = GuidSubkeys(ClassKey(clsid) + "\\Implemented Categories");
    if (!std::any_of(cats.begin(), cats.end(),
                     [&](const GUID& c) { return Contains(impl_count, impl, c); }))
      return false;
  }
  if (req_count != kAny) {
    std::vector<GUID> needs = GuidSubkeys(ClassKey(clsid) + "\\Required Categories");
    if (!std::all_of(needs.begin(), needs.end(),
                     [&](const GUID& c) { return Contains(req_count, req, c); }))
      return false;
  }
  return true;
}

class CategoryManager : public Implements<ICatInformation> {
 public:
  HRESULT EnumCategories(LCID, IUnknown** categories) override {
    if (categories) *categories = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetCategoryDesc(const CATID&, LCID, char16_t** desc) override {
    if (desc) *desc = nullptr;
    return E_NOTIMPL;
  }
  HRESULT EnumClassesOfCategories(ULONG impl_count, const CATID* impl, ULONG req_count,
                                  const CATID* req, IEnumGUID** classes) override {
    if (classes == nullptr) return E_POINTER;
    *classes = nullptr;
    std::vector<GUID> found;
    for (const GUID& clsid : GuidSubkeys("CLSID"))
      if (ClassQualifies(clsid, impl_count, impl, req_count, req)) found.push_back(clsid);
    *classes = MakeObject<GuidEnumerator>(std::move(found)).Detach();
    return S_OK;
  }
  HRESULT IsClassOfCategories(const CLSID& clsid, ULONG impl_count, const CATID* impl,
                              ULONG req_count, const CATID* req) override {
    return ClassQualifies(clsid, impl_count, impl, req_count, req) ? S_OK : S_FALSE;
  }
  HRESULT EnumImplCategoriesOfClass(const CLSID& clsid, IEnumGUID** categories) override {
    return Categories(clsid, "\\Implemented Categories", categories);
  }
  HRESULT EnumReqCategoriesOfClass(const CLSID& clsid, IEnumGUID** categories) override {
    return Categories(clsid, "\\Required Categories", categories);
  }

 private:
  static HRESULT Categories(const CLSID& clsid, const char* which, IEnumGUID** out) {
    if (out == nullptr) return E_POINTER;
    *out = MakeObject<GuidEnumerator>(GuidSubkeys(ClassKey(clsid) + which)).Detach();
    return S_OK;
  }
};
}  // namespace

ComPtr<IUnknown> CreateStdComponentCategoriesMgr() {
  return ComPtr<IUnknown>(MakeObject<CategoryManager>());
}
