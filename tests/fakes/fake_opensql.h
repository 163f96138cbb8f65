// A host database manager for unit tests that only answers OpenSQL: it records each call
// and answers a prepared result set (or none), or raises a prepared error.
//
//   auto manager = MakeObject<FakeOpenSQLManager>();
//   manager->answer = MakeObject<FakeOpenSQLResult>();
//   host->AddService(IDBManager2::iid, manager);
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "hostintf/kvt_dbmanagerintf.h"
#include "platform/com/object.h"

// A result set description as the host would answer it.
class FakeOpenSQLResult : public Implements<IKVTTableinfo> {
 public:
  WideString GetDatabaseName() override { return database; }
  WideString GetServerGUID() override { return server_guid; }
  WideString GetProviderName() override { return provider; }
  int32_t GetRecordCount() override { return record_count; }
  WideString GetSQL() override { return sql; }
  WideString GetTableName() override { return table; }

  WideString database, server_guid, provider, sql, table;
  int32_t record_count = 0;
};

class FakeOpenSQLManager : public Implements<IDBManager2> {
 public:
  struct Call {
    WideString database, sql;
    bool had_params, unidirectional, flag, table_def_empty;
  };

  ComPtr<IKVTTableinfo> OpenSQL(const WideString& database, const WideString& sql,
                                IKVTParams* params, bool unidirectional, bool flag,
                                Variant& table_def) override;

  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  HRESULT Reserved7() override { return E_NOTIMPL; }
  HRESULT Reserved8() override { return E_NOTIMPL; }
  HRESULT Reserved9() override { return E_NOTIMPL; }
  HRESULT Reserved10() override { return E_NOTIMPL; }
  HRESULT Reserved11() override { return E_NOTIMPL; }
  HRESULT Reserved12() override { return E_NOTIMPL; }
  HRESULT Reserved13() override { return E_NOTIMPL; }
  HRESULT Reserved14() override { return E_NOTIMPL; }
  HRESULT Reserved15() override { return E_NOTIMPL; }
  HRESULT Reserved16() override { return E_NOTIMPL; }
  HRESULT Reserved17() override { return E_NOTIMPL; }
  HRESULT Reserved18() override { return E_NOTIMPL; }

  ComPtr<IKVTTableinfo> answer;      // what OpenSQL answers (empty: nothing)
  std::optional<std::string> error;  // when set, OpenSQL raises EDatabaseError with it
  std::vector<Call> calls;
};
