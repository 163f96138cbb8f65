#include "tests/fakes/fake_register.h"

ComPtr<IKVTTableinfo> FakeCheckManager::OpenSQL(const WideString& database, const WideString& sql,
                                                IKVTParams* params, bool unidirectional, bool flag,
                                                Variant& table_def) {
  const bool is_register = sql.ToUtf8().find("FROM vodar_g33") != std::string::npos;
  auto result = MakeObject<FakeOpenSQLResult>();
  result->provider = (is_register ? register_match : omit_match) ? u"yes" : u"no";
  answer = result;
  return FakeQueryManager::OpenSQL(database, sql, params, unidirectional, flag, table_def);
}

FakeRegisterHost::FakeRegisterHost() {
  server->AddTable("yes", {{"ex", ftInteger, 0}}, {{Variant(int32_t{1})}});
  server->AddTable("no", {{"ex", ftInteger, 0}}, {{Variant(int32_t{0})}});
  host->server_objects[host->ServerGUID] = [s = server] {
    return ComPtr<IUnknown>(static_cast<IUnknown*>(static_cast<IAppServer*>(s.Get())));
  };
  host->AddService(IDBManager2::iid, manager);
}

FakeRegisterHost::~FakeRegisterHost() {
  host->ReleaseAll();
  host->server_objects.clear();
}
