#include "platform/com/activation.h"

#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>

#include "platform/com/comcat.h"
#include "platform/com/guid.h"
#include "platform/com/registry.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"
#include "platform/rtl/strutils.h"

namespace {
struct ClassEntry {
  DWORD context = CLSCTX_INPROC_SERVER;
  std::string prog_id;
  ClassFactory factory;
};

struct Computer {
  bool reachable = true;
  std::map<CLSID, ClassFactory> classes;
};

struct Tables {
  std::mutex mutex;
  std::map<CLSID, ClassEntry> classes;
  std::map<std::string, Computer> computers;  // by lower-cased name
  std::string local_name;
};

std::string ClassKey(const CLSID& clsid) {
  return "CLSID\\" + GUIDToString(clsid);
}

// Writes the registry keys of a class registration.
void WriteClassKeys(const ComClassInfo& info) {
  std::string key = ClassKey(info.clsid);
  RegDeleteTree(HKEY_CLASSES_ROOT, key.c_str());
  RegSetValue(HKEY_CLASSES_ROOT, key.c_str(), info.prog_id.c_str());
  const char* server = (info.context & CLSCTX_LOCAL_SERVER) ? "LocalServer32" : "InprocServer32";
  RegSetValue(HKEY_CLASSES_ROOT, (key + "\\" + server).c_str(), "");
  if (!info.prog_id.empty()) {
    RegSetValue(HKEY_CLASSES_ROOT, (key + "\\ProgID").c_str(), info.prog_id.c_str());
    RegSetValue(HKEY_CLASSES_ROOT, (info.prog_id + "\\CLSID").c_str(),
                GUIDToString(info.clsid).c_str());
  }
  for (const GUID& cat : info.implemented_categories)
    RegSetValue(HKEY_CLASSES_ROOT, (key + "\\Implemented Categories\\" + GUIDToString(cat)).c_str(),
                "");
}

void AddClass(Tables& t, const ComClassInfo& info) {
  auto old = t.classes.find(info.clsid);
  if (old != t.classes.end() && !old->second.prog_id.empty() && old->second.prog_id != info.prog_id)
    RegDeleteTree(HKEY_CLASSES_ROOT, old->second.prog_id.c_str());
  t.classes[info.clsid] = ClassEntry{info.context, info.prog_id, info.factory};
  WriteClassKeys(info);
}

std::string HostName() {
  char buf[256] = {};
  if (gethostname(buf, sizeof buf - 1) != 0 || buf[0] == 0) return "localhost";
  return buf;
}

Tables& T() {
  // Never destroyed: objects may be activated while other statics go away.
  static Tables* t = [] {
    auto* tables = new Tables;
    tables->local_name = HostName();
    AddClass(*tables, ComClassInfo{CLSID_StdComponentCategoriesMgr,
                                   "",
                                   CLSCTX_INPROC_SERVER,
                                   &CreateStdComponentCategoriesMgr,
                                   {}});
    return tables;
  }();
  return *t;
}

// Runs a factory outside the table lock (a factory may activate other classes).
HRESULT RunFactory(const ClassFactory& factory, ComPtr<IUnknown>& out) {
  try {
    out = factory ? factory() : ComPtr<IUnknown>();
  } catch (const EOleSysError& e) {
    out.Reset();
    return FAILED(e.ErrorCode()) ? e.ErrorCode() : CO_E_SERVER_EXEC_FAILURE;
  } catch (...) {
    out.Reset();
    return CO_E_SERVER_EXEC_FAILURE;
  }
  return out ? S_OK : CO_E_SERVER_EXEC_FAILURE;
}

HRESULT CreateHere(const CLSID& clsid, DWORD context, ComPtr<IUnknown>& out) {
  ClassFactory factory;
  {
    Tables& t = T();
    std::lock_guard lock(t.mutex);
    auto it = t.classes.find(clsid);
    if (it == t.classes.end() || (it->second.context & context) == 0) return REGDB_E_CLASSNOTREG;
    factory = it->second.factory;
  }
  return RunFactory(factory, out);
}

HRESULT CreateOn(const std::string& computer, const CLSID& clsid, ComPtr<IUnknown>& out) {
  ClassFactory factory;
  {
    Tables& t = T();
    std::lock_guard lock(t.mutex);
    auto it = t.computers.find(LowerCaseAscii(computer));
    if (it == t.computers.end() || !it->second.reachable) return RPC_E_SERVER_UNAVAILABLE;
    auto c = it->second.classes.find(clsid);
    if (c == it->second.classes.end()) return REGDB_E_CLASSNOTREG;
    factory = c->second;
  }
  return RunFactory(factory, out);
}

std::atomic<int64_t> g_task_allocations{0};

// The default value of a registry key below HKEY_CLASSES_ROOT; false when it is missing.
bool ReadClassesRootValue(const std::string& key, std::string& value) {
  LONG size = 0;
  if (RegQueryValue(HKEY_CLASSES_ROOT, key.c_str(), nullptr, &size) != ERROR_SUCCESS) return false;
  std::string buf(static_cast<size_t>(size), '\0');
  if (RegQueryValue(HKEY_CLASSES_ROOT, key.c_str(), buf.data(), &size) != ERROR_SUCCESS)
    return false;
  buf.resize(static_cast<size_t>(size > 0 ? size - 1 : 0));
  value = std::move(buf);
  return true;
}
}  // namespace

void RegisterComClass(const ComClassInfo& info) {
  Tables& t = T();
  std::lock_guard lock(t.mutex);
  AddClass(t, info);
}

void UnregisterComClass(const CLSID& clsid) {
  Tables& t = T();
  std::lock_guard lock(t.mutex);
  auto it = t.classes.find(clsid);
  if (it == t.classes.end()) return;
  if (!it->second.prog_id.empty()) RegDeleteTree(HKEY_CLASSES_ROOT, it->second.prog_id.c_str());
  RegDeleteTree(HKEY_CLASSES_ROOT, ClassKey(clsid).c_str());
  t.classes.erase(it);
}

HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD context, const IID& iid,
                         void** obj) {
  if (obj == nullptr) return E_POINTER;
  *obj = nullptr;
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  if ((context & (CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER |
                  CLSCTX_REMOTE_SERVER)) == 0)
    return E_INVALIDARG;
  ComPtr<IUnknown> made;
  HRESULT hr = CreateHere(clsid, context, made);
  if (FAILED(hr)) return hr;
  return made->QueryInterface(iid, obj);  // a refusal releases the object with `made`
}

HRESULT CoCreateInstanceEx(const CLSID& clsid, IUnknown* outer, DWORD context, COSERVERINFO* server,
                           DWORD count, MULTI_QI* results) {
  if (count == 0 || results == nullptr) return E_INVALIDARG;
  for (DWORD i = 0; i < count; ++i) {
    results[i].pItf = nullptr;
    results[i].hr = E_NOINTERFACE;
  }
  if (outer != nullptr) return CLASS_E_NOAGGREGATION;
  std::string name = (server && server->pwszName) ? Utf16ToUtf8(server->pwszName) : std::string();
  ComPtr<IUnknown> made;
  HRESULT hr;
  if (name.empty() || SameTextAscii(name, LocalComputerName()))
    hr = CreateHere(clsid, context | CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER, made);
  else
    hr = CreateOn(name, clsid, made);
  if (FAILED(hr)) {
    for (DWORD i = 0; i < count; ++i) results[i].hr = hr;
    return hr;
  }
  DWORD answered = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (results[i].pIID == nullptr) continue;
    results[i].hr =
        made->QueryInterface(*results[i].pIID, reinterpret_cast<void**>(&results[i].pItf));
    if (SUCCEEDED(results[i].hr)) ++answered;
  }
  if (answered == 0) return E_NOINTERFACE;
  return answered == count ? S_OK : CO_S_NOTALLINTERFACES;
}

HRESULT CLSIDFromProgID(const char16_t* prog_id, CLSID* clsid) {
  if (prog_id == nullptr || clsid == nullptr) return E_INVALIDARG;
  *clsid = GUID_NULL;
  std::string name = Utf16ToUtf8(prog_id);
  std::string text;
  // "\" would walk into other keys; no ProgID holds it.
  if (name.empty() || name.find('\\') != std::string::npos ||
      !ReadClassesRootValue(name + "\\CLSID", text))
    return CO_E_CLASSSTRING;
  GUID found;
  if (FAILED(CLSIDFromString(std::string_view(text), &found))) return CO_E_CLASSSTRING;
  *clsid = found;
  return S_OK;
}

HRESULT ProgIDFromCLSID(const CLSID& clsid, char16_t** prog_id) {
  if (prog_id == nullptr) return E_INVALIDARG;
  *prog_id = nullptr;
  std::string text;
  if (!ReadClassesRootValue(ClassKey(clsid) + "\\ProgID", text) || text.empty())
    return REGDB_E_CLASSNOTREG;
  std::u16string wide = Utf8ToUtf16(text);
  auto* buf = static_cast<char16_t*>(CoTaskMemAlloc((wide.size() + 1) * sizeof(char16_t)));
  if (buf == nullptr) return E_OUTOFMEMORY;
  std::memcpy(buf, wide.c_str(), (wide.size() + 1) * sizeof(char16_t));
  *prog_id = buf;
  return S_OK;
}

void* CoTaskMemAlloc(size_t size) {
  void* p = std::malloc(size ? size : 1);
  if (p) g_task_allocations.fetch_add(1, std::memory_order_relaxed);
  return p;
}

void CoTaskMemFree(void* p) {
  if (p == nullptr) return;
  g_task_allocations.fetch_sub(1, std::memory_order_relaxed);
  std::free(p);
}

int64_t CoTaskMemOutstanding() {
  return g_task_allocations.load();
}

std::string LocalComputerName() {
  Tables& t = T();
  std::lock_guard lock(t.mutex);
  return t.local_name;
}

void SetLocalComputerName(const std::string& name) {
  Tables& t = T();
  std::lock_guard lock(t.mutex);
  t.local_name = name;
}

void RegisterComputer(const std::string& name, bool reachable) {
  Tables& t = T();
  std::lock_guard lock(t.mutex);
  t.computers[LowerCaseAscii(name)].reachable = reachable;
}

void UnregisterComputer(const std::string& name) {
  Tables& t = T();
  std::lock_guard lock(t.mutex);
  t.computers.erase(LowerCaseAscii(name));
}

void SetComputerReachable(const std::string& name, bool reachable) {
  Tables& t = T();
  std::lock_guard lock(t.mutex);
  auto it = t.computers.find(LowerCaseAscii(name));
  if (it != t.computers.end()) it->second.reachable = reachable;
}

void RegisterComputerClass(const std::string& computer, const CLSID& clsid, ClassFactory factory) {
  Tables& t = T();
  std::lock_guard lock(t.mutex);
  auto it = t.computers.find(LowerCaseAscii(computer));
  if (it == t.computers.end()) throw EOleSysError(RPC_E_SERVER_UNAVAILABLE);
  it->second.classes[clsid] = std::move(factory);
}

ComPtr<IUnknown> CreateComObject(const CLSID& clsid) {
  ComPtr<IUnknown> obj;
  HRESULT hr = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
                                IUnknown::iid, obj.PutVoid());
  if (FAILED(hr)) throw EOleSysError(hr);
  return obj;
}

ComPtr<IUnknown> CreateRemoteComObject(const WideString& machine, const CLSID& clsid) {
  bool local = machine.empty() || SameTextAscii(machine.ToUtf8(), LocalComputerName());
  COSERVERINFO info;
  info.pwszName = machine.c_str();
  MULTI_QI qi;
  qi.pIID = &IUnknown::iid;
  HRESULT hr = CoCreateInstanceEx(
      clsid, nullptr, local ? CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER : CLSCTX_REMOTE_SERVER,
      local ? nullptr : &info, 1, &qi);
  if (FAILED(hr)) throw EOleSysError(hr);
  return ComPtr<IUnknown>::Adopt(qi.pItf);
}
