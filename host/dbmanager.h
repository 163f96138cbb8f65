// The host's database manager (IDBManager2). OpenSQL runs a statement on a configured
// SQLite database and keeps its rows in a result provider on the application server; the
// answer (IKVTTableinfo) names that provider and keeps it alive. The other operations of
// IDBManager2 are not offered (E_NOTIMPL).
//
// OpenSQL, step by step:
//   1. the database by name (opened on first use, read-only when its "readonly" says so);
//   2. the statement, prepared once per distinct SQL text and reused;
//   3. every parameter bound by name from the IKVTParams (sqlitedb.h, BindParams);
//   4. all rows read; a statement that would write a read-only database is refused;
//   5. a result provider made, and the answer: database name, the application server's
//      class identifier, provider name, record count, SQL text and, when the columns come
//      from one table, its name;
//   6. when the caller's description variable is empty, an IKVTTableDef of the result's
//      columns is put into it.
// `unidirectional` and the second flag do not change what the host does. Errors are raised
// as EDatabaseError; nothing is left behind by a failing call.
#pragma once

#include <memory>

#include "host/dataservice.h"
#include "host/trace.h"
#include "hostintf/kvt_TLB.h"
#include "hostintf/kvt_dbmanagerintf.h"
#include "platform/com/object.h"

// A field description handed out by the host's table descriptions.
class THostFieldInfo : public Implements<IKVTFieldInfo> {
 public:
  explicit THostFieldInfo(const ResultColumn& column) : column_(column) {}
  WideString GetFieldName() override;
  int32_t GetDataType() override { return column_.type; }
  int32_t GetSize() override { return column_.size; }
  int32_t GetRequired() override { return column_.required ? 1 : 0; }
  int32_t GetFieldKind() override { return 0; }
  WideString GetDisplayLabel() override { return GetFieldName(); }

 private:
  ResultColumn column_;
};

// The description of a result's columns (no indexes).
class TResultTableDef : public Implements<IKVTTableDef> {
 public:
  TResultTableDef(std::vector<ResultColumn> columns, WideString table_name, WideString provider)
      : columns_(std::move(columns)),
        table_name_(std::move(table_name)),
        fullname_(table_name_),
        provider_(std::move(provider)) {}

  WideString GetFullname() override { return TraceAnswer("IKVTTableDef.GetFullname", fullname_); }
  HRESULT SetFullname(const WideString& name) override;
  WideString GetTableName() override {
    return TraceAnswer("IKVTTableDef.GetTableName", table_name_);
  }
  HRESULT SetTableName(const WideString& name) override;
  int32_t GetFieldCount() override {
    return TraceAnswer("IKVTTableDef.GetFieldCount", static_cast<int32_t>(columns_.size()));
  }
  // Raises EListError outside 0 .. GetFieldCount() - 1.
  ComPtr<IKVTFieldInfo> GetField(int32_t index) override;
  int32_t GetIndexCount() override { return TraceAnswer("IKVTTableDef.GetIndexCount", 0); }
  ComPtr<IKVTIndexInfo> GetIndex(int32_t index) override;  // raises EListError
  WideString GetProviderName() override {
    return TraceAnswer("IKVTTableDef.GetProviderName", provider_);
  }
  HRESULT SetProviderName(const WideString& name) override;
  int32_t GetUpdateType() override { return TraceAnswer("IKVTTableDef.GetUpdateType", umNone); }

 private:
  std::vector<ResultColumn> columns_;
  WideString table_name_, fullname_, provider_;
};

// A result set: what OpenSQL answers. Holding it keeps its provider.
class TResultInfo : public Implements<IKVTTableinfo> {
 public:
  struct Data {
    WideString database, server_guid, provider, sql, table_name;
    int32_t record_count = 0;
  };
  TResultInfo(Data data, std::shared_ptr<ProviderLease> lease)
      : data_(std::move(data)), lease_(std::move(lease)) {}

  WideString GetDatabaseName() override {
    return TraceAnswer("IKVTTableinfo.GetDatabaseName", data_.database);
  }
  WideString GetServerGUID() override {
    return TraceAnswer("IKVTTableinfo.GetServerGUID", data_.server_guid);
  }
  WideString GetProviderName() override {
    return TraceAnswer("IKVTTableinfo.GetProviderName", data_.provider);
  }
  int32_t GetRecordCount() override {
    return TraceAnswer("IKVTTableinfo.GetRecordCount", data_.record_count);
  }
  WideString GetSQL() override { return TraceAnswer("IKVTTableinfo.GetSQL", data_.sql); }
  WideString GetTableName() override {
    return TraceAnswer("IKVTTableinfo.GetTableName", data_.table_name);
  }

 private:
  Data data_;
  std::shared_ptr<ProviderLease> lease_;
};

class TDBManager : public Implements<IDBManager2> {
 public:
  explicit TDBManager(std::shared_ptr<DataService> service) : service_(std::move(service)) {}

  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  ComPtr<IKVTTableinfo> OpenSQL(const WideString& database, const WideString& sql,
                                IKVTParams* params, bool unidirectional, bool flag,
                                Variant& table_def) override;
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

  const std::shared_ptr<DataService>& Service() const { return service_; }

 private:
  std::shared_ptr<DataService> service_;
};
