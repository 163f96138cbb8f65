#include "host/dbmanager.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include "platform/com/guid.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_kvtparams.h"
#include "tests/fakes/temp_sqlite.h"

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE items (ID INTEGER PRIMARY KEY, NAME VARCHAR(20), PRICE REAL, MADE DATE,
                    NOTE TEXT, PIC BLOB, FLAG BOOLEAN, STAMP DATETIME);
INSERT INTO items VALUES (1, 'apple', 1.5, '2024-01-02', 'red', x'0102', 1, '2024-01-02 10:30:00');
INSERT INTO items VALUES (2, 'plum', 2.25, '2023-12-31', NULL, NULL, 0, NULL);
CREATE TABLE ranges (G33MIN TEXT, DATEEND TEXT);
INSERT INTO ranges VALUES ('8517', '2030-01-01');
INSERT INTO ranges VALUES ('6403', '2020-01-01');
)sql";

class DbManagerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live_ = InterfacedObject::LiveObjects();
    settings_ = MakeObject<THostSettings>(dir_.File("kvthost.ini"));
    data_ = std::make_shared<DataService>(settings_);
    manager_ = MakeObject<TDBManager>(data_);
    file_ = dir_.File("test.db3");
    MakeSqliteFile(file_, kSchema);
    Configure("test", file_, false);
  }
  void TearDown() override {
    manager_ = nullptr;
    data_.reset();
    settings_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  }

  void Configure(const std::string& name, const std::string& file, bool readonly) {
    settings_->SetDatabaseDriver(name, "SQLITE");
    settings_->SetDatabaseParam(name, "sqlite.file", file);
    settings_->SetDatabaseParam(name, "readonly", readonly ? "Да" : "Нет");
  }

  ComPtr<IKVTTableinfo> Open(const std::u16string& sql, Params* list = nullptr,
                             const std::u16string& database = u"test") {
    Variant def;
    return OpenWith(sql, list, def, database);
  }
  ComPtr<IKVTTableinfo> OpenWith(const std::u16string& sql, Params* list, Variant& def,
                                 const std::u16string& database = u"test") {
    ComPtr<FakeKVTParams> params = list ? MakeObject<FakeKVTParams>(*list) : nullptr;
    return manager_->OpenSQL(database, sql, params.Get(), false, true, def);
  }
  std::shared_ptr<ResultProvider> Result(const ComPtr<IKVTTableinfo>& info) {
    std::lock_guard lock(data_->Mutex());
    return data_->FindResult(info->GetProviderName().str());
  }
  // The first value of a result, as text ("NULL" for null).
  std::string First(const ComPtr<IKVTTableinfo>& info) {
    auto r = Result(info);
    if (!r || r->rows == 0 || r->cells.empty()) return "<no row>";
    const SqlValue& v = r->cells[0];
    switch (v.kind) {
      case SqlValue::kNull:
        return "NULL";
      case SqlValue::kInteger:
        return std::to_string(v.i);
      case SqlValue::kReal:
        return std::to_string(v.d);
      default:
        return v.bytes;
    }
  }
  std::string ErrorOf(const std::u16string& sql, Params* list = nullptr,
                      const std::u16string& database = u"test") {
    try {
      Open(sql, list, database);
    } catch (const EDatabaseError& e) {
      return e.Message();
    }
    return "<no error>";
  }

  int64_t live_ = 0;
  TempFolder dir_;
  std::string file_;
  ComPtr<THostSettings> settings_;
  std::shared_ptr<DataService> data_;
  ComPtr<TDBManager> manager_;
};

TEST_F(DbManagerTest, OneRowQueriesBindEachKindOfParameterByName) {
  const TDateTime moment = EncodeDate(2024, 3, 5) + EncodeTime(7, 8, 9, 0);
  struct Case {
    const char* what;
    Variant value;
    FieldType type;
    const char* expected;  // typeof(:P) || '|' || :P
  };
  const Case cases[] = {
      {"single-byte text", Variant::Ansi("Привет"), ftUnknown, "text|Привет"},
      {"wide text", Variant(WideString(u"ёлка")), ftUnknown, "text|ёлка"},
      {"integer", Variant(int32_t{42}), ftUnknown, "integer|42"},
      {"64-bit integer", Variant(int64_t{1} << 40), ftUnknown, "integer|1099511627776"},
      {"float", Variant(2.5), ftUnknown, "real|2.5"},
      {"Boolean", Variant(true), ftUnknown, "integer|1"},
      {"date value", Variant::Date(moment), ftUnknown, "text|2024-03-05 07:08:09"},
      {"date-typed text", Variant::Ansi("2024-03-05 07:08:09"), ftDate, "text|2024-03-05 07:08:09"},
      {"date-typed double", Variant(moment), ftDateTime, "text|2024-03-05 07:08:09"},
      {"null", Variant::Null(), ftString, "null|NULL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Params list;
    Param& p = list.Add("P");
    p.SetDataType(c.type);
    p.SetValue(c.value);
    auto info = Open(u"select typeof(:P) || '|' || coalesce(:P, 'NULL') as V\r\n", &list);
    EXPECT_EQ(First(info), c.expected);
    EXPECT_EQ(info->GetRecordCount(), 1);
  }
}

TEST_F(DbManagerTest, TheRegisterChecksFindTheirRows) {
  // The register's checks compare a date-typed :TODAY with dates stored as ISO text.
  const char16_t* sql =
      u"select case when count(*) > 0 then 1 else 0 end as ex from ranges\r\n"
      u"where (:G33 = G33MIN) and (:TODAY <= DATEEND)\r\n";
  struct Case {
    const char* code;
    TDateTime today;
    const char* ex;
  };
  const Case cases[] = {
      {"8517", EncodeDate(2025, 6, 1), "1"},
      {"8517", EncodeDate(2030, 1, 2), "0"},
      {"6403", EncodeDate(2025, 6, 1), "0"},
      {"9999", EncodeDate(2025, 6, 1), "0"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    Params list;
    list.Add("G33").SetAsString(c.code);
    list.Add("TODAY").SetAsDateTime(c.today);
    EXPECT_EQ(First(Open(sql, &list)), c.ex);
  }
}

TEST_F(DbManagerTest, ARepeatedNameTakesItsFirstSetEntry) {
  const char16_t* sql = u"select coalesce(:A, 'NULL') || '-' || coalesce(:a, 'NULL') as V";
  struct Case {
    const char* what;
    std::vector<Variant> values;  // entries named A, in list order
    const char* expected;
  };
  const Case cases[] = {
      {"one entry for both occurrences", {Variant::Ansi("x")}, "x-x"},
      {"first entry null, second set", {Variant::Null(), Variant::Ansi("y")}, "y-y"},
      {"first entry never set", {Variant(), Variant::Ansi("z")}, "z-z"},
      {"both set: the first", {Variant::Ansi("first"), Variant::Ansi("second")}, "first-first"},
      {"all null", {Variant::Null(), Variant::Null()}, "NULL-NULL"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Params list;
    for (const Variant& v : c.values) list.Add("A").SetValue(v);
    EXPECT_EQ(First(Open(sql, &list)), c.expected);
  }
}

TEST_F(DbManagerTest, BinaryParametersComeFromTheParameterStream) {
  Params list;
  list.Add("B").SetAsBlob(std::string("\x00\x01\xFF", 3));
  list.Add("T").SetValue(Variant::Ansi("as bytes"));
  list[1].SetDataType(ftBlob);
  auto info = Open(u"select typeof(:B) || length(:B) || hex(:B) || typeof(:T) || :T as V", &list);
  EXPECT_EQ(First(info), "blob30001FFblobas bytes");
}

TEST_F(DbManagerTest, ParametersThatCannotBeBoundNameThemselves) {
  Params none;
  EXPECT_NE(ErrorOf(u"select :MISSING as V", &none).find("'MISSING'"), std::string::npos);
  EXPECT_NE(ErrorOf(u"select :MISSING as V").find("'MISSING'"), std::string::npos);
  Params odd;
  odd.Add("OBJ").SetValue(Variant(ComPtr<IUnknown>(MakeObject<MemoryStream>())));
  std::string e = ErrorOf(u"select :OBJ as V", &odd);
  EXPECT_NE(e.find("'OBJ'"), std::string::npos) << e;
  EXPECT_EQ(data_->ResultCount(), 0u);
}

TEST_F(DbManagerTest, SqlErrorsCarrySqlitesMessageAndLeaveNothing) {
  const std::pair<const char16_t*, const char*> cases[] = {
      {u"select * from nosuch", "no such table: nosuch"},
      {u"selec 1", "syntax error"},
      {u"select NOPE from items", "no such column: NOPE"},
      {u"select 1; select 2", "more than one statement"},
      {u"   ", "no statement"},
  };
  for (auto [sql, message] : cases) {
    SCOPED_TRACE(message);
    std::string e = ErrorOf(sql);
    EXPECT_NE(e.find(message), std::string::npos) << e;
    EXPECT_NE(e.find("\"test\""), std::string::npos) << e;
  }
  EXPECT_EQ(data_->ResultCount(), 0u);
  std::lock_guard lock(data_->Mutex());
  EXPECT_EQ(data_->Databases().Open("test").CachedStatements(), 0u);
}

TEST_F(DbManagerTest, DatabasesThatCannotBeServedAreNamedWithTheirFile) {
  Configure("missing", dir_.File("nowhere.db3"), false);
  WriteBytes(dir_.File("text.db3"), "this is not a database, it is a text file of some length....");
  Configure("text", dir_.File("text.db3"), false);
  Configure("folder", dir_.Path(), false);
  settings_->SetDatabaseDriver("odbc", "ODBC");
  settings_->SetDatabaseDriver("nofile", "SQLITE");
  struct Case {
    const char16_t* database;
    std::vector<const char*> parts;
  };
  const Case cases[] = {
      {u"unknown", {"\"unknown\"", "not configured"}},
      {u"missing", {"\"missing\"", "nowhere.db3", "does not exist"}},
      {u"text", {"\"text\"", "text.db3", "not an SQLite database"}},
      {u"folder", {"\"folder\"", "is a folder"}},
      {u"odbc", {"\"odbc\"", "ODBC", "not supported"}},
      {u"nofile", {"\"nofile\"", "sqlite.file"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(WideString(c.database).ToUtf8());
    std::string e = ErrorOf(u"select 1", nullptr, c.database);
    for (const char* part : c.parts) EXPECT_NE(e.find(part), std::string::npos) << e;
  }
}

TEST_F(DbManagerTest, AReadOnlyDatabaseIsOpenedReadOnlyAndRefusesWrites) {
  Configure("ro", file_, true);
  EXPECT_EQ(First(Open(u"select count(*) from items", nullptr, u"ro")), "2");
  {
    std::lock_guard lock(data_->Mutex());
    EXPECT_EQ(sqlite3_db_readonly(data_->Databases().Open("ro").Handle(), "main"), 1);
  }
  std::string e = ErrorOf(u"delete from items", nullptr, u"ro");
  EXPECT_NE(e.find("read-only"), std::string::npos) << e;
  EXPECT_EQ(QuerySqlite(file_, "select count(*) from items"), "2");
  // The writable name of the same file writes.
  Open(u"insert into items (ID, NAME) values (3, 'pear')");
  EXPECT_EQ(QuerySqlite(file_, "select count(*) from items"), "3");
}

TEST_F(DbManagerTest, EachDistinctStatementIsPreparedOnceAndTheCacheIsBounded) {
  auto preparations = [&] {
    std::lock_guard lock(data_->Mutex());
    return data_->Databases().Open("test").Preparations();
  };
  Params list;
  list.Add("ID").SetAsInteger(1);
  const uint64_t before = preparations();
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(First(Open(u"select NAME from items where ID = :ID", &list)), "apple");
  EXPECT_EQ(preparations() - before, 1u);
  for (int i = 0; i < 300; ++i) Open(u"select " + WideString::FromUtf8(std::to_string(i)).str());
  std::lock_guard lock(data_->Mutex());
  EXPECT_LE(data_->Databases().Open("test").CachedStatements(),
            SqliteDatabase::kStatementCacheSize);
  EXPECT_EQ(data_->Databases().OpenCount(), 1u);
}

TEST_F(DbManagerTest, TheAnswerNamesItsProviderAndTheProviderLivesAsLongAsTheAnswer) {
  Params list;
  list.Add("ID").SetAsInteger(2);
  const std::u16string sql = u"select NAME, PRICE from items where ID = :ID\r\n";
  auto info = Open(sql, &list);
  EXPECT_EQ(info->GetDatabaseName(), u"test");
  EXPECT_EQ(info->GetServerGUID(), GUIDToWide(CLSID_KvtHostAppServer));
  EXPECT_EQ(info->GetSQL(), sql);
  EXPECT_EQ(info->GetRecordCount(), 1);
  EXPECT_EQ(info->GetTableName(), u"items");
  EXPECT_FALSE(info->GetProviderName().empty());
  EXPECT_EQ(First(info), "plum");
  EXPECT_EQ(Open(u"select 1 as one")->GetTableName(), u"") << "an expression has no table";
  EXPECT_EQ(data_->ResultCount(), 1u) << "the second answer is gone already";
  info = nullptr;
  EXPECT_EQ(data_->ResultCount(), 0u);

  // Many checks in a row: nothing piles up.
  for (int i = 0; i < 2000; ++i) {
    list[0].SetAsInteger(i % 3);
    Variant def;
    OpenWith(sql, &list, def);
  }
  EXPECT_EQ(data_->ResultCount(), 0u);
  EXPECT_EQ(InterfacedObject::LiveObjects(), live_ + 2) << "only the settings and the manager";
}

TEST_F(DbManagerTest, AnEmptyDescriptionVariableReceivesTheResultsColumns) {
  Variant def;
  auto info = OpenWith(
      u"select ID, NAME, PRICE, MADE, NOTE, PIC, FLAG, STAMP, ID * 2 as TWICE, 'x' as LIT, "
      u"NULL as EMPTY, 1.5 as R from items",
      nullptr, def);
  ComPtr<IKVTTableDef> table = def.ToUnknown().As<IKVTTableDef>();
  struct Expected {
    const char* name;
    int32_t type;
    int32_t size;
  };
  const Expected expected[] = {
      {"ID", ftInteger, 0},   {"NAME", ftString, 20},   {"PRICE", ftFloat, 0},
      {"MADE", ftDate, 0},    {"NOTE", ftMemo, 0},      {"PIC", ftBlob, 0},
      {"FLAG", ftBoolean, 0}, {"STAMP", ftDateTime, 0}, {"TWICE", ftInteger, 0},
      {"LIT", ftMemo, 0},     {"EMPTY", ftMemo, 0},     {"R", ftFloat, 0},
  };
  ASSERT_EQ(table->GetFieldCount(), static_cast<int32_t>(std::size(expected)));
  for (int32_t i = 0; i < table->GetFieldCount(); ++i) {
    const Expected& e = expected[i];
    SCOPED_TRACE(e.name);
    ComPtr<IKVTFieldInfo> f = table->GetField(i);
    EXPECT_EQ(f->GetFieldName().ToUtf8(), e.name);
    EXPECT_EQ(f->GetDataType(), e.type);
    EXPECT_EQ(f->GetSize(), e.size);
    EXPECT_EQ(f->GetRequired(), 0);
    EXPECT_EQ(f->GetFieldKind(), 0);
    EXPECT_EQ(f->GetDisplayLabel().ToUtf8(), e.name);
  }
  EXPECT_EQ(table->GetIndexCount(), 0);
  EXPECT_EQ(table->GetProviderName(), info->GetProviderName());
  EXPECT_THROW(table->GetField(99), EListError);

  // A caller that brings its own description keeps it.
  Variant mine = Variant(int32_t{7});
  OpenWith(u"select 1", nullptr, mine);
  EXPECT_EQ(mine.ToInt32(), 7);
}

TEST_F(DbManagerTest, ValuesThatDoNotFitTheirDeclarationDescribeTheColumnByValue) {
  MakeSqliteFile(file_, R"sql(
    CREATE TABLE loose (N INTEGER, D DATE, S VARCHAR(3));
    INSERT INTO loose VALUES (5000000000, 'not a date', 'longer than three');
  )sql");
  Variant def;
  OpenWith(u"select N, D, S from loose", nullptr, def);
  ComPtr<IKVTTableDef> table = def.ToUnknown().As<IKVTTableDef>();
  EXPECT_EQ(table->GetField(0)->GetDataType(), ftLargeint);
  EXPECT_EQ(table->GetField(1)->GetDataType(), ftMemo);
  EXPECT_EQ(table->GetField(2)->GetDataType(), ftString);
  EXPECT_EQ(table->GetField(2)->GetSize(), 17);
}

TEST_F(DbManagerTest, AChangedStorageSettingOpensTheOtherFile) {
  const std::string other = dir_.File("other.db3");
  MakeSqliteFile(other, "CREATE TABLE items (NAME TEXT); INSERT INTO items VALUES ('other');");
  EXPECT_EQ(First(Open(u"select NAME from items order by NAME")), "apple");
  settings_->SetDatabaseParam("test", "sqlite.file", other);
  EXPECT_EQ(First(Open(u"select NAME from items order by NAME")), "other");
  settings_->SetSqliteFileOverride(file_);
  EXPECT_EQ(First(Open(u"select NAME from items order by NAME")), "apple");
}

}  // namespace
