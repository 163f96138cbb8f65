#include "host/dbmanager.h"

#include "host/trace.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/exceptions.h"

namespace {

// The braced text of the application server's class, made once.
const WideString& ServerGuidText() {
  static const WideString text = GUIDToWide(CLSID_KvtHostAppServer);
  return text;
}

// The one table every column comes from, or "" (expressions, joins).
std::string OriginTable(const std::vector<ResultColumn>& columns) {
  std::string table;
  for (const ResultColumn& c : columns) {
    if (c.origin_table.empty()) return {};
    if (table.empty())
      table = c.origin_table;
    else if (table != c.origin_table)
      return {};
  }
  return table;
}

}  // namespace

WideString THostFieldInfo::GetFieldName() {
  return WideString::FromUtf8(column_.name);
}

HRESULT TResultTableDef::SetFullname(const WideString& name) {
  fullname_ = name;
  return S_OK;
}

HRESULT TResultTableDef::SetTableName(const WideString& name) {
  table_name_ = name;
  return S_OK;
}

HRESULT TResultTableDef::SetProviderName(const WideString& name) {
  provider_ = name;
  return S_OK;
}

ComPtr<IKVTFieldInfo> TResultTableDef::GetField(int32_t index) {
  if (Tracing()) Trace("IKVTTableDef.GetField " + std::to_string(index));
  if (index < 0 || static_cast<size_t>(index) >= columns_.size())
    throw EListError::IndexOutOfBounds(index);
  return MakeObject<THostFieldInfo>(columns_[static_cast<size_t>(index)]);
}

ComPtr<IKVTIndexInfo> TResultTableDef::GetIndex(int32_t index) {
  throw EListError::IndexOutOfBounds(index);
}

ComPtr<IKVTTableinfo> TDBManager::OpenSQL(const WideString& database, const WideString& sql,
                                          IKVTParams* params, bool, bool, Variant& table_def) {
  if (Tracing()) Trace("IDBManager2.OpenSQL " + database.ToUtf8() + ": " + sql.ToUtf8());
  auto result = std::make_shared<ResultProvider>();
  std::string table;
  {
    std::lock_guard lock(service_->Mutex());
    SqliteDatabase& db = service_->Databases().Open(database.str());
    std::shared_ptr<Statement> statement = db.Prepare(sql.str());
    if (!statement->ReadOnly() && db.ReadOnly())
      throw EDatabaseError("Database \"" + db.Name() +
                           "\" is read-only: the statement would change it");
    StatementRun run(*statement);
    BindParams(*statement, params);
    result->rows = ReadRows(db, *statement, result->cells);
    result->columns = DescribeColumns(statement->Columns(), result->cells, result->rows);
    result->database = db.Name();
    table = OriginTable(result->columns);
  }
  const int32_t rows = static_cast<int32_t>(std::min<size_t>(result->rows, INT32_MAX));
  std::vector<ResultColumn> columns;
  const bool describe = table_def.Deref().IsEmpty();
  if (describe) columns = result->columns;
  std::shared_ptr<ProviderLease> lease = service_->AddResult(std::move(result));
  const WideString lease_name = lease->Name();
  TResultInfo::Data data;
  data.database = database;
  data.server_guid = ServerGuidText();
  data.provider = lease_name;
  data.sql = sql;
  data.table_name = WideString::FromUtf8(table);
  data.record_count = rows;
  ComPtr<TResultInfo> info = MakeObject<TResultInfo>(std::move(data), std::move(lease));
  if (describe) {
    ComPtr<TResultTableDef> def =
        MakeObject<TResultTableDef>(std::move(columns), WideString::FromUtf8(table), lease_name);
    table_def.Deref() = Variant(ComPtr<IUnknown>(static_cast<IKVTTableDef*>(def.Get())));
  }
  if (Tracing())
    Trace("IDBManager2.OpenSQL -> " + lease_name.ToUtf8() + ", " + std::to_string(rows) + " rows");
  return info;
}
