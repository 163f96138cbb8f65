#include "platform/com/registry.h"

#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/rtl/strutils.h"

namespace {
struct NameLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return LowerCaseAscii(a) < LowerCaseAscii(b);
  }
};

struct Node {
  std::string value;
  std::map<std::string, std::shared_ptr<Node>, NameLess> subkeys;
};

struct Registry {
  std::mutex mutex;
  std::shared_ptr<Node> classes_root = std::make_shared<Node>();
  std::set<RegKeyHandle*> open;  // handles handed out
};

Registry& Reg() {
  // Never destroyed: handles may outlive static destruction order.
  static Registry* r = new Registry;
  return *r;
}

std::vector<std::string> SplitPath(const char* path) {
  std::vector<std::string> parts;
  if (path == nullptr) return parts;
  std::string_view rest(path);
  while (!rest.empty()) {
    size_t sep = rest.find('\\');
    std::string_view part = rest.substr(0, sep);
    if (!part.empty()) parts.emplace_back(part);
    if (sep == std::string_view::npos) break;
    rest.remove_prefix(sep + 1);
  }
  return parts;
}
}  // namespace

struct RegKeyHandle {
  std::shared_ptr<Node> node;
};

namespace {
RegKeyHandle g_classes_root_handle;

// The node behind a handle, or null for an invalid handle. Called under the lock.
std::shared_ptr<Node> NodeOf(Registry& r, HKEY key) {
  if (key == &g_classes_root_handle) return r.classes_root;
  if (key == nullptr || r.open.count(key) == 0) return nullptr;
  return key->node;
}

// Walks `path` below `node`; with `create`, missing keys are made. Null when missing.
std::shared_ptr<Node> Walk(std::shared_ptr<Node> node, const char* path, bool create) {
  for (const std::string& part : SplitPath(path)) {
    auto it = node->subkeys.find(part);
    if (it == node->subkeys.end()) {
      if (!create) return nullptr;
      it = node->subkeys.emplace(part, std::make_shared<Node>()).first;
    }
    node = it->second;
  }
  return node;
}

LONG OpenOrCreate(HKEY key, const char* sub_key, HKEY* result, bool create) {
  if (result == nullptr) return ERROR_INVALID_PARAMETER;
  *result = nullptr;
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  std::shared_ptr<Node> base = NodeOf(r, key);
  if (!base) return ERROR_INVALID_HANDLE;
  std::shared_ptr<Node> node = Walk(base, sub_key, create);
  if (!node) return ERROR_FILE_NOT_FOUND;
  auto* h = new RegKeyHandle{std::move(node)};
  r.open.insert(h);
  *result = h;
  return ERROR_SUCCESS;
}
}  // namespace

HKEY const HKEY_CLASSES_ROOT = &g_classes_root_handle;

LONG RegOpenKey(HKEY key, const char* sub_key, HKEY* result) {
  return OpenOrCreate(key, sub_key, result, false);
}

LONG RegCreateKey(HKEY key, const char* sub_key, HKEY* result) {
  return OpenOrCreate(key, sub_key, result, true);
}

LONG RegCloseKey(HKEY key) {
  if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
  Registry& r = Reg();
  {
    std::lock_guard lock(r.mutex);
    if (key == nullptr || r.open.erase(key) == 0) return ERROR_INVALID_HANDLE;
  }
  delete key;
  return ERROR_SUCCESS;
}

LONG RegEnumKey(HKEY key, DWORD index, char* name, DWORD name_size) {
  if (name == nullptr) return ERROR_INVALID_PARAMETER;
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  std::shared_ptr<Node> node = NodeOf(r, key);
  if (!node) return ERROR_INVALID_HANDLE;
  if (index >= node->subkeys.size()) return ERROR_NO_MORE_ITEMS;
  auto it = node->subkeys.begin();
  std::advance(it, index);
  const std::string& n = it->first;
  if (n.size() + 1 > name_size) return ERROR_MORE_DATA;
  std::memcpy(name, n.c_str(), n.size() + 1);
  return ERROR_SUCCESS;
}

LONG RegQueryValue(HKEY key, const char* sub_key, char* data, LONG* data_size) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  std::shared_ptr<Node> base = NodeOf(r, key);
  if (!base) return ERROR_INVALID_HANDLE;
  std::shared_ptr<Node> node = Walk(base, sub_key, false);
  if (!node) return ERROR_FILE_NOT_FOUND;
  LONG needed = static_cast<LONG>(node->value.size() + 1);
  if (data == nullptr) {
    if (data_size) *data_size = needed;
    return ERROR_SUCCESS;
  }
  if (data_size == nullptr) return ERROR_INVALID_PARAMETER;
  if (*data_size < needed) {
    *data_size = needed;
    return ERROR_MORE_DATA;
  }
  std::memcpy(data, node->value.c_str(), static_cast<size_t>(needed));
  *data_size = needed;
  return ERROR_SUCCESS;
}

LONG RegSetValue(HKEY key, const char* sub_key, const char* data) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  std::shared_ptr<Node> base = NodeOf(r, key);
  if (!base) return ERROR_INVALID_HANDLE;
  Walk(base, sub_key, true)->value = data ? data : "";
  return ERROR_SUCCESS;
}

LONG RegDeleteTree(HKEY key, const char* sub_key) {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  std::shared_ptr<Node> base = NodeOf(r, key);
  if (!base) return ERROR_INVALID_HANDLE;
  std::vector<std::string> parts = SplitPath(sub_key);
  if (parts.empty()) {
    base->subkeys.clear();
    base->value.clear();
    return ERROR_SUCCESS;
  }
  std::string last = parts.back();
  parts.pop_back();
  std::shared_ptr<Node> parent = base;
  for (const std::string& part : parts) {
    auto it = parent->subkeys.find(part);
    if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
    parent = it->second;
  }
  return parent->subkeys.erase(last) ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

int64_t RegOpenHandleCount() {
  Registry& r = Reg();
  std::lock_guard lock(r.mutex);
  return static_cast<int64_t>(r.open.size());
}
