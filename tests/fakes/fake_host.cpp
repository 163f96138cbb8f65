#include "tests/fakes/fake_host.h"

#include "platform/com/guid.h"

namespace {
std::string Utf8(const WideString& w) { return w.ToUtf8(); }

class FakeEnum : public Implements<IEnumModuleInfo> {
 public:
  explicit FakeEnum(std::vector<ComPtr<IModuleInfo>> items) : items_(std::move(items)) {}
  HRESULT Next(IModuleInfo** info) override {
    if (pos_ >= items_.size()) return S_FALSE;
    *info = ComPtr<IModuleInfo>(items_[pos_++]).Detach();
    return S_OK;
  }

 private:
  std::vector<ComPtr<IModuleInfo>> items_;
  size_t pos_ = 0;
};
}  // namespace

HRESULT FakeHost::QueryInterface(const GUID& iid, void** obj) {
  if (obj == nullptr) return E_POINTER;
  *obj = nullptr;
  if (refused_.count(iid)) return E_NOINTERFACE;
  auto it = extra_.find(iid);
  if (it != extra_.end()) return it->second->QueryInterface(iid, obj);
  return Implements::QueryInterface(iid, obj);
}

bool FakeHost::FindInterface(const GUID& iid, void** obj) noexcept {
  return !refused_.count(iid) && Implements::FindInterface(iid, obj);
}

void FakeHost::Raise(const std::u16string& name, IUnknown* param) {
  calls.push_back("Raise " + Utf8(name));
  std::vector<ComPtr<IKVTEventSink>> targets;
  auto range = sinks.equal_range(name);
  for (auto it = range.first; it != range.second; ++it) targets.push_back(it->second);
  for (auto& s : targets) s->Notify(param);
}

void FakeHost::ReleaseAll() {
  sinks.clear();
  services.clear();
  registered_modules.clear();
  module_list.clear();
  status_items.clear();
  connections.clear();
  tables.clear();
  extra_.clear();
}

HRESULT FakeHost::RegisterService(IUnknown* obj) {
  calls.push_back("RegisterService");
  services.emplace_back(obj);
  return S_OK;
}

HRESULT FakeHost::Subscribe(const WideString& name, IKVTEventSink* sink) {
  calls.push_back("Subscribe " + Utf8(name));
  sinks.emplace(name.str(), ComPtr<IKVTEventSink>(sink));
  return S_OK;
}

HRESULT FakeHost::CreateServerObject(const GUID& class_id, IUnknown** obj) {
  calls.push_back("CreateServerObject " + GUIDToString(class_id));
  *obj = nullptr;
  auto it = server_objects.find(class_id);
  if (it == server_objects.end()) return REGDB_E_CLASSNOTREG;
  *obj = it->second().Detach();
  return S_OK;
}

WideString FakeHost::ReadValue(const WideString& path, const WideString& name,
                               const WideString& default_value) {
  calls.push_back("ReadValue " + Utf8(path) + " " + Utf8(name));
  auto it = config.find({path.str(), name.str()});
  return it == config.end() ? default_value : it->second;
}

HRESULT FakeHost::WriteValue(const WideString& path, const WideString& name,
                             const WideString& value) {
  calls.push_back("WriteValue " + Utf8(path) + " " + Utf8(name) + " " + Utf8(value));
  config[{path.str(), name.str()}] = value;
  return S_OK;
}

WideString FakeHost::GetDatabaseName(int32_t index) {
  for (const auto& [name, db] : databases)
    if (index-- == 0) return WideString(name);
  return {};
}

HRESULT FakeHost::AddDatabase(const WideString& database) {
  databases[database.str()];
  return S_OK;
}

HRESULT FakeHost::RemoveDatabase(const WideString& database) {
  return databases.erase(database.str()) ? S_OK : S_FALSE;
}

HRESULT FakeHost::SetDriver(const WideString& database, const WideString& driver) {
  calls.push_back("SetDriver " + Utf8(database) + " " + Utf8(driver));
  databases[database.str()].driver = driver;
  return S_OK;
}

WideString FakeHost::GetDriver(const WideString& database) {
  auto it = databases.find(database.str());
  return it == databases.end() ? WideString() : it->second.driver;
}

WideString FakeHost::GetParam(const WideString& database, const WideString& key) {
  auto it = databases.find(database.str());
  if (it == databases.end()) return {};
  auto p = it->second.params.find(key.str());
  return p == it->second.params.end() ? WideString() : p->second;
}

HRESULT FakeHost::SetParam(const WideString& database, const WideString& key,
                           const WideString& value) {
  calls.push_back("SetParam " + Utf8(database) + " " + Utf8(key) + " " + Utf8(value));
  databases[database.str()].params[key.str()] = value;
  return S_OK;
}

HRESULT FakeHost::AddConnection(IKVTAlias* connection) {
  calls.push_back("AddConnection");
  connections.push_back(connection);
  if (write_server_guid && connection) connection->SetServerGUID(GUIDToWide(ServerGUID));
  return S_OK;
}

HRESULT FakeHost::AddTable(const WideString& database, IKVTTableDef* table) {
  calls.push_back("AddTable " + Utf8(database) + " " + (table ? Utf8(table->GetTableName()) : ""));
  tables.emplace_back(database, table);
  return S_OK;
}

HRESULT FakeHost::RegisterModule(IModuleInfo* info) {
  calls.push_back("RegisterModule");
  registered_modules.emplace_back(info);
  return S_OK;
}

HRESULT FakeHost::Add(IModuleInfo* info) {
  calls.push_back("ModuleList.Add");
  if (info) module_list.emplace_back(info);
  return S_OK;
}

HRESULT FakeHost::Remove(IModuleInfo* info) {
  std::erase_if(module_list, [&](const ComPtr<IModuleInfo>& m) { return m.Get() == info; });
  return S_OK;
}

HRESULT FakeHost::Find(const WideString& name, IModuleInfo** info) {
  *info = nullptr;
  for (auto& m : module_list)
    if (m->GetName() == name) {
      *info = ComPtr<IModuleInfo>(m).Detach();
      return S_OK;
    }
  return S_FALSE;
}

HRESULT FakeHost::GetEnumerator(IEnumModuleInfo** e) {
  if (module_list.empty()) return S_FALSE;
  *e = MakeObject<FakeEnum>(module_list).Detach();
  return S_OK;
}

HRESULT FakeHost::GetItem(const WideString& name, IVersionStatusItem** item) {
  calls.push_back("GetItem " + Utf8(name));
  *item = nullptr;
  if (status_item_result != S_OK) return status_item_result;
  auto& slot = status_items[name.str()];
  if (!slot) slot = MakeObject<FakeVersionStatusItem>();
  *item = ComPtr<IVersionStatusItem>(slot).Detach();
  return S_OK;
}

HRESULT FakeHost::LogMessage(const WideString& text) {
  messages.push_back(text);
  return S_OK;
}

HRESULT FakeHost::LogWarning(const WideString& text) {
  messages.push_back(text);
  return S_OK;
}

HRESULT FakeHost::LogError(const WideString& text) {
  calls.push_back("LogError " + Utf8(text));
  errors.push_back(text);
  return S_OK;
}
