#include "host/appserver.h"

#include <sqlite3.h>

#include <algorithm>

#include "host/hosttext.h"
#include "host/trace.h"
#include "platform/com/dispinvoke.h"
#include "platform/db/packet.h"
#include "platform/db/params.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

namespace {

const WideString kSource = u"kvthost";

// Runs a method body; an error becomes a result code with the thread's error information.
template <class F>
HRESULT SafeCall(F body) {
  try {
    body();
    return S_OK;
  } catch (...) {
    return HandleSafeCallException(std::current_exception(), IAppServer::iid, kSource, {});
  }
}

[[noreturn]] void NotOffered(const char* method) {
  throw EOleSysError(std::string(method) + " is not offered by the kvthost application server",
                     E_NOTIMPL);
}

std::vector<PacketColumn> PacketColumns(const std::vector<ResultColumn>& columns) {
  std::vector<PacketColumn> out;
  out.reserve(columns.size());
  for (const ResultColumn& c : columns) {
    PacketColumn p;
    p.name = c.name;
    p.type = c.type;
    p.size = c.type == ftString ? c.size : 0;
    p.required = c.required;
    p.flags = c.flags;
    out.push_back(std::move(p));
  }
  return out;
}

Variant EncodeRows(const std::vector<ResultColumn>& columns, const std::vector<SqlValue>& cells,
                   size_t first, size_t count) {
  const size_t width = columns.size();
  std::vector<std::vector<Variant>> rows(count);
  for (size_t r = 0; r < count; ++r) {
    rows[r].reserve(width);
    for (size_t c = 0; c < width; ++c)
      rows[r].push_back(ColumnValue(columns[c], cells[(first + r) * width + c]));
  }
  return EncodeDataPacket(PacketColumns(columns), std::move(rows));
}

const TableColumn* FindColumn(const std::vector<TableColumn>& columns, std::string_view name) {
  for (const TableColumn& c : columns)
    if (EqualsNoCase(c.name, name)) return &c;
  return nullptr;
}

// A refused change: SQLite's message and the error code the client sees.
struct Refusal {
  std::string message;
  int32_t code = 0;
};

// The value of a delta column as the table stores it: dates as ISO text of the column's
// kind (a date column holds "YYYY-MM-DD"), everything else as BindValue binds it.
void BindColumnValue(sqlite3_stmt* st, int index, const Variant& value, FieldType type,
                     const std::string& name) {
  const Variant& v = value.Deref();
  if (!v.IsEmptyOrNull() && (v.VType() == varDate || type == ftDate || type == ftTime)) {
    try {
      double d = v.ToDate();
      std::string text = type == ftDate   ? FormatDateISO(d)
                         : type == ftTime ? FormatDateTimeISO(d).substr(11)
                                          : FormatDateTimeISO(d);
      sqlite3_bind_text64(st, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
      return;
    } catch (const Exception&) {
      // Not a date after all: bound as it is.
    }
  }
  BindValue(st, index, v, type, name);
}

// One delta column as the target table knows it.
struct TargetColumn {
  int delta_index;
  std::string table_column;
  FieldType type;
  ProviderFlags flags;
};

class Applier {
 public:
  Applier(SqliteDatabase& db, std::string table, std::vector<TargetColumn> columns,
          std::vector<size_t> key)
      : db_(db), table_(std::move(table)), columns_(std::move(columns)), key_(std::move(key)) {}

  // Applies one change; raises Refusal.
  void Apply(const DeltaChange& change) {
    switch (change.kind) {
      case ukInsert:
        return Insert(change.current);
      case ukModify:
        return Modify(change.original, change.current);
      case ukDelete:
        return Delete(change.original);
    }
    throw Refusal{"Unknown kind of change", 0};
  }

 private:
  [[noreturn]] void Fail() {
    int code = sqlite3_extended_errcode(db_.Handle());
    bool duplicate = code == SQLITE_CONSTRAINT_PRIMARYKEY || code == SQLITE_CONSTRAINT_UNIQUE;
    throw Refusal{sqlite3_errmsg(db_.Handle()), duplicate ? kKeyViolation : code};
  }

  std::string Where(int& next_param) const {
    std::string where;
    for (size_t k : key_) {
      where += where.empty() ? " WHERE " : " AND ";
      where += QuoteIdentifier(columns_[k].table_column) + " IS ?" + std::to_string(next_param++);
    }
    return where;
  }

  // Runs a prepared change with its values; answers the rows it touched.
  int64_t Run(const std::string& sql,
              const std::vector<std::pair<const Variant*, size_t>>& values) {
    std::shared_ptr<Statement> st;
    try {
      st = db_.Prepare(sql);
    } catch (const EDatabaseError&) {
      Fail();
    }
    StatementRun run(*st);
    for (size_t i = 0; i < values.size(); ++i) {
      const TargetColumn& c = columns_[values[i].second];
      try {
        BindColumnValue(st->Handle(), static_cast<int>(i + 1), *values[i].first, c.type,
                        c.table_column);
      } catch (const EDatabaseError& e) {
        throw Refusal{e.Message(), 0};
      }
    }
    if (sqlite3_step(st->Handle()) != SQLITE_DONE) Fail();
    return sqlite3_changes64(db_.Handle());
  }

  void ExpectOne(int64_t changed) const {
    if (changed == 1) return;
    if (changed == 0) throw Refusal{"Record not found or changed by another user", 0};
    throw Refusal{
        "The key does not identify one record (" + std::to_string(changed) + " records match)", 0};
  }

  // A value the client made up for a new row of an auto-increment column.
  static bool Provisional(const Variant& v) {
    if (v.IsEmptyOrNull()) return true;
    try {
      return v.ToInt64() <= 0;
    } catch (const Exception&) {
      return false;
    }
  }

  void Insert(const std::vector<Variant>& row) {
    std::string names, marks;
    std::vector<std::pair<const Variant*, size_t>> values;
    for (size_t i = 0; i < columns_.size(); ++i) {
      const TargetColumn& c = columns_[i];
      if (!(c.flags & pfInUpdate)) continue;
      const Variant& v = row[static_cast<size_t>(c.delta_index)];
      // The database numbers new rows of an auto-increment column.
      if (c.type == ftAutoInc && Provisional(v)) continue;
      names += (names.empty() ? "" : ", ") + QuoteIdentifier(c.table_column);
      marks += (marks.empty() ? "?" : ", ?") + std::to_string(values.size() + 1);
      values.emplace_back(&v, i);
    }
    std::string sql =
        "INSERT INTO " + QuoteIdentifier(table_) +
        (names.empty() ? " DEFAULT VALUES" : " (" + names + ") VALUES (" + marks + ")");
    Run(sql, values);
  }

  void Modify(const std::vector<Variant>& original, const std::vector<Variant>& current) {
    std::string sets;
    std::vector<std::pair<const Variant*, size_t>> values;
    for (size_t i = 0; i < columns_.size(); ++i) {
      const TargetColumn& c = columns_[i];
      if (!(c.flags & pfInUpdate)) continue;
      sets += (sets.empty() ? "" : ", ") + QuoteIdentifier(c.table_column) + " = ?" +
              std::to_string(values.size() + 1);
      values.emplace_back(&current[static_cast<size_t>(c.delta_index)], i);
    }
    if (sets.empty()) return;  // nothing the server may write
    int next = static_cast<int>(values.size()) + 1;
    std::string sql = "UPDATE " + QuoteIdentifier(table_) + " SET " + sets + Where(next);
    for (size_t k : key_)
      values.emplace_back(&original[static_cast<size_t>(columns_[k].delta_index)], k);
    ExpectOne(Run(sql, values));
  }

  void Delete(const std::vector<Variant>& original) {
    int next = 1;
    std::string sql = "DELETE FROM " + QuoteIdentifier(table_) + Where(next);
    std::vector<std::pair<const Variant*, size_t>> values;
    for (size_t k : key_)
      values.emplace_back(&original[static_cast<size_t>(columns_[k].delta_index)], k);
    ExpectOne(Run(sql, values));
  }

  SqliteDatabase& db_;
  std::string table_;
  std::vector<TargetColumn> columns_;
  std::vector<size_t> key_;  // positions in columns_
};

// Reads a table provider's rows and describes its columns from the table's declaration.
Variant ReadTable(SqliteDatabase& db, const std::string& table, int32_t count,
                  const Variant* params_packet, size_t& rows_out) {
  std::vector<TableColumn> declared = db.TableColumns(table);
  if (declared.empty())
    throw EDatabaseError("Database \"" + db.Name() + "\" has no table \"" + table + "\"");
  Params params;
  if (params_packet != nullptr) DecodeParams(params_packet->Deref(), params);
  std::string sql = "SELECT * FROM " + QuoteIdentifier(table);
  std::vector<const Param*> filters;
  for (int i = 0; i < params.Count(); ++i) {
    const Param& p = params[i];
    const TableColumn* c = FindColumn(declared, p.Name());
    if (c == nullptr) continue;
    sql += filters.empty() ? " WHERE " : " AND ";
    sql += QuoteIdentifier(c->name) + " = ?" + std::to_string(filters.size() + 1);
    filters.push_back(&p);
  }
  if (count >= 0) sql += " LIMIT " + std::to_string(count);
  std::shared_ptr<Statement> st = db.Prepare(sql);
  StatementRun run(*st);
  for (size_t i = 0; i < filters.size(); ++i)
    BindValue(st->Handle(), static_cast<int>(i + 1), filters[i]->Value(), filters[i]->DataType(),
              filters[i]->Name());
  std::vector<SqlValue> cells;
  size_t rows = ReadRows(db, *st, cells);
  std::vector<ResultColumn> columns = DescribeColumns(st->Columns(), cells, rows);
  int key_columns = 0;
  for (const TableColumn& c : declared) key_columns += c.primary_key > 0 ? 1 : 0;
  for (ResultColumn& rc : columns) {
    const TableColumn* c = FindColumn(declared, rc.name);
    if (c == nullptr) continue;
    bool rowid = key_columns == 1 && c->primary_key > 0 && EqualsNoCase(c->decl_type, "INTEGER");
    if (c->primary_key > 0) rc.flags |= pfInKey;
    if (rowid && rc.type == ftInteger) rc.type = ftAutoInc;
    rc.required = c->not_null && !c->has_default && !rowid;
  }
  rows_out = rows;
  return EncodeRows(columns, cells, 0, rows);
}

// A wrong argument of Invoke: its position and the result code.
struct ArgError {
  uint32_t index;
  HRESULT hr;
};

}  // namespace

// --- ISupportErrorInfo, IDispatch

HRESULT TAppServerObject::InterfaceSupportsErrorInfo(const GUID& iid) {
  return iid == IAppServer::iid ? S_OK : S_FALSE;
}

HRESULT TAppServerObject::GetTypeInfoCount(uint32_t* count) {
  if (count == nullptr) return E_POINTER;
  *count = 0;
  return S_OK;
}

HRESULT TAppServerObject::GetTypeInfo(uint32_t, LCID, ITypeInfo** info) {
  if (info != nullptr) *info = nullptr;
  return E_NOTIMPL;
}

HRESULT TAppServerObject::GetIDsOfNames(const GUID&, const WideString* names, uint32_t count, LCID,
                                        DISPID* ids) {
  static constexpr std::pair<std::u16string_view, DISPID> kMethods[] = {
      {u"AS_ApplyUpdates", kDispApplyUpdates}, {u"AS_GetRecords", kDispGetRecords},
      {u"AS_DataRequest", kDispDataRequest},   {u"AS_GetProviderNames", kDispGetProviderNames},
      {u"AS_GetParams", kDispGetParams},       {u"AS_RowRequest", kDispRowRequest},
      {u"AS_Execute", kDispExecute},
  };
  if (names == nullptr || ids == nullptr || count == 0) return E_INVALIDARG;
  HRESULT hr = S_OK;
  for (uint32_t i = 0; i < count; ++i) {
    ids[i] = -1;  // DISPID_UNKNOWN
    if (i > 0) {
      hr = DISP_E_UNKNOWNNAME;  // methods have no named arguments
      continue;
    }
    for (const auto& [name, id] : kMethods)
      if (EqualsNoCase(name, names[i].str())) ids[i] = id;
    if (ids[i] == -1) hr = DISP_E_UNKNOWNNAME;
  }
  return hr;
}

HRESULT TAppServerObject::Invoke(DISPID id, const GUID&, LCID, uint16_t, DISPPARAMS* params,
                                 Variant* result, EXCEPINFO* excep, uint32_t* arg_err) {
  if (Tracing()) Trace("IAppServer.Invoke " + std::to_string(id));
  const uint32_t given = params != nullptr ? params->cArgs : 0;
  if (params != nullptr && params->cNamedArgs > 0) return DISP_E_PARAMNOTFOUND;
  Variant local_result;
  Variant* res = result != nullptr ? result : &local_result;
  auto want = [&](uint32_t n) {
    if (given != n) throw ArgError{0, DISP_E_BADPARAMCOUNT};
  };
  auto arg = [&](uint32_t i) -> Variant& { return *DispatchArg(params, i); };
  auto text = [&](uint32_t i) {
    try {
      return arg(i).ToWide();
    } catch (const Exception&) {
      throw ArgError{i, DISP_E_TYPEMISMATCH};
    }
  };
  auto number = [&](uint32_t i) {
    try {
      return arg(i).ToInt32();
    } catch (const Exception&) {
      throw ArgError{i, DISP_E_TYPEMISMATCH};
    }
  };
  HRESULT hr;
  try {
    switch (id) {
      case kDispApplyUpdates: {
        want(5);
        int32_t errors = 0;
        hr = AS_ApplyUpdates(text(0), arg(1), number(2), &errors, &arg(4), res);
        arg(3) = Variant(errors);
        break;
      }
      case kDispGetRecords: {
        want(7);
        int32_t records = 0;
        hr = AS_GetRecords(text(0), number(1), &records, number(3), text(4), &arg(5), &arg(6), res);
        arg(2) = Variant(records);
        break;
      }
      case kDispDataRequest:
        want(2);
        hr = AS_DataRequest(text(0), arg(1), res);
        break;
      case kDispGetProviderNames:
        want(0);
        hr = AS_GetProviderNames(res);
        break;
      case kDispGetParams:
        want(2);
        hr = AS_GetParams(text(0), &arg(1), res);
        break;
      case kDispRowRequest:
        want(4);
        hr = AS_RowRequest(text(0), arg(1), number(2), &arg(3), res);
        break;
      case kDispExecute:
        want(4);
        hr = AS_Execute(text(0), text(1), &arg(2), &arg(3));
        break;
      default:
        return DISP_E_MEMBERNOTFOUND;
    }
  } catch (const ArgError& e) {
    if (arg_err != nullptr) *arg_err = e.index;
    return e.hr;
  }
  if (SUCCEEDED(hr)) return hr;
  ErrorInfo info;
  if (!GetErrorInfo(&info)) return hr;
  if (excep != nullptr) {
    excep->bstrSource = info.source;
    excep->bstrDescription = info.description;
    excep->bstrHelpFile = info.help_file;
    excep->dwHelpContext = info.help_context;
    excep->scode = hr;
  }
  return DISP_E_EXCEPTION;
}

// --- IAppServer

HRESULT TAppServerObject::AS_GetRecords(const WideString& provider, int32_t count,
                                        int32_t* recs_out, int32_t options, const WideString&,
                                        Variant* params, Variant*, Variant* result) {
  if (Tracing()) Trace("IAppServer.AS_GetRecords " + provider.ToUtf8());
  if (recs_out != nullptr) *recs_out = 0;
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] {
    std::lock_guard lock(service_->Mutex());
    size_t rows = 0;
    if (auto r = service_->FindResult(provider.str())) {
      if (options & grReset) r->position = 0;
      const size_t left = r->rows - std::min(r->position, r->rows);
      rows = count < 0 ? left : std::min(left, static_cast<size_t>(count));
      *result = EncodeRows(r->columns, r->cells, r->position, rows);
      r->position += rows;
    } else {
      DataService::TableSource source = service_->ResolveTable(provider.str());
      SqliteDatabase& db = service_->Databases().Open(source.database);
      *result = ReadTable(db, source.table, count, params, rows);
    }
    if (recs_out != nullptr) *recs_out = static_cast<int32_t>(std::min<size_t>(rows, INT32_MAX));
  });
}

HRESULT TAppServerObject::AS_ApplyUpdates(const WideString& provider, const Variant& delta,
                                          int32_t max_errors, int32_t* error_count, Variant*,
                                          Variant* result) {
  if (Tracing()) Trace("IAppServer.AS_ApplyUpdates " + provider.ToUtf8());
  if (error_count != nullptr) *error_count = 0;
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] {
    DeltaPacket d = DecodeDeltaPacket(delta);
    std::lock_guard lock(service_->Mutex());
    std::string database, table;
    // Delta column -> table column.
    std::vector<std::string> targets(d.columns.size());
    if (auto r = service_->FindResult(provider.str())) {
      database = r->database;
      for (const ResultColumn& c : r->columns) {
        if (c.origin_table.empty() || (!table.empty() && c.origin_table != table)) {
          throw EDatabaseError(
              "The result of an SQL statement cannot be changed: its columns do not come from "
              "one table");
        }
        table = c.origin_table;
      }
      for (size_t i = 0; i < d.columns.size(); ++i)
        for (const ResultColumn& c : r->columns)
          if (EqualsNoCase(c.name, d.columns[i].name)) targets[i] = c.origin_column;
    } else {
      DataService::TableSource source = service_->ResolveTable(provider.str());
      database = source.database;
      table = source.table;
    }
    SqliteDatabase& db = service_->Databases().Open(database);
    ApplyResult answer;
    if (db.ReadOnly()) {
      const std::string message =
          "Database \"" + db.Name() + "\" is read-only: changes are refused";
      for (const DeltaChange& change : d.changes) answer.refused.push_back({change.id, message, 0});
    } else {
      std::vector<TableColumn> declared = db.TableColumns(table);
      if (declared.empty())
        throw EDatabaseError("Database \"" + db.Name() + "\" has no table \"" + table + "\"");
      std::vector<TargetColumn> columns;
      for (size_t i = 0; i < d.columns.size(); ++i) {
        const std::string& name = targets[i].empty() ? d.columns[i].name : targets[i];
        if (const TableColumn* c = FindColumn(declared, name))
          columns.push_back({static_cast<int>(i), c->name, d.columns[i].type, d.columns[i].flags});
      }
      std::vector<size_t> key;
      for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].flags & pfInKey) key.push_back(i);
      if (key.empty())
        for (size_t i = 0; i < columns.size(); ++i)
          if (FindColumn(declared, columns[i].table_column)->primary_key > 0) key.push_back(i);
      if (key.empty())
        for (size_t i = 0; i < columns.size(); ++i)
          if (columns[i].flags & pfInWhere) key.push_back(i);
      const bool needs_key = std::any_of(d.changes.begin(), d.changes.end(),
                                         [](const DeltaChange& c) { return c.kind != ukInsert; });
      if (needs_key && key.empty())
        throw EDatabaseError("Table \"" + table + "\": no column identifies a record");
      Applier applier(db, table, std::move(columns), std::move(key));
      db.Exec("SAVEPOINT kvt_apply");
      try {
        for (const DeltaChange& change : d.changes) {
          db.Exec("SAVEPOINT kvt_change");
          try {
            applier.Apply(change);
            db.Exec("RELEASE kvt_change");
          } catch (const Refusal& refusal) {
            db.Exec("ROLLBACK TO kvt_change");
            db.Exec("RELEASE kvt_change");
            answer.refused.push_back({change.id, refusal.message, refusal.code});
          }
        }
        if (max_errors >= 0 && answer.refused.size() > static_cast<size_t>(max_errors)) {
          db.Exec("ROLLBACK TO kvt_apply");
          answer.rolled_back = true;
        }
        db.Exec("RELEASE kvt_apply");
      } catch (...) {
        sqlite3_exec(db.Handle(), "ROLLBACK TO kvt_apply; RELEASE kvt_apply", nullptr, nullptr,
                     nullptr);
        throw;
      }
    }
    if (db.ReadOnly() && max_errors >= 0 && answer.refused.size() > static_cast<size_t>(max_errors))
      answer.rolled_back = true;
    if (error_count != nullptr) *error_count = static_cast<int32_t>(answer.refused.size());
    *result = EncodeApplyResult(answer);
  });
}

HRESULT TAppServerObject::AS_DataRequest(const WideString&, const Variant&, Variant* result) {
  Trace("IAppServer.AS_DataRequest");
  if (result != nullptr) result->Clear();
  return SafeCall([] { NotOffered("AS_DataRequest"); });
}

HRESULT TAppServerObject::AS_GetProviderNames(Variant* result) {
  Trace("IAppServer.AS_GetProviderNames");
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return SafeCall([&] {
    std::vector<Variant> names;
    for (std::u16string& name : service_->ProviderNames())
      names.emplace_back(WideString(std::move(name)));
    *result = Variant::Array(std::move(names), 0, varOleStr);
  });
}

HRESULT TAppServerObject::AS_GetParams(const WideString& provider, Variant*, Variant* result) {
  if (Tracing()) Trace("IAppServer.AS_GetParams " + provider.ToUtf8());
  if (result == nullptr) return E_POINTER;
  result->Clear();
  return S_OK;
}

HRESULT TAppServerObject::AS_RowRequest(const WideString&, const Variant&, int32_t, Variant*,
                                        Variant* result) {
  Trace("IAppServer.AS_RowRequest");
  if (result != nullptr) result->Clear();
  return SafeCall([] { NotOffered("AS_RowRequest"); });
}

HRESULT TAppServerObject::AS_Execute(const WideString&, const WideString&, Variant*, Variant*) {
  Trace("IAppServer.AS_Execute");
  return SafeCall([] { NotOffered("AS_Execute"); });
}
