// TKVTAlias: the connection the module's tables use. It names a database, gets its
// application server from the host (IKVTServer2::CreateServerObject for its ServerGUID)
// when attached and LoadFromFile is set, and falls back to COM activation otherwise. The
// host reads and sets it through IKVTAlias, which does not count references: the alias
// lives as long as its owner keeps it.
#pragma once

#include <string>

#include "dataaccess/kvtmconnect.h"
#include "hostintf/kvt_TLB.h"
#include "hostintf/kvt_dbmanagerintf.h"
#include "hostintf/kvt_serverintf.h"
#include "platform/com/object.h"

class TKVTAlias : public NonCounting<TKVTDCOMConnection, IKVTAlias> {
 public:
  // LoadFromFile starts True.
  explicit TKVTAlias(Component* owner = nullptr);
  // Releases HostServer2 and DBManager, then disconnects.
  ~TKVTAlias() override;

  bool LoadFromFile() const { return load_from_file_; }
  void SetLoadFromFile(bool value) { load_from_file_ = value; }
  const std::string& DriverType() const { return driver_type_; }
  void SetDriverType(std::string_view value);
  const std::string& Databasename() const { return databasename_; }
  void SetDatabasename(std::string_view value);

  const ComPtr<IKVTServer2>& HostServer2() const { return host_server2_; }
  // The host's database manager, or empty when detached or not offered.
  const ComPtr<IDBManager2>& DBManager() const { return db_manager_; }
  // Attaches the host (keeps `server` and its IDBManager2, if offered) or, with null,
  // detaches. Neither connects nor disconnects.
  void SetHostServer(IKVTServer2* server);
  // The connected server object's IKVTDatabaseInfo, or empty when it has none (or the
  // alias is not connected).
  ComPtr<IKVTDatabaseInfo> GetDatabaseInfo();

  // The component's own ServerGUID text property, beside IKVTAlias's wide one.
  using TKVTDCOMConnection::SetServerGUID;

  // --- IKVTAlias
  WideString GetDatabasename() override;
  HRESULT SetDatabasename(const WideString& name) override;
  WideString GetParamText() override;
  HRESULT SetParamText(const WideString& text) override;
  WideString GetServerGUID() override;
  HRESULT SetServerGUID(const WideString& guid) override;
  WideString GetDriverType() override;

 protected:
  // Through the host when LoadFromFile is set and a host is attached; by COM otherwise.
  void DoConnect() override;

 private:
  bool load_from_file_ = true;
  std::string driver_type_;
  std::string databasename_;
  ComPtr<IKVTServer2> host_server2_;
  ComPtr<IDBManager2> db_manager_;
};
