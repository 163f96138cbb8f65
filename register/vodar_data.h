// The register's data module: the one windowless container that holds the register's
// connection and tables, declares them to the host and answers the commodity-code checks.
//
// Its form holds the alias connection vodar_conn and the client tables vodar, vodar_g33,
// vodar_version and omit1532 of database "ТРОИС", with their fields (owned by the data
// module and named after their table). The tables are never opened here: the host reads
// their descriptions, and each check runs a query of its own made from one of them.
#pragma once

#include <memory>
#include <string>

#include "dataaccess/KVTAlias.h"
#include "dataaccess/cdsTable.h"
#include "dataaccess/kvt_event.h"
#include "hostintf/kvt_serverintf.h"
#include "platform/com/widestring.h"
#include "platform/rtl/component.h"

class Tdm : public DataModule {
 public:
  // Builds the stored form. Create it through DataModule::Create<Tdm>(), which then runs
  // the creation handler.
  explicit Tdm(Component* owner = nullptr);
  ~Tdm() override;

  static constexpr char kDatabaseName[] = "ТРОИС";
  static constexpr char kDatabaseFile[] = "vodar.db3";
  // Codes of at least this many UTF-16 characters are full codes (range form); shorter
  // ones are leading parts of a code (prefix form).
  static constexpr size_t kFullCodeLength = 10;

  // The form's components (owned by the data module).
  TcdsTable* vodar = nullptr;
  TKVTAlias* vodar_conn = nullptr;
  TcdsTable* vodar_g33 = nullptr;
  TcdsTable* vodar_version = nullptr;
  TcdsTable* omit1532 = nullptr;

  // The creation handler. With HostServer set: subscribes ServerStopped to "STOPSERVER",
  // gives the host the storage settings, registers vodar_conn with the host's connection
  // registry and attaches it to the host's IKVTServer2, and registers the four tables with
  // the table registry. A service the host does not offer is skipped.
  void DataModuleCreate();
  // Tells `server` where the register is stored: driver "SQLITE", "sqlite.file"
  // <GetDbPath(true)>vodar.db3 and "readonly" "Да", all for "ТРОИС". Nothing without
  // IKVTConfig or IKVTDatabaseConfig.
  void ConfigureStorage(IKVTServer* server);
  // The "STOPSERVER" handler: closes vodar_conn, detaches it from the host and empties
  // HostServer. Harmless when already stopped.
  void ServerStopped(TKVTEvent* sender);
  // The register's folder: the host executable's folder followed by "db3/". With
  // `create`, a missing folder is created with its parents; a failure to create it is
  // ignored.
  std::string GetDbPath(bool create);

  // Whether `code` concerns an object of the register in force, or the order-1532 list.
  // Both checks run every time; errors of the database reach the caller.
  bool CheckCode(const WideString& code);
  // Whether `code` is on the order-1532 list.
  bool CheckOmit(const WideString& code);

 protected:
  void OnCreate() override;

 private:
  // Lives as long as the data module: the event subscription holds it weakly, so that a
  // firing after the data module is gone does nothing.
  std::shared_ptr<Tdm*> alive_;
};

// The one instance, created at start-up without an owner and freed at unload (null before
// start-up and after unload).
extern Tdm* dm;
