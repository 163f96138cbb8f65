// The host's SQLite layer: one connection per configured database, prepared statements
// kept in a bounded cache keyed by their SQL text, parameters bound by name from a
// module's IKVTParams, result rows read into plain values and described as typed columns.
//
// Nothing here locks: the data service (dataservice.h) serialises every use.
#pragma once

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "host/hosttext.h"
#include "host/settings.h"
#include "platform/com/variant.h"
#include "platform/db/fields.h"

struct sqlite3;
struct sqlite3_stmt;
struct IKVTParams;

// The longest text column described as a string; longer ones are memos.
constexpr int32_t kMaxStringColumnSize = 8192;

// One value as SQLite stored it.
struct SqlValue {
  enum Kind : uint8_t { kNull, kInteger, kReal, kText, kBlob };
  Kind kind = kNull;
  int64_t i = 0;
  double d = 0;
  std::string bytes;  // text (UTF-8) or blob
};

// A column as the host describes it to clients.
struct ResultColumn {
  std::string name;  // UTF-8
  FieldType type = ftMemo;
  int32_t size = 0;  // characters of a string column, else 0
  bool required = false;
  ProviderFlags flags = pfInUpdate | pfInWhere;
  // Where the values come from (empty for expressions): table and column.
  std::string origin_table, origin_column;
};

// What a column's declaration says.
struct DeclaredColumn {
  std::string name, decl_type, origin_table, origin_column;
};

// The description of result columns: the declared type where the values fit it, otherwise
// the kind of the values themselves (see the .cpp for the rules).
std::vector<ResultColumn> DescribeColumns(const std::vector<DeclaredColumn>& declared,
                                          const std::vector<SqlValue>& cells, size_t rows);
// A stored value as the column's canonical variant (texts single-byte, dates as OLE dates,
// binary as an array of bytes).
Variant ColumnValue(const ResultColumn& column, const SqlValue& value);

// A prepared statement and what the host learnt about it once.
class Statement {
 public:
  struct Parameter {
    std::u16string name;  // without its ":", "@" or "$"; empty for a positional one
    int index = 0;        // SQLite's parameter index
    int position = 0;     // positional: the entry of the parameter list (from 1)
  };
  Statement(sqlite3_stmt* handle, std::u16string sql);
  ~Statement();
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  sqlite3_stmt* Handle() const { return handle_; }
  const std::u16string& Sql() const { return sql_; }
  const std::vector<Parameter>& Parameters() const { return params_; }
  const std::vector<DeclaredColumn>& Columns() const { return columns_; }
  bool ReadOnly() const { return readonly_; }
  // Reads the columns again (SQLite prepares a statement anew when the schema changed).
  void RefreshColumns();

 private:
  sqlite3_stmt* handle_;
  std::u16string sql_;
  std::vector<Parameter> params_;
  std::vector<DeclaredColumn> columns_;
  bool readonly_ = true;
};

// A column of a table (PRAGMA table_info).
struct TableColumn {
  std::string name, decl_type;
  bool not_null = false;
  bool has_default = false;
  int primary_key = 0;  // position in the primary key from 1, 0 when not part of it
};

class SqliteDatabase {
 public:
  static constexpr size_t kStatementCacheSize = 128;

  // Opens the database's file (read-only when the settings say so). Raises EDatabaseError
  // naming the database and the file: a missing file, a file that is not SQLite.
  SqliteDatabase(std::string name, const DatabaseSettings& settings);
  ~SqliteDatabase();
  SqliteDatabase(const SqliteDatabase&) = delete;
  SqliteDatabase& operator=(const SqliteDatabase&) = delete;

  const std::string& Name() const { return name_; }
  const DatabaseSettings& Settings() const { return settings_; }
  bool ReadOnly() const { return settings_.readonly; }
  sqlite3* Handle() const { return db_; }

  // The prepared statement for `sql`, prepared on first use. Raises EDatabaseError with
  // SQLite's message; nothing is cached then.
  std::shared_ptr<Statement> Prepare(std::u16string_view sql);
  std::shared_ptr<Statement> Prepare(std::string_view utf8_sql);
  size_t CachedStatements() const { return cache_.size(); }
  uint64_t Preparations() const { return preparations_; }

  bool HasTable(std::string_view table);
  std::vector<TableColumn> TableColumns(std::string_view table);

  // Raises EDatabaseError: "<what>: <SQLite's message>" for this database.
  [[noreturn]] void RaiseError(std::string_view what) const;
  void Exec(const char* sql);  // raises

 private:
  std::string name_;
  DatabaseSettings settings_;
  sqlite3* db_ = nullptr;
  using Lru = std::list<std::shared_ptr<Statement>>;
  Lru lru_;  // most recently used first
  std::unordered_map<std::u16string, Lru::iterator, U16Hash, U16Equal> cache_;
  uint64_t preparations_ = 0;
};

// Resets a statement (and clears its bindings) when a run ends, however it ends.
class StatementRun {
 public:
  explicit StatementRun(const Statement& statement);
  ~StatementRun();
  StatementRun(const StatementRun&) = delete;
  StatementRun& operator=(const StatementRun&) = delete;

 private:
  sqlite3_stmt* handle_;
};

// Binds every parameter of `statement` from `params` (may be null): a named parameter takes
// the first entry of that name (without regard to case) whose value is set, or null when
// every such entry is null; a positional one takes the entry at its position. Raises
// EDatabaseError naming a parameter without an entry or with a value that cannot be bound.
void BindParams(const Statement& statement, IKVTParams* params);
// Binds one value (a blob may come from `stream_source`, which answers IKVTParamStream).
// `name` names the value in errors.
void BindValue(sqlite3_stmt* stmt, int index, const Variant& value, int32_t data_type,
               std::string_view name, IUnknown* stream_source = nullptr);

// Steps the statement to its end, appending each row's values to `cells`. Answers the
// number of rows. Raises EDatabaseError with SQLite's message.
size_t ReadRows(const SqliteDatabase& db, Statement& statement, std::vector<SqlValue>& cells);

// The databases of the settings, each opened once, on first use.
class DatabaseSet {
 public:
  explicit DatabaseSet(ComPtr<THostSettings> settings) : settings_(std::move(settings)) {}

  // Raises EDatabaseError: a database that is not configured, a driver other than SQLITE,
  // no file, and the errors of opening.
  SqliteDatabase& Open(std::u16string_view name);
  SqliteDatabase& Open(std::string_view utf8_name);
  // The databases open now.
  size_t OpenCount() const { return open_.size(); }
  void CloseAll();
  THostSettings& Settings() const { return *settings_; }

 private:
  ComPtr<THostSettings> settings_;
  std::unordered_map<std::u16string, std::unique_ptr<SqliteDatabase>, U16Hash, U16Equal>
      open_;
  uint64_t generation_ = 0;  // of the settings when open_ was last checked
};
