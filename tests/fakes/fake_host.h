// A small in-process host for unit tests: answers IKVTServer and the host services a
// module asks for, records what the module hands over, and can be told not to offer a
// service. Every object it hands out is counted (InterfacedObject::LiveObjects()).
//
//   auto host = MakeObject<FakeHost>();
//   host->Offer<IKVTConfig>(false);            // "not offered"
//   HostServer = host;                         // as start-up would
//   ... run module code ...
//   host->events(u"STOPSERVER") ...            // what the module subscribed
#pragma once

#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "hostintf/kvt_dbmanagerintf.h"
#include "hostintf/kvt_serverintf.h"
#include "hostintf/kvt_TLB.h"
#include "moduleinfo/kvt_ModuleInfoIntf.h"
#include "platform/com/object.h"

class FakeVersionStatusItem : public Implements<IVersionStatusItem> {
 public:
  HRESULT SetText(const WideString& text, int32_t param) override {
    texts.push_back(text);
    params.push_back(param);
    return S_OK;
  }
  std::vector<WideString> texts;
  std::vector<int32_t> params;
};

class FakeHost : public Implements<IKVTServer, IKVTServer2, IKVTConfig, IKVTDatabaseConfig,
                                   IKVTConnectionRegistry, IKVTTableRegistry, IModuleRegistrar,
                                   IModuleInfoList, IVersionStatusService, IKVTErrorLog> {
 public:
  // Whether QueryInterface answers the interface (all are offered at first).
  template <class I>
  void Offer(bool on) {
    if (on)
      refused_.erase(I::iid);
    else
      refused_.insert(I::iid);
  }
  // Further objects QueryInterface answers (for example an IDBManager2 fake).
  void AddService(const GUID& iid, ComPtr<IUnknown> obj) { extra_[iid] = std::move(obj); }

  // Raises event `name` with `param` (may be null): every subscribed sink is notified.
  void Raise(const std::u16string& name, IUnknown* param = nullptr);
  // Drops every subscription, service and registration (the host letting go).
  void ReleaseAll();

  // --- IKVTServer
  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Reserved6() override { return E_NOTIMPL; }
  HRESULT Reserved7() override { return E_NOTIMPL; }
  HRESULT Reserved8() override { return E_NOTIMPL; }
  HRESULT Reserved9() override { return E_NOTIMPL; }
  HRESULT Reserved10() override { return E_NOTIMPL; }
  HRESULT RegisterService(IUnknown* obj) override;
  HRESULT Subscribe(const WideString& name, IKVTEventSink* sink) override;
  HRESULT Reserved13() override { return E_NOTIMPL; }
  // --- IKVTServer2 (Reserved1 shared with IKVTServer's first slot)
  HRESULT CreateServerObject(const GUID& class_id, IUnknown** obj) override;
  // --- IKVTConfig
  WideString ReadValue(const WideString& path, const WideString& name,
                       const WideString& default_value) override;
  HRESULT WriteValue(const WideString& path, const WideString& name,
                     const WideString& value) override;
  // (IKVTConfig's slots 3..6 share the Reserved names of IKVTServer)
  // --- IKVTDatabaseConfig
  int32_t GetDatabaseCount() override { return static_cast<int32_t>(databases.size()); }
  WideString GetDatabaseName(int32_t index) override;
  HRESULT AddDatabase(const WideString& database) override;
  HRESULT RemoveDatabase(const WideString& database) override;
  HRESULT SetDriver(const WideString& database, const WideString& driver) override;
  WideString GetDriver(const WideString& database) override;
  WideString GetParam(const WideString& database, const WideString& key) override;
  HRESULT SetParam(const WideString& database, const WideString& key,
                   const WideString& value) override;
  // --- IKVTConnectionRegistry, IKVTTableRegistry, IModuleRegistrar
  HRESULT AddConnection(IKVTAlias* connection) override;
  HRESULT AddTable(const WideString& database, IKVTTableDef* table) override;
  HRESULT RegisterModule(IModuleInfo* info) override;
  // --- IModuleInfoList (a plain list; the real semantics live in the module's list class)
  HRESULT Add(IModuleInfo* info) override;
  HRESULT Remove(IModuleInfo* info) override;
  HRESULT Find(const WideString& name, IModuleInfo** info) override;
  HRESULT GetEnumerator(IEnumModuleInfo** e) override;
  // --- IVersionStatusService
  HRESULT GetItem(const WideString& name, IVersionStatusItem** item) override;
  // --- IKVTErrorLog
  HRESULT LogMessage(const WideString& text) override;
  HRESULT LogWarning(const WideString& text) override;
  HRESULT LogError(const WideString& text) override;

  // What the module handed over or asked for.
  struct Database {
    WideString driver;
    std::map<std::u16string, WideString> params;
  };
  std::map<std::u16string, Database> databases;
  std::map<std::pair<std::u16string, std::u16string>, WideString> config;  // (path, name) -> value
  std::vector<ComPtr<IUnknown>> services;
  std::multimap<std::u16string, ComPtr<IKVTEventSink>> sinks;
  std::vector<IKVTAlias*> connections;                          // not counted by the module
  std::vector<std::pair<WideString, IKVTTableDef*>> tables;     // not counted by the module
  std::vector<ComPtr<IModuleInfo>> registered_modules;
  std::vector<ComPtr<IModuleInfo>> module_list;
  std::map<std::u16string, ComPtr<FakeVersionStatusItem>> status_items;
  HRESULT status_item_result = S_OK;  // what GetItem answers
  std::vector<WideString> errors, messages;
  std::vector<std::string> calls;  // every host operation, in order ("Subscribe STOPSERVER", ...)
  // Server objects CreateServerObject hands out, by class identifier.
  std::map<GUID, std::function<ComPtr<IUnknown>()>> server_objects;
  GUID ServerGUID = "{6E3A3C4B-1D2E-4F50-8A6B-7C8D9E0F1A2B}"_guid;
  // The identifier AddConnection writes into a connection's ServerGUID (empty: none).
  bool write_server_guid = true;

  // Extra services first, then the host's own interfaces, unless refused.
  HRESULT QueryInterface(const GUID& iid, void** obj) override;

  // The IKVTServer of this host as a fresh counted reference.
  ComPtr<IKVTServer> Server() { return ComPtr<IKVTServer>(static_cast<IKVTServer*>(this)); }

 protected:
  bool FindInterface(const GUID& iid, void** obj) noexcept override;

 private:
  std::set<GUID> refused_;
  std::map<GUID, ComPtr<IUnknown>> extra_;
};
