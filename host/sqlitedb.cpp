#include "host/sqlitedb.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>

#include "host/hosttext.h"
#include "hostintf/kvt_TLB.h"
#include "platform/com/stream.h"
#include "platform/rtl/codepage.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"

namespace {

enum class Decl {
  kNone,
  kInteger,
  kBigInt,
  kReal,
  kText,
  kBlob,
  kDate,
  kDateTime,
  kTime,
  kBoolean
};

// The kind a declared type names, as SQLite's own affinity rules read names, with the date
// kinds first (a DATETIME holds no "INT"). `length` receives the "(n)" of a text type.
Decl ParseDecl(std::string_view decl, int32_t& length) {
  length = 0;
  std::string up(decl);
  for (char& c : up)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
  auto has = [&](const char* s) { return up.find(s) != std::string::npos; };
  if (up.empty()) return Decl::kNone;
  if (has("BOOL")) return Decl::kBoolean;
  if (has("DATETIME") || has("TIMESTAMP")) return Decl::kDateTime;
  if (has("DATE")) return Decl::kDate;
  if (has("TIME")) return Decl::kTime;
  if (has("BIGINT") || has("INT64") || has("LARGEINT")) return Decl::kBigInt;
  if (has("INT")) return Decl::kInteger;
  if (has("CHAR") || has("CLOB") || has("TEXT") || has("STRING")) {
    size_t open = up.find('(');
    if (open != std::string::npos) {
      int64_t n = 0;
      size_t i = open + 1;
      while (i < up.size() && up[i] == ' ') ++i;
      size_t digits = i;
      while (i < up.size() && up[i] >= '0' && up[i] <= '9' && n <= kMaxStringColumnSize * 10)
        n = n * 10 + (up[i++] - '0');
      if (i > digits && n > 0) length = static_cast<int32_t>(std::min<int64_t>(n, INT32_MAX));
    }
    return Decl::kText;
  }
  if (has("BLOB") || has("BINARY")) return Decl::kBlob;
  if (has("REAL") || has("FLOA") || has("DOUB") || has("NUMERIC") || has("DECIMAL") ||
      has("CURRENCY") || has("MONEY"))
    return Decl::kReal;
  return Decl::kNone;
}

std::string NumberText(const SqlValue& v) {
  if (v.kind == SqlValue::kInteger) return std::to_string(v.i);
  char buf[40];
  std::snprintf(buf, sizeof buf, "%.15g", v.d);
  return buf;
}

// What the values of one column are.
struct ColumnStats {
  bool any = false, ints = false, reals = false, texts = false, blobs = false;
  bool beyond_int32 = false, not_boolean = false;
  size_t longest_text = 0;  // characters
  bool all_dates = true, all_whole_days = true, all_pure_times = true;
};

ColumnStats Survey(const std::vector<SqlValue>& cells, size_t columns, size_t col, size_t rows,
                   bool dates, bool lengths) {
  ColumnStats s;
  for (size_t r = 0; r < rows; ++r) {
    const SqlValue& v = cells[r * columns + col];
    switch (v.kind) {
      case SqlValue::kNull:
        continue;
      case SqlValue::kInteger:
        s.ints = true;
        if (v.i < INT32_MIN || v.i > INT32_MAX) s.beyond_int32 = true;
        if (v.i != 0 && v.i != 1) s.not_boolean = true;
        break;
      case SqlValue::kReal:
        s.reals = true;
        break;
      case SqlValue::kText:
        s.texts = true;
        if (lengths) s.longest_text = std::max(s.longest_text, Utf8Length(v.bytes));
        if (dates && s.all_dates) {
          if (auto d = ParseDateTime(v.bytes)) {
            if (*d != std::floor(*d)) s.all_whole_days = false;
            if (*d >= 1.0 || *d < 0) s.all_pure_times = false;
          } else {
            s.all_dates = false;
          }
        }
        break;
      case SqlValue::kBlob:
        s.blobs = true;
        break;
    }
    s.any = true;
  }
  return s;
}

// The column's type by its declaration, when every value fits it; ftUnknown when not.
FieldType TypeByDeclaration(Decl decl, int32_t length, const ColumnStats& s, int32_t& size) {
  const bool only_ints = !s.reals && !s.texts && !s.blobs;
  const bool only_numbers = !s.texts && !s.blobs;
  const bool only_texts = !s.ints && !s.reals && !s.blobs;
  switch (decl) {
    case Decl::kNone:
      return ftUnknown;
    case Decl::kInteger:
    case Decl::kBigInt:
      if (!only_ints) return ftUnknown;
      return decl == Decl::kBigInt || s.beyond_int32 ? ftLargeint : ftInteger;
    case Decl::kBoolean:
      return only_ints && !s.not_boolean ? ftBoolean : ftUnknown;
    case Decl::kReal:
      return only_numbers ? ftFloat : ftUnknown;
    case Decl::kText: {
      if (s.blobs) return ftUnknown;
      if (length <= 0 || length > kMaxStringColumnSize) return ftMemo;
      size_t longest = std::max<size_t>(static_cast<size_t>(length), s.longest_text);
      if (longest > static_cast<size_t>(kMaxStringColumnSize)) return ftMemo;
      size = static_cast<int32_t>(longest);
      return ftString;
    }
    case Decl::kBlob:
      return !s.ints && !s.reals && !s.texts ? ftBlob : ftUnknown;
    case Decl::kDate:
      if (!only_texts || !s.all_dates) return ftUnknown;
      return s.all_whole_days ? ftDate : ftDateTime;
    case Decl::kDateTime:
      return only_texts && s.all_dates ? ftDateTime : ftUnknown;
    case Decl::kTime:
      if (!only_texts || !s.all_dates) return ftUnknown;
      return s.all_pure_times ? ftTime : ftDateTime;
  }
  return ftUnknown;
}

// The column's type by the kinds of its values.
FieldType TypeByValues(const ColumnStats& s) {
  if (s.blobs) return ftBlob;
  if (s.texts || !s.any) return ftMemo;
  if (s.reals) return ftFloat;
  return s.beyond_int32 ? ftLargeint : ftInteger;
}

bool FileKind(const std::string& path, bool& is_folder) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) return false;
  is_folder = S_ISDIR(st.st_mode);
  return true;
}

[[noreturn]] void RaiseFor(std::string_view name, const std::string& message) {
  throw EDatabaseError("Database \"" + std::string(name) + "\"" + message);
}

// The characters of a parameter's name after its ":", "@" or "$".
std::u16string ParameterName(const char* name) {
  return Utf8ToUtf16(std::string_view(name + 1));
}

}  // namespace

// --- Columns

std::vector<ResultColumn> DescribeColumns(const std::vector<DeclaredColumn>& declared,
                                          const std::vector<SqlValue>& cells, size_t rows) {
  const size_t columns = declared.size();
  std::vector<ResultColumn> out(columns);
  for (size_t c = 0; c < columns; ++c) {
    int32_t length = 0;
    Decl decl = ParseDecl(declared[c].decl_type, length);
    bool dates = decl == Decl::kDate || decl == Decl::kDateTime || decl == Decl::kTime;
    bool lengths = decl == Decl::kText && length > 0;
    ColumnStats stats = Survey(cells, columns, c, rows, dates, lengths);
    ResultColumn& rc = out[c];
    rc.name = declared[c].name;
    rc.origin_table = declared[c].origin_table;
    rc.origin_column = declared[c].origin_column;
    rc.size = 0;
    rc.type = TypeByDeclaration(decl, length, stats, rc.size);
    if (rc.type == ftUnknown) rc.type = TypeByValues(stats);
  }
  return out;
}

Variant ColumnValue(const ResultColumn& column, const SqlValue& v) {
  if (v.kind == SqlValue::kNull) return Variant::Null();
  const bool number = v.kind == SqlValue::kInteger || v.kind == SqlValue::kReal;
  switch (column.type) {
    case ftInteger:
    case ftAutoInc:
      if (v.kind == SqlValue::kInteger) return Variant(static_cast<int32_t>(v.i));
      break;
    case ftLargeint:
      if (v.kind == SqlValue::kInteger) return Variant(v.i);
      break;
    case ftBoolean:
      if (v.kind == SqlValue::kInteger) return Variant(v.i != 0);
      break;
    case ftFloat:
      if (v.kind == SqlValue::kInteger) return Variant(static_cast<double>(v.i));
      if (v.kind == SqlValue::kReal) return Variant(v.d);
      break;
    case ftBlob: {
      std::string bytes = number ? NumberText(v) : v.bytes;
      std::vector<Variant> items;
      items.reserve(bytes.size());
      for (unsigned char b : bytes) items.push_back(Variant::Byte(b));
      return Variant::Array(std::move(items), 0, varByte);
    }
    case ftDate:
    case ftDateTime:
    case ftTime:
      if (v.kind == SqlValue::kText)
        if (auto d = ParseDateTime(v.bytes)) return Variant::Date(*d);
      break;
    default:
      break;
  }
  return Variant::Ansi(number ? NumberText(v) : v.bytes);
}

// --- Statement

Statement::Statement(sqlite3_stmt* handle, std::u16string sql)
    : handle_(handle), sql_(std::move(sql)) {
  const int count = sqlite3_bind_parameter_count(handle_);
  for (int i = 1; i <= count; ++i) {
    const char* name = sqlite3_bind_parameter_name(handle_, i);
    Parameter p;
    p.index = i;
    if (name == nullptr || name[0] == '?')
      p.position = i;
    else
      p.name = ParameterName(name);
    params_.push_back(std::move(p));
  }
  RefreshColumns();
  readonly_ = sqlite3_stmt_readonly(handle_) != 0;
}

void Statement::RefreshColumns() {
  columns_.clear();
  const int columns = sqlite3_column_count(handle_);
  for (int c = 0; c < columns; ++c) {
    auto text = [](const char* s) { return s ? std::string(s) : std::string(); };
    columns_.push_back({text(sqlite3_column_name(handle_, c)),
                        text(sqlite3_column_decltype(handle_, c)),
                        text(sqlite3_column_table_name(handle_, c)),
                        text(sqlite3_column_origin_name(handle_, c))});
  }
}

Statement::~Statement() {
  sqlite3_finalize(handle_);
}

StatementRun::StatementRun(const Statement& statement) : handle_(statement.Handle()) {}

StatementRun::~StatementRun() {
  sqlite3_reset(handle_);
  sqlite3_clear_bindings(handle_);
}

// --- SqliteDatabase

SqliteDatabase::SqliteDatabase(std::string name, const DatabaseSettings& settings)
    : name_(std::move(name)), settings_(settings) {
  const std::string& file = settings_.file;
  bool folder = false;
  if (!FileKind(file, folder)) RaiseFor(name_, ": the file \"" + file + "\" does not exist");
  if (folder) RaiseFor(name_, ": \"" + file + "\" is a folder, not a database file");
  int flags = settings_.readonly ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE;
  int rc = sqlite3_open_v2(file.c_str(), &db_, flags, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = db_ ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close_v2(db_);
    db_ = nullptr;
    RaiseFor(name_, ": cannot open the file \"" + file + "\": " + message);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, 5000);
  // SQLite reads the file only now.
  rc = sqlite3_exec(db_, "SELECT count(*) FROM sqlite_master", nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) {
    std::string message = sqlite3_errmsg(db_);
    bool not_sqlite = (rc & 0xFF) == SQLITE_NOTADB;
    sqlite3_close_v2(db_);
    db_ = nullptr;
    if (not_sqlite)
      RaiseFor(name_, ": the file \"" + file + "\" is not an SQLite database (" + message + ")");
    RaiseFor(name_, ": cannot read the file \"" + file + "\": " + message);
  }
}

SqliteDatabase::~SqliteDatabase() {
  cache_.clear();
  lru_.clear();  // finalises the statements nobody else holds
  sqlite3_close_v2(db_);
}

void SqliteDatabase::RaiseError(std::string_view what) const {
  std::string message = sqlite3_errmsg(db_);
  RaiseFor(name_, ": " + (what.empty() ? message : std::string(what) + ": " + message));
}

void SqliteDatabase::Exec(const char* sql) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) RaiseError({});
}

std::shared_ptr<Statement> SqliteDatabase::Prepare(std::string_view utf8_sql) {
  return Prepare(Utf8ToUtf16(utf8_sql));
}

std::shared_ptr<Statement> SqliteDatabase::Prepare(std::u16string_view sql) {
  if (auto it = cache_.find(sql); it != cache_.end()) {
    lru_.splice(lru_.begin(), lru_, it->second);
    return *it->second;
  }
  std::u16string key(sql);
  const int bytes = static_cast<int>(std::min<size_t>(sql.size() * 2, INT32_MAX));
  sqlite3_stmt* stmt = nullptr;
  const void* tail = nullptr;
  ++preparations_;
  if (sqlite3_prepare16_v3(db_, sql.data(), bytes, SQLITE_PREPARE_PERSISTENT, &stmt, &tail) !=
      SQLITE_OK) {
    sqlite3_finalize(stmt);
    RaiseError({});
  }
  if (stmt == nullptr) RaiseFor(name_, ": the SQL text holds no statement");
  // A second statement after the first is refused rather than silently ignored.
  const char16_t* rest = static_cast<const char16_t*>(tail);
  const char16_t* end = sql.data() + sql.size();
  if (rest != nullptr && rest < end) {
    sqlite3_stmt* next = nullptr;
    int rc = sqlite3_prepare16_v3(db_, rest, static_cast<int>((end - rest) * 2), 0, &next, nullptr);
    sqlite3_finalize(next);
    if (rc != SQLITE_OK || next != nullptr) {
      sqlite3_finalize(stmt);
      RaiseFor(name_, ": the SQL text holds more than one statement");
    }
  }
  auto statement = std::make_shared<Statement>(stmt, key);
  lru_.push_front(statement);
  cache_.emplace(std::move(key), lru_.begin());
  if (lru_.size() > kStatementCacheSize) {
    cache_.erase(lru_.back()->Sql());
    lru_.pop_back();
  }
  return statement;
}

bool SqliteDatabase::HasTable(std::string_view table) {
  auto st = Prepare(std::u16string_view(
      u"SELECT 1 FROM sqlite_master WHERE type IN ('table', 'view') AND name = ?1 COLLATE NOCASE"));
  StatementRun run(*st);
  sqlite3_bind_text(st->Handle(), 1, table.data(), static_cast<int>(table.size()),
                    SQLITE_TRANSIENT);
  int rc = sqlite3_step(st->Handle());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) RaiseError({});
  return rc == SQLITE_ROW;
}

std::vector<TableColumn> SqliteDatabase::TableColumns(std::string_view table) {
  auto st = Prepare(std::u16string_view(
      u"SELECT name, type, \"notnull\", dflt_value IS NOT NULL, pk FROM pragma_table_info(?1)"));
  StatementRun run(*st);
  sqlite3_bind_text(st->Handle(), 1, table.data(), static_cast<int>(table.size()),
                    SQLITE_TRANSIENT);
  std::vector<TableColumn> columns;
  int rc;
  while ((rc = sqlite3_step(st->Handle())) == SQLITE_ROW) {
    auto text = [&](int c) {
      const unsigned char* s = sqlite3_column_text(st->Handle(), c);
      return s ? std::string(reinterpret_cast<const char*>(s)) : std::string();
    };
    columns.push_back({text(0), text(1), sqlite3_column_int(st->Handle(), 2) != 0,
                       sqlite3_column_int(st->Handle(), 3) != 0,
                       sqlite3_column_int(st->Handle(), 4)});
  }
  if (rc != SQLITE_DONE) RaiseError({});
  return columns;
}

// --- Binding

void BindValue(sqlite3_stmt* stmt, int index, const Variant& value, int32_t data_type,
               std::string_view name, IUnknown* stream_source) {
  const Variant& v = value.Deref();
  auto check = [&](int rc) {
    if (rc != SQLITE_OK)
      throw EDatabaseError("Parameter '" + std::string(name) +
                           "' cannot be bound: " + sqlite3_errstr(rc));
  };
  auto blob = [&](const std::string& bytes) {
    check(sqlite3_bind_blob64(stmt, index, bytes.data(), bytes.size(), SQLITE_TRANSIENT));
  };
  auto text = [&](const std::string& utf8) {
    check(
        sqlite3_bind_text64(stmt, index, utf8.data(), utf8.size(), SQLITE_TRANSIENT, SQLITE_UTF8));
  };
  try {
    if (v.IsEmptyOrNull()) return check(sqlite3_bind_null(stmt, index));
    if (data_type == ftBlob && stream_source != nullptr) {
      ComPtr<IKVTParamStream> source = ComPtr<IUnknown>(stream_source).TryAs<IKVTParamStream>();
      if (source) {
        ComPtr<IStream> stream = source->GetAsStream();
        return blob(stream ? ReadWholeStream(stream.Get()) : std::string());
      }
    }
    if (v.IsArray() && v.ArrayElementType() == varByte) {
      std::string bytes;
      bytes.reserve(static_cast<size_t>(v.ArrayCount()));
      for (const Variant& b : v.Items()) bytes += static_cast<char>(b.ToInt32());
      return blob(bytes);
    }
    const uint16_t vt = v.VType();
    if (data_type == ftDate || data_type == ftTime || data_type == ftDateTime ||
        data_type == ftTimeStamp || vt == varDate || vt == varSQLTimeStamp)
      return text(FormatDateTimeISO(v.ToDate()));
    switch (vt) {
      case varOleStr:
        // Bound as UTF-8, the databases' encoding: SQLite keeps the text as it is given
        // instead of translating a UTF-16 copy.
        return text(v.ToText());
      case varString:
      case varFMTBcd:
        return text(v.ToText());
      case varBoolean:
        return check(sqlite3_bind_int(stmt, index, v.ToBool() ? 1 : 0));
      case varSmallint:
      case varInteger:
      case varShortInt:
      case varByte:
      case varWord:
      case varLongWord:
      case varInt64:
      case varUInt64:
        return check(sqlite3_bind_int64(stmt, index, v.ToInt64()));
      case varSingle:
      case varDouble:
      case varCurrency:
        return check(sqlite3_bind_double(stmt, index, v.ToDouble()));
      default:
        break;
    }
  } catch (const EDatabaseError&) {
    throw;
  } catch (...) {
    throw EDatabaseError("Parameter '" + std::string(name) +
                         "' cannot be bound: " + ExceptionMessage(std::current_exception()));
  }
  throw EDatabaseError("Parameter '" + std::string(name) + "' cannot be bound: a value of type " +
                       Variant::TypeName(v.VType()) + " has no SQL form");
}

void BindParams(const Statement& statement, IKVTParams* params) {
  const auto& wanted = statement.Parameters();
  if (wanted.empty()) return;
  struct Choice {
    ComPtr<IKVTParam> param;
    Variant value;
    bool found = false;  // an entry of that name exists
    bool set = false;    // the chosen entry's value is set
  };
  std::vector<Choice> chosen(wanted.size());
  const int32_t count = params ? params->GetCount() : 0;
  size_t open = wanted.size();
  for (int32_t i = 0; i < count && open > 0; ++i) {
    ComPtr<IKVTParam> item;
    WideString name;
    for (size_t p = 0; p < wanted.size(); ++p) {
      Choice& c = chosen[p];
      if (c.set) continue;
      const bool by_position = wanted[p].name.empty();
      if (by_position && wanted[p].position != i + 1) continue;
      if (!item) {
        item = params->GetItem(i);
        if (!item) break;
        name = item->GetName();
      }
      if (!by_position && !EqualsNoCase(wanted[p].name, name.str())) continue;
      Variant value = item->GetValue();
      const bool set = !value.IsEmptyOrNull();
      if (set || !c.found) {
        c.param = item;
        c.value = std::move(value);
      }
      c.found = true;
      if (set) {
        c.set = true;
        --open;
      }
    }
  }
  for (size_t p = 0; p < wanted.size(); ++p) {
    const Statement::Parameter& w = wanted[p];
    std::string label = w.name.empty() ? "?" + std::to_string(w.position) : Utf16ToUtf8(w.name);
    Choice& c = chosen[p];
    if (!c.found)
      throw EDatabaseError("Parameter '" + label + "' of the statement has no value: the " +
                           (w.name.empty() ? "list has no entry at that position"
                                           : "list has no entry of that name"));
    int32_t data_type = c.param->GetDataType();
    BindValue(statement.Handle(), w.index, c.value, data_type, label, c.param.Get());
  }
}

size_t ReadRows(const SqliteDatabase& db, Statement& statement, std::vector<SqlValue>& cells) {
  sqlite3_stmt* st = statement.Handle();
  size_t rows = 0;
  int rc;
  while ((rc = sqlite3_step(st)) == SQLITE_ROW) {
    const int columns = sqlite3_data_count(st);
    if (rows == 0 && static_cast<size_t>(columns) != statement.Columns().size())
      statement.RefreshColumns();
    for (int c = 0; c < columns; ++c) {
      SqlValue v;
      switch (sqlite3_column_type(st, c)) {
        case SQLITE_INTEGER:
          v.kind = SqlValue::kInteger;
          v.i = sqlite3_column_int64(st, c);
          break;
        case SQLITE_FLOAT:
          v.kind = SqlValue::kReal;
          v.d = sqlite3_column_double(st, c);
          break;
        case SQLITE_TEXT: {
          v.kind = SqlValue::kText;
          const char* t = reinterpret_cast<const char*>(sqlite3_column_text(st, c));
          v.bytes.assign(t ? t : "", static_cast<size_t>(sqlite3_column_bytes(st, c)));
          break;
        }
        case SQLITE_BLOB: {
          v.kind = SqlValue::kBlob;
          const char* b = static_cast<const char*>(sqlite3_column_blob(st, c));
          v.bytes.assign(b ? b : "", static_cast<size_t>(sqlite3_column_bytes(st, c)));
          break;
        }
        default:
          break;
      }
      cells.push_back(std::move(v));
    }
    ++rows;
  }
  if (rc != SQLITE_DONE) db.RaiseError({});
  return rows;
}

// --- DatabaseSet

SqliteDatabase& DatabaseSet::Open(std::string_view utf8_name) {
  return Open(Utf8ToUtf16(utf8_name));
}

SqliteDatabase& DatabaseSet::Open(std::u16string_view name) {
  const uint64_t generation = settings_->DatabaseGeneration();
  if (generation != generation_) {
    // The storage settings changed: a database whose storage changed opens anew.
    for (auto it = open_.begin(); it != open_.end();) {
      auto now = settings_->Database(it->second->Name());
      const DatabaseSettings& was = it->second->Settings();
      bool same = now && now->file == was.file && now->readonly == was.readonly &&
                  EqualsNoCase(now->driver, was.driver);
      it = same ? std::next(it) : open_.erase(it);
    }
    generation_ = generation;
  }
  if (auto it = open_.find(name); it != open_.end()) return *it->second;
  std::string n = Utf16ToUtf8(name);
  auto settings = settings_->Database(n);
  if (!settings)
    RaiseFor(n, " is not configured (no entry in the settings \"" + settings_->Path() + "\")");
  if (settings->driver.empty()) RaiseFor(n, " has no driver configured");
  if (!EqualsNoCase(settings->driver, "SQLITE"))
    RaiseFor(n, ": driver \"" + settings->driver + "\" is not supported (this host serves SQLITE)");
  if (settings->file.empty()) RaiseFor(n, " has no \"sqlite.file\" configured");
  auto db = std::make_unique<SqliteDatabase>(n, *settings);
  return *open_.emplace(std::u16string(name), std::move(db)).first->second;
}

void DatabaseSet::CloseAll() {
  open_.clear();
}
