#include "host/appserver.h"

#include <gtest/gtest.h>

#include "host/dbmanager.h"
#include "platform/com/dispinvoke.h"
#include "platform/db/clientdataset.h"
#include "platform/db/packet.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_appserver.h"
#include "tests/fakes/temp_sqlite.h"

namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE items (ID INTEGER PRIMARY KEY, NAME VARCHAR(20) NOT NULL UNIQUE, PRICE REAL,
                    MADE DATE);
INSERT INTO items VALUES (1, 'apple', 1.5, '2024-01-02');
INSERT INTO items VALUES (2, 'plum', 2.25, NULL);
CREATE TABLE pairs (A TEXT, B TEXT);
INSERT INTO pairs VALUES ('a', '1');
)sql";

class AppServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live_ = InterfacedObject::LiveObjects();
    settings_ = MakeObject<THostSettings>(dir_.File("kvthost.ini"));
    file_ = dir_.File("test.db3");
    MakeSqliteFile(file_, kSchema);
    for (auto [name, readonly] : {std::pair{"test", "Нет"}, std::pair{"ro", "Да"}}) {
      settings_->SetDatabaseDriver(name, "SQLITE");
      settings_->SetDatabaseParam(name, "sqlite.file", file_);
      settings_->SetDatabaseParam(name, "readonly", readonly);
    }
    data_ = std::make_shared<DataService>(settings_);
    data_->DeclareTable(u"items", "test", "items");
    data_->DeclareTable(u"ro_items", "ro", "items");
    server_ = MakeObject<TAppServerObject>(data_);
  }
  void TearDown() override {
    server_ = nullptr;
    data_.reset();
    settings_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  }

  DataPacket Records(const std::u16string& provider, int32_t count = -1, int32_t options = 0,
                     int32_t* got = nullptr) {
    Variant params, owner, packet;
    int32_t recs = -7;
    HRESULT hr =
        server_->AS_GetRecords(provider, count, &recs, options, {}, &params, &owner, &packet);
    EXPECT_EQ(hr, S_OK) << LastError();
    if (got) *got = recs;
    return DecodeDataPacket(std::move(packet));
  }
  ApplyResult Apply(const std::u16string& provider, DeltaPacket delta, int32_t max_errors,
                    int32_t* errors = nullptr) {
    Variant owner, result;
    int32_t count = -1;
    HRESULT hr = server_->AS_ApplyUpdates(provider, EncodeDeltaPacket(std::move(delta)), max_errors,
                                          &count, &owner, &result);
    EXPECT_EQ(hr, S_OK) << LastError();
    if (errors) *errors = count;
    return DecodeApplyResult(result);
  }
  static std::string LastError() {
    ErrorInfo info;
    return GetErrorInfo(&info) ? info.description.ToUtf8() : std::string("<no error info>");
  }
  // The delta columns of "items" as a client sends them.
  static std::vector<PacketColumn> ItemColumns() {
    return {{"ID", ftAutoInc, 0, false, pfInWhere | pfInKey},
            {"NAME", ftString, 20, true, pfInUpdate | pfInWhere},
            {"PRICE", ftFloat, 0, false, pfInUpdate | pfInWhere},
            {"MADE", ftDate, 0, false, pfInUpdate | pfInWhere}};
  }
  static std::vector<Variant> Row(Variant id, const char* name, Variant price, Variant made) {
    return {std::move(id), Variant::Ansi(name), std::move(price), std::move(made)};
  }
  std::string Items() {
    return QuerySqlite(
        file_,
        "select group_concat(ID || ':' || NAME || ':' || coalesce(PRICE, '-') || ':' "
        "|| coalesce(MADE, '-'), ' ') from (select * from items order by ID)");
  }

  int64_t live_ = 0;
  TempFolder dir_;
  std::string file_;
  ComPtr<THostSettings> settings_;
  std::shared_ptr<DataService> data_;
  ComPtr<TAppServerObject> server_;
};

TEST_F(AppServerTest, AResultHandsOutItsRowsInTurn) {
  auto manager = MakeObject<TDBManager>(data_);
  Variant def;
  auto info = manager->OpenSQL(u"test", u"select NAME, MADE from items order by ID", nullptr, false,
                               true, def);
  const std::u16string provider = info->GetProviderName().str();
  int32_t got = 0;
  DataPacket first = Records(provider, 1, 0, &got);
  EXPECT_EQ(got, 1);
  ASSERT_EQ(first.columns.size(), 2u);
  EXPECT_EQ(first.columns[0].name, "NAME");
  EXPECT_EQ(first.columns[0].type, ftString);
  EXPECT_EQ(first.columns[0].size, 20);
  EXPECT_EQ(first.columns[1].type, ftDate);
  ASSERT_EQ(first.row_count, 1);
  EXPECT_EQ(first.cells[0].ToText(), "apple");
  EXPECT_EQ(first.cells[1].ToDate(), EncodeDate(2024, 1, 2));
  DataPacket rest = Records(provider, -1, 0, &got);
  EXPECT_EQ(got, 1);
  EXPECT_EQ(rest.cells[0].ToText(), "plum");
  EXPECT_TRUE(rest.cells[1].IsNull());
  EXPECT_EQ(Records(provider, -1, 0, &got).row_count, 0);
  EXPECT_EQ(Records(provider, -1, grReset, &got).row_count, 2);
  EXPECT_EQ(Records(provider, 0, grReset | grMetaData, &got).columns.size(), 2u);

  // The provider goes with the result set.
  info = nullptr;
  Variant params, owner, packet;
  int32_t recs = 0;
  EXPECT_TRUE(FAILED(server_->AS_GetRecords(provider, -1, &recs, 0, {}, &params, &owner, &packet)));
  EXPECT_NE(LastError().find("not found"), std::string::npos);
}

TEST_F(AppServerTest, ATableProviderDescribesItsKeyAndRequiredColumns) {
  DataPacket p = Records(u"items");
  ASSERT_EQ(p.columns.size(), 4u);
  EXPECT_EQ(p.columns[0].type, ftAutoInc);
  EXPECT_TRUE(p.columns[0].flags & pfInKey);
  EXPECT_FALSE(p.columns[0].required);
  EXPECT_TRUE(p.columns[1].required);
  EXPECT_FALSE(p.columns[1].flags & pfInKey);
  EXPECT_EQ(p.row_count, 2);
  // Undeclared providers are found by table name in the one database holding it.
  settings_->SetDatabaseDriver("ro", "");  // only "test" serves now
  EXPECT_EQ(Records(u"pairs").row_count, 1);
}

TEST_F(AppServerTest, InsertsModifiesAndDeletesReachTheTable) {
  DeltaPacket delta;
  delta.columns = ItemColumns();
  delta.changes.push_back(
      {1,
       ukInsert,
       {},
       Row(Variant(-1), "pear", Variant(3.0), Variant::Date(EncodeDate(2024, 5, 6)))});
  delta.changes.push_back(
      {2, ukModify, Row(Variant(1), "apple", Variant(1.5), Variant::Date(EncodeDate(2024, 1, 2))),
       Row(Variant(1), "green apple", Variant(1.75), Variant::Date(EncodeDate(2024, 1, 3)))});
  delta.changes.push_back(
      {3, ukDelete, Row(Variant(2), "plum", Variant(2.25), Variant::Null()), {}});
  int32_t errors = -1;
  ApplyResult r = Apply(u"items", std::move(delta), -1, &errors);
  EXPECT_EQ(errors, 0);
  EXPECT_FALSE(r.rolled_back);
  EXPECT_TRUE(r.refused.empty());
  EXPECT_EQ(Items(), "1:green apple:1.75:2024-01-03 3:pear:3.0:2024-05-06");
}

TEST_F(AppServerTest, ARefusedChangeCarriesSqlitesMessageAndTheOthersApply) {
  auto delta = [&] {
    DeltaPacket d;
    d.columns = ItemColumns();
    d.changes.push_back(
        {1, ukInsert, {}, Row(Variant::Null(), "apple", Variant(9.0), Variant::Null())});
    d.changes.push_back(
        {2, ukInsert, {}, Row(Variant::Null(), "fig", Variant(4.0), Variant::Null())});
    d.changes.push_back({3, ukModify, Row(Variant(99), "ghost", Variant(1.0), Variant::Null()),
                         Row(Variant(99), "ghost2", Variant(1.0), Variant::Null())});
    return d;
  };
  int32_t errors = 0;
  ApplyResult r = Apply(u"items", delta(), -1, &errors);
  EXPECT_EQ(errors, 2);
  EXPECT_FALSE(r.rolled_back);
  ASSERT_EQ(r.refused.size(), 2u);
  EXPECT_EQ(r.refused[0].id, 1);
  EXPECT_NE(r.refused[0].message.find("UNIQUE constraint failed: items.NAME"), std::string::npos)
      << r.refused[0].message;
  EXPECT_EQ(r.refused[0].error_code, kKeyViolation);
  EXPECT_EQ(r.refused[1].id, 3);
  EXPECT_NE(r.refused[1].message.find("not found"), std::string::npos);
  EXPECT_EQ(Items(), "1:apple:1.5:2024-01-02 2:plum:2.25:- 3:fig:4.0:-");

  // More refusals than allowed: nothing at all is written.
  r = Apply(u"items", delta(), 1, &errors);
  EXPECT_TRUE(r.rolled_back);
  EXPECT_EQ(errors, 3) << "apple and fig both exist now, ghost is still missing";
  EXPECT_EQ(Items(), "1:apple:1.5:2024-01-02 2:plum:2.25:- 3:fig:4.0:-");
}

TEST_F(AppServerTest, AReadOnlyDatabaseRefusesEveryChange) {
  DeltaPacket d;
  d.columns = ItemColumns();
  d.changes.push_back(
      {1, ukInsert, {}, Row(Variant::Null(), "fig", Variant(4.0), Variant::Null())});
  d.changes.push_back({2, ukDelete, Row(Variant(2), "plum", Variant(2.25), Variant::Null()), {}});
  const std::string before = Items();
  int32_t errors = 0;
  ApplyResult r = Apply(u"ro_items", std::move(d), -1, &errors);
  EXPECT_EQ(errors, 2);
  ASSERT_EQ(r.refused.size(), 2u);
  for (const RefusedChange& c : r.refused)
    EXPECT_NE(c.message.find("Database \"ro\" is read-only"), std::string::npos) << c.message;
  EXPECT_EQ(Items(), before);
}

TEST_F(AppServerTest, AResultOfOneTableAppliesToThatTableAndOthersAreRefused) {
  auto manager = MakeObject<TDBManager>(data_);
  Variant def;
  auto info = manager->OpenSQL(u"test", u"select ID, NAME as N from items where ID = 1", nullptr,
                               false, true, def);
  DeltaPacket d;
  d.columns = {{"ID", ftInteger, 0, false, pfInWhere | pfInKey},
               {"N", ftString, 20, false, pfInUpdate | pfInWhere}};
  d.changes.push_back({1,
                       ukModify,
                       {Variant(1), Variant::Ansi("apple")},
                       {Variant(1), Variant::Ansi("red apple")}});
  ApplyResult r = Apply(info->GetProviderName().str(), std::move(d), -1);
  EXPECT_TRUE(r.refused.empty());
  EXPECT_EQ(QuerySqlite(file_, "select NAME from items where ID = 1"), "red apple");

  Variant def2;
  auto expr = manager->OpenSQL(u"test", u"select 1 as X", nullptr, false, true, def2);
  Variant owner, result;
  int32_t errors = 0;
  DeltaPacket e;
  e.columns = {{"X", ftInteger, 0, false, pfInWhere | pfInUpdate}};
  e.changes.push_back({1, ukInsert, {}, {Variant(2)}});
  EXPECT_TRUE(FAILED(server_->AS_ApplyUpdates(
      expr->GetProviderName(), EncodeDeltaPacket(std::move(e)), -1, &errors, &owner, &result)));
  EXPECT_NE(LastError().find("cannot be changed"), std::string::npos);
}

TEST_F(AppServerTest, InvokeCallsByDispatchIdentifierAndWritesByReferenceArguments) {
  ComPtr<IDispatch> disp =
      ComPtr<IUnknown>(static_cast<IAppServer*>(server_.Get())).As<IDispatch>();
  Variant recs, params, owner;
  Variant packet = DispatchMethod(
      disp.Get(), kDispGetRecords,
      {Variant(u"items"), Variant(int32_t{-1}), Variant::ByRef(&recs), Variant(int32_t{0}),
       Variant(u""), Variant::ByRef(&params), Variant::ByRef(&owner)});
  EXPECT_EQ(recs.ToInt32(), 2);
  EXPECT_EQ(DecodeDataPacket(std::move(packet)).row_count, 2);

  DeltaPacket d;
  d.columns = ItemColumns();
  d.changes.push_back(
      {5, ukInsert, {}, Row(Variant::Null(), "apple", Variant(1.0), Variant::Null())});
  Variant errors;
  Variant result =
      DispatchMethod(disp.Get(), kDispApplyUpdates,
                     {Variant(u"items"), EncodeDeltaPacket(std::move(d)), Variant(int32_t{-1}),
                      Variant::ByRef(&errors), Variant::ByRef(&owner)});
  EXPECT_EQ(errors.ToInt32(), 1);
  EXPECT_EQ(DecodeApplyResult(result).refused.at(0).id, 5);

  Variant names = DispatchMethod(disp.Get(), kDispGetProviderNames, {});
  EXPECT_EQ(names.ArrayCount(), 2);
  EXPECT_EQ(names.At(0).ToWide(), u"items");

  struct Failure {
    const char* what;
    DISPID id;
    std::vector<Variant> args;
    HRESULT hr;
    const char* message;
  };
  std::vector<Failure> failures;
  failures.push_back({"unknown member", 42, {}, DISP_E_MEMBERNOTFOUND, ""});
  failures.push_back(
      {"too few arguments", kDispGetRecords, {Variant(u"items")}, DISP_E_BADPARAMCOUNT, ""});
  failures.push_back(
      {"unknown provider", kDispGetParams, {Variant(u"nope"), Variant::ByRef(&owner)}, S_OK, ""});
  failures.push_back(
      {"not offered",
       kDispExecute,
       {Variant(u"items"), Variant(u"x"), Variant::ByRef(&params), Variant::ByRef(&owner)},
       E_NOTIMPL,
       "AS_Execute is not offered"});
  failures.push_back(
      {"server error",
       kDispGetRecords,
       {Variant(u"nope"), Variant(int32_t{-1}), Variant::ByRef(&recs), Variant(int32_t{0}),
        Variant(u""), Variant::ByRef(&params), Variant::ByRef(&owner)},
       E_UNEXPECTED,
       "Provider 'nope' not found"});
  for (Failure& f : failures) {
    SCOPED_TRACE(f.what);
    try {
      DispatchMethod(disp.Get(), f.id, f.args);
      EXPECT_EQ(f.hr, S_OK) << "no error";
    } catch (const EOleException& e) {
      EXPECT_EQ(e.ErrorCode(), f.hr);
      EXPECT_NE(e.Message().find(f.message), std::string::npos) << e.Message();
    } catch (const EOleSysError& e) {
      EXPECT_EQ(e.ErrorCode(), f.hr);
    }
  }
}

TEST_F(AppServerTest, UnofferedMethodsAnswerNotImplementedWithErrorInformation) {
  Variant data, owner, params, result;
  EXPECT_EQ(server_->AS_DataRequest(u"items", data, &result), E_NOTIMPL);
  EXPECT_NE(LastError().find("AS_DataRequest"), std::string::npos);
  EXPECT_EQ(server_->AS_RowRequest(u"items", data, 0, &owner, &result), E_NOTIMPL);
  EXPECT_NE(LastError().find("AS_RowRequest"), std::string::npos);
  EXPECT_EQ(server_->AS_Execute(u"items", u"", &params, &owner), E_NOTIMPL);
  EXPECT_NE(LastError().find("AS_Execute"), std::string::npos);
  EXPECT_EQ(server_->InterfaceSupportsErrorInfo(IAppServer::iid), S_OK);
  EXPECT_EQ(server_->InterfaceSupportsErrorInfo(IDispatch::iid), S_FALSE);
  EXPECT_EQ(server_->GetDriverName(), u"SQLITE");
  const WideString names[] = {u"as_getrecords"};
  DISPID id = 0;
  EXPECT_EQ(server_->GetIDsOfNames(GUID_NULL, names, 1, 0, &id), S_OK);
  EXPECT_EQ(id, kDispGetRecords);
}

TEST_F(AppServerTest, AClientDataSetReadsAndWritesThroughTheServer) {
  FakeRemoteServer conn;
  conn.SetServer(ComPtr<IDispatch>(static_cast<IAppServer*>(server_.Get())));
  {
    ClientDataSet ds;
    ds.SetRemoteServer(&conn);
    ds.SetProviderName("items");
    ds.Open();
    EXPECT_EQ(ds.RecordCount(), 2);
    ASSERT_TRUE(ds.Locate("NAME", Variant::Ansi("plum")));
    ds.Edit();
    ds.FieldByName("PRICE").SetAsFloat(2.5);
    ds.FieldByName("MADE").SetAsDateTime(EncodeDate(2025, 2, 3));
    ds.Post();
    ds.Append();
    ds.FieldByName("NAME").SetAsString("quince");
    ds.Post();
    EXPECT_EQ(ds.ApplyUpdates(-1), 0);
    ds.First();
    ds.Delete();
    EXPECT_EQ(ds.ApplyUpdates(-1), 0);
    ds.Close();
  }
  EXPECT_EQ(Items(), "2:plum:2.5:2025-02-03 3:quince:-:-");
}

}  // namespace
