// The host server: the object a module receives from Server_QueryInterface. It answers
// IKVTServer (all thirteen operations in slot order) and IKVTServer2, keeps the services
// modules register and the event sinks they subscribe, raises named events, and answers
// the host's other services by QueryInterface:
//
//   IKVTConfig, IKVTDatabaseConfig       the settings (settings.h)
//   IDBManager2                          the database manager (dbmanager.h)
//   IKVTConnectionRegistry, IKVTTableRegistry, IKVTErrorLog   (registries.h)
//   IModuleRegistrar, IModuleInfoList    the module list (modulelist.h)
//   IVersionStatusService                the version texts (modulelist.h)
//
// CreateServerObject makes an application-server object (appserver.h) for
// CLSID_KvtHostAppServer and answers REGDB_E_CLASSNOTREG for any other class.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "host/dataservice.h"
#include "host/dbmanager.h"
#include "host/modulelist.h"
#include "host/registries.h"
#include "host/settings.h"
#include "hostintf/kvt_serverintf.h"
#include "platform/com/object.h"

class THostServer : public Implements<IKVTServer, IKVTServer2> {
 public:
  // `settings_path`: the settings file (kvthost.ini); the log file lies beside it.
  explicit THostServer(const std::string& settings_path);

  // Traced: "QueryInterface {iid} -> S_OK | E_NOINTERFACE".
  HRESULT QueryInterface(const GUID& iid, void** obj) override;

  // --- IKVTServer (and IKVTServer2's first slot)
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
  // Keeps `obj` (a reference) until Stop.
  HRESULT RegisterService(IUnknown* obj) override;
  // Keeps `sink` (a reference) and notifies it whenever `name` is raised, until Stop.
  HRESULT Subscribe(const WideString& name, IKVTEventSink* sink) override;
  HRESULT Reserved13() override { return E_NOTIMPL; }

  // --- IKVTServer2
  // *obj receives a new application-server object for CLSID_KvtHostAppServer.
  HRESULT CreateServerObject(const GUID& class_id, IUnknown** obj) override;

  // --- The host's side
  // Notifies every sink subscribed to `name`, in subscription order, with `param` (may be
  // null). A sink's error is reported on stderr and does not stop the others.
  void RaiseEvent(const std::u16string& name, IUnknown* param = nullptr);
  // Raises "STOPSERVER", then lets go of every service, subscription, connection, table,
  // module entry and status item, and closes the databases. The host does this before it
  // shuts Python down; doing it again changes nothing.
  void Stop();
  // The services registered so far (added references).
  std::vector<ComPtr<IUnknown>> Services() const { return services_; }
  // The storage setting `key` of a database as the host uses it ("" when none).
  WideString DatabaseParam(const WideString& database, const WideString& key) const;

  THostSettings& Settings() const { return *settings_; }
  const std::shared_ptr<DataService>& Data() const { return data_; }
  TDBManager& DBManager() const { return *db_manager_; }
  THostErrorLog& ErrorLog() const { return *log_; }
  TConnectionRegistry& Connections() const { return *connections_; }
  TTableRegistry& Tables() const { return *tables_; }
  THostModuleList& Modules() const { return *modules_; }
  TVersionStatusService& VersionStatus() const { return *status_; }

 protected:
  ~THostServer() override;

 private:
  ComPtr<THostSettings> settings_;
  std::shared_ptr<DataService> data_;
  ComPtr<TDBManager> db_manager_;
  ComPtr<THostErrorLog> log_;
  ComPtr<TConnectionRegistry> connections_;
  ComPtr<TTableRegistry> tables_;
  ComPtr<THostModuleList> modules_;
  ComPtr<TVersionStatusService> status_;
  std::vector<ComPtr<IUnknown>> services_;
  std::multimap<std::u16string, ComPtr<IKVTEventSink>> sinks_;
};

// The server that the exported Server_QueryInterface hands out (null: none, and the
// function answers E_NOINTERFACE). The host sets it while it runs.
void SetExportedServer(THostServer* server);
THostServer* ExportedServer();

// The folder of a file path, with its trailing "/" ("" for a bare name).
std::string FolderOf(const std::string& path);
