#include "bench/stack.h"

#include "host/pyruntime.h"
#include "host/server.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"

// This process is the host: the module asks it for its server here, as it asks kvthost.
extern "C" __attribute__((visibility("default"))) HRESULT Server_QueryInterface(const GUID& iid,
                                                                                void** obj) {
  if (obj == nullptr) return E_POINTER;
  *obj = nullptr;
  THostServer* server = ExportedServer();
  if (server == nullptr) return E_NOINTERFACE;
  return server->QueryInterface(iid, obj);
}

namespace {
// The register database as the module names it.
constexpr char16_t kRegisterDatabase[] = u"ТРОИС";
}  // namespace

HostStack::HostStack(const std::string& settings_path, const std::string& register_file)
    : server_(MakeObject<THostServer>(settings_path)), python_(std::make_unique<PythonRuntime>()) {
  server_->Settings().SetSqliteFileOverride(register_file);
  SetExportedServer(server_.Get());
  if (!python_->Start({"kvtbench"}, &error_)) {
    error_ = "cannot start Python: " + error_;
    return;
  }
  if (!python_->ImportModule(&error_)) {
    error_ = "cannot import the module dudoreri: " + error_;
    return;
  }
  python_->ImportHostPackage();
  python_->ReleaseLock();
  for (const ComPtr<IUnknown>& service : server_->Services())
    if (auto manager = service.TryAs<IVodarManager>()) manager_ = manager;
  if (!manager_) error_ = "the module registered no IVodarManager with the host";
}

HostStack::~HostStack() {
  manager_ = nullptr;
  server_->Stop();
  python_->Finalize();
  SetExportedServer(nullptr);
}

void HostStack::UseRegister(const std::string& file) {
  server_->Settings().SetSqliteFileOverride(file);
}

bool HostStack::CheckCode(std::string_view code) {
  bool found = false;
  const HRESULT hr = manager_->CheckCode(WideString(Utf8ToUtf16(code)), &found);
  if (hr != S_OK) throw EOleSysError("IVodarManager.CheckCode failed", hr);
  return found;
}

bool HostStack::HostHasPrepared(const std::string& sql) {
  std::lock_guard lock(server_->Data()->Mutex());
  SqliteDatabase& db = server_->Data()->Databases().Open(std::u16string_view(kRegisterDatabase));
  const uint64_t before = db.Preparations();
  db.Prepare(std::string_view(sql));
  return db.Preparations() == before;
}
