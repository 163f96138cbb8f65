// The client table: its index list grammar and key fields, its description and host
// interfaces, and its behaviour over an application server reached through an alias
// attached to a host.
#include "dataaccess/cdsTable.h"

#include <gtest/gtest.h>

#include <memory>
#include <regex>

#include "platform/com/guid.h"
#include "platform/rtl/application.h"
#include "platform/rtl/datetime.h"
#include "tests/fakes/counting.h"
#include "tests/fakes/fake_dbappserver.h"
#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_opensql.h"
#include "tests/fakes/fake_tabledef.h"

namespace {

using Rows = std::vector<std::vector<Variant>>;
using Lines = std::vector<std::string>;

// --- Index list grammar

TEST(IndexList, EntriesGiveNameOptionsAndFieldText) {
  struct Case {
    int32_t position;
    const char* entry;
    bool no_primary;
    const char* name;
    int32_t options;
    const char* fields;
  };
  const Case kCases[] = {
      // The register's entries.
      {0, "REGNOM", false, "REGNOM", 3, "REGNOM"},
      {1, "/tTRADEMARK=G31_12,DESCRIPTION;G31_12;DESCRIPTION", false, "sIndex_1", 72,
       "TRADEMARK=G31_12,DESCRIPTION;G31_12;DESCRIPTION"},
      {2, "G31_12L", false, "G31_12L", 8, "G31_12L"},
      {0, "REGNOM,G33MIN", false, "REGNOM,G33MIN", 3, "REGNOM,G33MIN"},
      // Switches.
      {2, "/u/dNAME", false, "NAME", 14, "NAME"},
      {0, "/cA", false, "A", 3, "A"},
      {1, "/cA", false, "A", 0, "A"},
      {3, "/u/d", false, "", 14, ""},            // nothing but switches
      {1, "/d/d/uX", false, "/uX", 14, "/uX"},   // a switch counts once
      {1, "A/d", false, "d", 12, "d"},           // found anywhere, removed from the front
      {1, "ЖЖ/dИ", false, "/dИ", 12, "/dИ"},     // characters, not bytes
      {1, "/D/UX", false, "/D/UX", 8, "/D/UX"},  // switches are lower case
      // Names.
      {0, "A;B", false, "sIndex_0", 3, "A;B"},
      {1, " A ", false, "A", 8, " A "},
      {1, "\tA\r\n", false, "A", 8, "\tA\r\n"},
      {127, "X;Y", false, "sIndex_127", 8, "X;Y"},
      {128, "X;Y", false, "sIndex_-128", 8, "X;Y"},
      {200, "X;Y", false, "sIndex_-56", 8, "X;Y"},
      // NoPrimary.
      {0, "REGNOM", true, "REGNOM", 8, "REGNOM"},
      {0, "/uREGNOM", true, "REGNOM", 10, "REGNOM"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.position << " " << c.entry);
    TKVTIndexEntry e = ParseIndexEntry(c.entry, c.position, c.no_primary);
    EXPECT_EQ(e.Name, c.name);
    EXPECT_EQ(e.Options, c.options);
    EXPECT_EQ(e.Fields, c.fields);
  }
  EXPECT_EQ(IndexNameFor("A;B", 3), "sIndex_3");
  EXPECT_EQ(IndexNameFor(" NAME ", 3), "NAME");
}

TEST(IndexList, KeyFieldsFollowTheFirstEntry) {
  struct Case {
    Lines indexes;
    Lines keys;
  };
  const Case kCases[] = {
      {{"REGNOM,G33MIN", "G33MIN10"}, {"REGNOM,G33MIN"}},
      {{"A;B", "C"}, {"A", "B"}},
      {{" A ; B "}, {"A", "B"}},
      {{"A B\tC"}, {"A", "B", "C"}},
      {{"\"A B\";C"}, {"A B", "C"}},
      {{}, {}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.indexes));
    TcdsTable table;
    StringList lines;
    lines.Assign(c.indexes);
    table.SetIndexes(lines);
    EXPECT_EQ(table.KeyFields().Lines(), c.keys);
  }
  TcdsTable table;
  table.Indexes().Add("A;B");
  table.Indexes().Add("C");
  table.Indexes().Put(0, "D");
  EXPECT_EQ(table.KeyFields().Lines(), Lines{"D"});
  table.Indexes().Clear();
  EXPECT_TRUE(table.KeyFields().Empty());
}

// --- The description and the host interfaces

// A table declared as the register declares `vodar` (first fields only).
std::unique_ptr<TcdsTable> VodarLikeTable() {
  auto t = std::make_unique<TcdsTable>();
  t->SetName("vodar");
  t->SetTableName("vodar");
  t->SetFullname("Объекты ИС");
  t->SetDatabasename("ТРОИС");
  t->SetAutoCreate(true);
  t->Indexes().Add("REGNOM");
  t->Indexes().Add("/tTRADEMARK=G31_12,DESCRIPTION;G31_12;DESCRIPTION");
  t->Indexes().Add("G31_12L");
  auto* regnom = new StringField(t.get());
  regnom->SetFieldName("REGNOM");
  regnom->SetSize(25);
  regnom->SetDisplayLabel("Регистрационный номер ТРОИС");
  regnom->SetDataSet(t.get());
  auto* g31 = new MemoField(t.get());
  g31->SetFieldName("G31_12D");
  g31->SetDataSet(t.get());
  auto* width = new IntegerField(t.get());
  width->SetFieldName("F540IMGMINIWIDTH");
  width->SetDataSet(t.get());
  return t;
}

TEST(TableDef, DescribesTheTableAsDeclared) {
  LiveObjectsCheck live;
  auto table = VodarLikeTable();
  ComPtr<IKVTTableDef> def(table->TableDef());
  EXPECT_EQ(def->GetTableName().ToUtf8(), "vodar");
  EXPECT_EQ(def->GetFullname().ToUtf8(), "Объекты ИС");
  EXPECT_EQ(def->GetUpdateType(), umReplace);
  EXPECT_EQ(def->GetFieldCount(), 3);
  ComPtr<IKVTFieldInfo> f = def->GetField(0);
  EXPECT_EQ(f->GetFieldName().ToUtf8(), "REGNOM");
  EXPECT_EQ(f->GetDataType(), ftString);
  EXPECT_EQ(f->GetSize(), 25);
  EXPECT_EQ(f->GetDisplayLabel().ToUtf8(), "Регистрационный номер ТРОИС");
  EXPECT_EQ(def->GetField(1)->GetDataType(), ftMemo);
  EXPECT_EQ(def->GetField(2)->GetDisplayLabel().ToUtf8(), "F540IMGMINIWIDTH");
  EXPECT_NE(def->GetField(0).Get(), f.Get()) << "a new descriptor per call";
  EXPECT_FALSE(IsAutoIncrementField(f.Get()));
  EXPECT_THROW(def->GetField(3), EListError);

  ASSERT_EQ(def->GetIndexCount(), 3);
  const struct {
    const char* name;
    const char* fields;
    int32_t options;
  } kIndexes[] = {{"REGNOM", "REGNOM", 3},
                  {"sIndex_1", "TRADEMARK=G31_12,DESCRIPTION;G31_12;DESCRIPTION", 72},
                  {"G31_12L", "G31_12L", 8}};
  for (int32_t i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ComPtr<IKVTIndexInfo> index = def->GetIndex(i);
    EXPECT_EQ(index->GetName().ToUtf8(), kIndexes[i].name);
    EXPECT_EQ(index->GetFields().ToUtf8(), kIndexes[i].fields);
    EXPECT_EQ(index->GetOptions(), kIndexes[i].options);
  }
  EXPECT_THROW(def->GetIndex(3), EListError);
  table->SetNoPrimary(true);
  EXPECT_EQ(def->GetIndex(0)->GetOptions(), 8);

  // The host may rename the table; texts keep what code page 1251 holds.
  EXPECT_EQ(def->SetFullname(u"Объекты ИС — €"), S_OK);
  EXPECT_EQ(table->Fullname(), "Объекты ИС — €");
  EXPECT_EQ(def->SetTableName(u"vodar≈"), S_OK);
  EXPECT_EQ(table->TableName(), "vodar?");
  EXPECT_EQ(def->SetProviderName(u"prov"), S_OK);
  EXPECT_EQ(table->ProviderName(), "prov");
  EXPECT_EQ(def->GetProviderName().ToUtf8(), "prov");

  // A server-assigned column is described as auto-increment.
  auto* id = new TKVTAutoincField(table.get());
  id->SetFieldName("ID");
  id->SetDataSet(table.get());
  ComPtr<IKVTFieldInfo> auto_info = def->GetField(3);
  EXPECT_TRUE(IsAutoIncrementField(auto_info.Get()));
  EXPECT_EQ(auto_info->GetFieldName().ToUtf8(), "ID");

  TcdsTable empty;
  EXPECT_EQ(empty.GetIndexCount(), 0);
  EXPECT_EQ(empty.UpdateType(), umReplace);
}

TEST(TableInterfaces, AreReachableFromEachOtherAndDoNotCount) {
  TcdsTable table;
  IUnknown* identity = nullptr;
  ASSERT_EQ(table.TableDef()->QueryInterface(IUnknown::iid, reinterpret_cast<void**>(&identity)),
            S_OK);
  const GUID kIids[] = {IKVTTableNotify::iid, IKVTUpdateMethod::iid, IKVTTableAux::iid,
                        IKVTTableDef::iid};
  for (const GUID& from : kIids) {
    IUnknown* start = nullptr;
    ASSERT_EQ(identity->QueryInterface(from, reinterpret_cast<void**>(&start)), S_OK);
    for (const GUID& to : kIids) {
      SCOPED_TRACE(GUIDToString(from) + " -> " + GUIDToString(to));
      IUnknown* other = nullptr;
      EXPECT_EQ(start->QueryInterface(to, reinterpret_cast<void**>(&other)), S_OK);
      ASSERT_NE(other, nullptr);
      IUnknown* back = nullptr;
      EXPECT_EQ(other->QueryInterface(IUnknown::iid, reinterpret_cast<void**>(&back)), S_OK);
      EXPECT_EQ(back, identity);
      EXPECT_EQ(other->AddRef(), kNonCountingRefs);
      EXPECT_EQ(other->Release(), kNonCountingRefs);
    }
  }
  void* none = &table;
  EXPECT_EQ(identity->QueryInterface(IKVTAlias::iid, &none), E_NOINTERFACE);
  EXPECT_EQ(none, nullptr);
}

TEST(TableInterfaces, NotificationsUpdateMethodAndTag) {
  TcdsTable table;
  std::vector<std::string> fired;
  table.OnValCheck = [&](DataSet& ds) { fired.push_back("valcheck " + ds.Name()); };
  table.BeforeDataUpdate = [&](DataSet& ds) { fired.push_back("dataupdate " + ds.Name()); };
  table.SetName("t");
  IKVTTableNotify* notify = &table;

  Variant out(int32_t{5});
  EXPECT_EQ(notify->Unsupported1(Variant(1)), E_FAIL);
  EXPECT_EQ(notify->Unsupported2(Variant(1), Variant(2), Variant(3)), E_FAIL);
  EXPECT_EQ(notify->Unsupported3(), E_FAIL);
  EXPECT_EQ(notify->Unsupported7(&out), E_FAIL);
  EXPECT_TRUE(out.IsEmpty());
  out = Variant(int32_t{6});
  EXPECT_EQ(notify->Unsupported8(&out), E_FAIL);
  EXPECT_TRUE(out.IsEmpty());
  EXPECT_TRUE(fired.empty()) << "the unsupported slots change nothing";

  EXPECT_EQ(notify->RefreshData(), S_OK) << "closed: nothing to refresh";
  EXPECT_EQ(notify->NotifyDataUpdate(), S_OK);
  out = Variant(int32_t{7});
  EXPECT_EQ(notify->NotifyValCheck(&out), S_OK);
  EXPECT_TRUE(out.IsEmpty());
  EXPECT_EQ(fired, (Lines{"dataupdate t", "valcheck t"}));
  table.OnValCheck = nullptr;
  EXPECT_EQ(notify->NotifyValCheck(nullptr), S_OK);

  IKVTUpdateMethod* method = &table;
  IKVTTableDef* def = &table;
  EXPECT_EQ(method->GetUpdateType(), 0);
  EXPECT_EQ(method->SetUpdateType(5), S_OK);
  EXPECT_EQ(method->GetUpdateType(), 5);
  EXPECT_EQ(def->GetUpdateType(), 5);
  EXPECT_EQ(table.UpdateType(), umBySecodIndex);
  EXPECT_EQ(method->SetUpdateType(0x1FF), S_OK);
  EXPECT_EQ(def->GetUpdateType(), 255) << "the low 8 bits, unchecked";

  IKVTTableAux* aux = &table;
  EXPECT_EQ(aux->GetTag(), -1);
}

// --- Over an application server

std::vector<PacketColumn> PlainColumns() {
  return {{"ID", ftInteger, 0, true, pfInUpdate | pfInWhere | pfInKey},
          {"NAME", ftString, 20, false, pfInUpdate | pfInWhere}};
}

Rows PlainRows() {
  return {{Variant(1), Variant::Text("pear")},
          {Variant(2), Variant::Text("Apple")},
          {Variant(3), Variant::Text("fig")}};
}

// A host that hands out one application server (which says which driver is behind it), an
// alias attached to that host, and tables made on the alias. Errors the application shows
// are collected.
class TableOverServer : public testing::Test {
 protected:
  void SetUp() override {
    server_->driver = "SQLITE";
    server_->AddTable("plain", PlainColumns(), PlainRows());
    server_->AddTable("items", {{"ID", ftAutoInc, 0, false, pfInUpdate | pfInWhere | pfInKey},
                                {"NAME", ftString, 20, false, pfInUpdate | pfInWhere}});
    host_->server_objects[host_->ServerGUID] = [this] { return server_->Unknown(); };
    alias_ = std::make_unique<TKVTAlias>();
    alias_->SetName("conn");
    alias_->SetHostServer(Host2());
    alias_->SetServerGUID(GUIDToString(host_->ServerGUID));
    previous_handler_ = Application::SetExceptionHandler(
        [this](const std::exception_ptr& e) { shown_.push_back(ExceptionMessage(e)); });
  }
  void TearDown() override { Application::SetExceptionHandler(std::move(previous_handler_)); }

  IKVTServer2* Host2() { return static_cast<IKVTServer2*>(host_.Get()); }
  std::unique_ptr<TcdsTable> Table(const std::string& provider) {
    auto t = std::make_unique<TcdsTable>();
    t->SetName(provider + "_table");
    t->SetTableName(provider);
    t->SetRemoteServer(alias_.get());
    t->SetProviderName(provider);
    return t;
  }
  Rows& ServerRows(const std::string& provider) { return server_->GetTable(provider).rows; }
  ComPtr<FakeOpenSQLResult> Result(const std::string& provider, const std::string& table) {
    auto r = MakeObject<FakeOpenSQLResult>();
    r->server_guid = GUIDToWide(host_->ServerGUID);
    r->provider = WideString::FromUtf8(provider);
    r->table = WideString::FromUtf8(table);
    return r;
  }

  LiveObjectsCheck live_;
  ComPtr<FakeHost> host_ = MakeObject<FakeHost>();
  ComPtr<FakeDatabaseAppServer> server_ = MakeObject<FakeDatabaseAppServer>();
  std::unique_ptr<TKVTAlias> alias_;
  std::vector<std::string> shown_;
  Application::Handler previous_handler_;
};

TEST_F(TableOverServer, ProvisionalNumbersCountDownAcrossOpens) {
  auto t = Table("items");
  t->Open();
  EXPECT_EQ(t->DriverName(), "SQLITE");
  Field& id = t->FieldByName("ID");
  EXPECT_FALSE(id.ReadOnly()) << "the auto-increment field is made writable";
  for (int32_t expected : {-1, -2, -3}) {
    t->Append();
    EXPECT_EQ(id.AsInteger(), expected);
    t->FieldByName("NAME").SetAsString("n");
    t->Post();
  }
  EXPECT_EQ(ServerRows("items").size(), 3u) << "each post applied at once";
  t->Close();
  t->Open();
  t->Insert();
  EXPECT_EQ(t->FieldByName("ID").AsInteger(), -4);
  t->Cancel();
  TcdsTable other;
  other.SetRemoteServer(alias_.get());
  other.SetProviderName("items");
  other.Open();
  other.Append();
  EXPECT_EQ(other.FieldByName("ID").AsInteger(), -1) << "each table counts for itself";
}

TEST_F(TableOverServer, NewRowsGetAFreshGuid) {
  // The field walk stops once both kinds are known; until then a later field of a kind
  // replaces an earlier one.
  struct Case {
    const char* what;
    std::vector<PacketColumn> columns;
    const char* filled;
    const char* empty;
  };
  const Case kCases[] = {
      {"with an auto-increment field first",
       {{"ID", ftAutoInc}, {"G", ftGuid, 38}, {"H", ftGuid, 38}},
       "G",
       "H"},
      {"without one", {{"G", ftGuid, 38}, {"H", ftGuid, 38}}, "H", "G"},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    server_->AddTable("guids", c.columns);
    auto t = Table("guids");
    t->SetManualApply(true);
    t->Open();
    EXPECT_NE(dynamic_cast<TKVTGUIDFIeld*>(&t->FieldByName("G")), nullptr);
    t->Append();
    const std::string g = t->FieldByName(c.filled).AsString();
    EXPECT_TRUE(std::regex_match(g, std::regex("[0-9A-F]{8}(-[0-9A-F]{4}){3}-[0-9A-F]{12}"))) << g;
    EXPECT_TRUE(t->FieldByName(c.empty).IsNull());
    t->Post();
    t->Append();
    EXPECT_NE(t->FieldByName(c.filled).AsString(), g);
  }
}

TEST_F(TableOverServer, BdeRefreshesOnceAfterPostingANewRowWithoutRelocating) {
  struct Case {
    const char* driver;
    bool batch;
    int refreshes;
    int applies;
  };
  const Case kCases[] = {
      {"BDE", false, 1, 1},
      {"SQLITE", false, 0, 1},
      {"bde", false, 0, 1},
      {"BDE", true, 0, 0},  // batches: 1 pending change is not a multiple of 200
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::Message() << c.driver << (c.batch ? " batch" : ""));
    server_->driver = c.driver;
    auto t = Table("items");
    t->Indexes().Add("ID");
    t->SetBatchApply(c.batch);
    std::vector<bool> relocate_during_refresh;
    t->AfterRefresh = [&](DataSet&) { relocate_during_refresh.push_back(t->RelocateOnRefresh()); };
    t->Open();
    EXPECT_EQ(t->DriverName(), c.driver);
    const int fetches = server_->get_records_calls;
    const int applies = server_->apply_calls;
    t->Append();
    t->FieldByName("NAME").SetAsString("new");
    t->Post();
    EXPECT_EQ(server_->get_records_calls - fetches, c.refreshes);
    EXPECT_EQ(server_->apply_calls - applies, c.applies);
    EXPECT_EQ(relocate_during_refresh, std::vector<bool>(static_cast<size_t>(c.refreshes), false));
    EXPECT_TRUE(t->RelocateOnRefresh()) << "restored";
    if (!c.batch) {
      // An edit of an existing row requests no refresh.
      t->Edit();
      t->FieldByName("NAME").SetAsString("edited");
      t->Post();
      EXPECT_EQ(server_->get_records_calls - fetches, c.refreshes);
    }
    ServerRows("items").clear();
  }
}

// A table whose local store fails with a prepared error.
class FailingStoreTable : public TcdsTable {
 public:
  using TcdsTable::TcdsTable;
  std::function<void()> fail;

 protected:
  void InternalPost() override {
    if (fail) fail();
    TcdsTable::InternalPost();
  }
};

TEST_F(TableOverServer, DuplicateKeysBecomeEKeyViolationOtherStoreErrorsAbortSilently) {
  const std::string kMessage = "Дублирование записей.\r\nТаблица \"plain\"";
  {
    SCOPED_TRACE("the engine's unique index");
    auto t = Table("plain");
    t->AddIndex("byId", "ID", ixUnique);
    t->Open();
    t->Append();
    t->FieldByName("ID").SetAsInteger(2);
    try {
      t->Post();
      ADD_FAILURE() << "posted a duplicate";
    } catch (const EKeyViolation& e) {
      EXPECT_EQ(e.Message(), kMessage);
      EXPECT_EQ(e.GetDataSet(), t.get());
    }
    EXPECT_EQ(t->State(), DataSetState::Insert);
    EXPECT_EQ(t->ChangeCount(), 0);
  }
  struct Case {
    const char* what;
    std::function<void()> fail;
    bool key_violation;
  };
  const Case kCases[] = {
      {"engine error 0x2601", [] { throw EDBClient("whatever", kKeyViolation); }, true},
      {"engine error, other code, text says key violation",
       [] { throw EDBClient("Key violation.", 0x2602); }, false},
      {"database error with the text in any case",
       [] { throw EDatabaseError("Index: key Violation on PK"); }, true},
      {"other database error", [] { throw EDatabaseError("Disk full"); }, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    FailingStoreTable t;
    t.SetTableName("plain");
    t.SetRemoteServer(alias_.get());
    t.SetProviderName("plain");
    t.fail = c.fail;
    t.Open();
    t.Edit();
    t.FieldByName("NAME").SetAsString("x");
    try {
      t.Post();
      ADD_FAILURE() << "the post went through";
    } catch (const EKeyViolation& e) {
      EXPECT_TRUE(c.key_violation);
      EXPECT_EQ(e.Message(), kMessage);
    } catch (const EAbort&) {
      EXPECT_FALSE(c.key_violation);
    }
    EXPECT_EQ(t.State(), DataSetState::Edit);
  }
  {
    SCOPED_TRACE("a required field left empty");
    auto t = Table("plain");
    t->Open();
    t->Append();
    t->FieldByName("NAME").SetAsString("no id");
    EXPECT_THROW(t->Post(), EAbort);
    EXPECT_EQ(t->State(), DataSetState::Insert);
  }
  EXPECT_TRUE(shown_.empty());
}

TEST_F(TableOverServer, RefusedChangesReachTheApplicationHandlerAndStayPending) {
  server_->refuse = [](const DeltaChange& change,
                       const DeltaPacket&) -> std::optional<FakeAppServer::Refusal> {
    if (change.current.size() > 1 && change.current[1].ToText().rfind("bad", 0) == 0)
      return FakeAppServer::Refusal{"Нарушено ограничение " + change.current[1].ToText(), 0};
    return std::nullopt;
  };
  auto t = Table("plain");
  t->SetTableName("Товары");
  t->SetManualApply(true);
  std::vector<std::string> done;
  t->OnPostDone = [&](DataSet&) { done.push_back("done"); };
  t->OnPostDone2 = [&](DataSet&) { done.push_back("done2"); };
  t->Open();
  int id = 10;
  for (const char* name : {"bad1", "good", "bad2"}) {
    t->Append();
    t->FieldByName("ID").SetAsInteger(id++);
    t->FieldByName("NAME").SetAsString(name);
    t->Post();
  }
  EXPECT_EQ(server_->apply_calls, 0) << "manual apply: nothing sent";
  EXPECT_EQ(t->ChangeCount(), 3);
  done.clear();

  // Post while browsing still applies and notifies.
  t->SetManualApply(false);
  EXPECT_NO_THROW(t->Post());
  EXPECT_EQ(server_->apply_calls, 1);
  EXPECT_EQ(server_->last_max_errors, -1);
  EXPECT_EQ(shown_, Lines{"Товары Нарушено ограничение bad1"})
      << "the reconcile stops at the first";
  EXPECT_EQ(t->ChangeCount(), 2) << "the refused changes stay pending";
  EXPECT_EQ(ServerRows("plain").size(), 4u);
  EXPECT_EQ(done, (Lines{"done", "done2"}));

  // Sent again with the next apply.
  server_->refuse = nullptr;
  t->Post();
  EXPECT_EQ(t->ChangeCount(), 0);
  EXPECT_EQ(ServerRows("plain").size(), 6u);
}

TEST_F(TableOverServer, DeleteAppliesBeforeAfterDeleteFires) {
  auto t = Table("plain");
  int pending_in_after_delete = -1;
  t->AfterDelete = [&](DataSet&) { pending_in_after_delete = t->ChangeCount(); };
  t->Open();
  t->Delete();
  EXPECT_EQ(pending_in_after_delete, 0);
  EXPECT_EQ(ServerRows("plain").size(), 2u);
}

TEST_F(TableOverServer, RefreshReturnsToTheSameKey) {
  struct Case {
    const char* what;
    Lines indexes;
    bool relocate;
    int expected_id;
  };
  const Case kCases[] = {
      {"relocates by the first index", {"ID", "NAME"}, true, 2},
      {"switched off", {"ID"}, false, 1},
      {"no key fields", {}, true, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    server_->AddTable("plain", PlainColumns(), PlainRows());
    auto t = Table("plain");
    t->Indexes().Assign(c.indexes);
    t->SetRelocateOnRefresh(c.relocate);
    t->Open();
    ASSERT_TRUE(t->Locate("ID", Variant(2)));
    ServerRows("plain").insert(ServerRows("plain").begin(), {Variant(0), Variant::Text("zero")});
    EXPECT_EQ(static_cast<IKVTTableNotify*>(t.get())->RefreshData(), S_OK);
    EXPECT_EQ(t->RecordCount(), 4);
    EXPECT_EQ(t->FieldByName("ID").AsInteger(), c.expected_id);
  }
  auto t = Table("plain");
  t->Indexes().Add("MISSING");
  t->Open();
  EXPECT_THROW(t->Refresh(), EDatabaseError) << "a key field that is not a field";
}

TEST_F(TableOverServer, DetailTablesOpenAfterAndCloseBeforeTheirMaster) {
  server_->AddTable("lines", {{"MASTER_ID", ftInteger}, {"N", ftInteger}},
                    {{Variant(1), Variant(10)}, {Variant(2), Variant(20)}});
  auto master = Table("plain");
  auto detail = Table("lines");
  master->AddDetailTable(detail.get());
  std::vector<std::string> events;
  master->AfterOpen = [&](DataSet&) {
    events.push_back("master open " + std::to_string(detail->Active()));
  };
  master->AfterClose = [&](DataSet&) {
    events.push_back("master closed " + std::to_string(detail->Active()));
  };
  master->Open();
  master->Close();
  EXPECT_EQ(events, (Lines{"master open 1", "master closed 0"}));

  {
    auto gone = Table("lines");
    master->AddDetailTable(gone.get());
    EXPECT_EQ(master->DetailTables().size(), 2u);
  }
  EXPECT_EQ(master->DetailTables().size(), 1u) << "a freed detail table leaves the list";

  master->SetOpenDetailTables(false);
  master->Open();
  EXPECT_FALSE(detail->Active());
  detail->Open();
  master->Close();
  EXPECT_FALSE(detail->Active()) << "closed whatever OpenDetailTables says";
}

TEST_F(TableOverServer, ADetailTableThatFailsToOpenRaisesEOpenError) {
  auto master = Table("plain");
  auto failing = Table("missing");
  failing->SetFullname("Детали");
  failing->SetTableName("details");
  master->AddDetailTable(failing.get());
  bool after_open = false;
  master->AfterOpen = [&](DataSet&) { after_open = true; };
  const std::string kText =
      "Внимание! Таблица \"Детали\" (details). \r\nПроизошла ошибка при открытии "
      "\"Provider not found: missing\".";
  try {
    master->Open();
    ADD_FAILURE() << "opened";
  } catch (const EOpenError& e) {
    EXPECT_EQ(e.Message(), kText);
  }
  EXPECT_TRUE(master->Active()) << "the table itself stays open";
  EXPECT_FALSE(after_open);
  master->Close();

  // An EOpenError of a detail's own detail passes on unchanged.
  auto top = Table("plain");
  top->SetFullname("Верх");
  top->AddDetailTable(master.get());
  try {
    top->Open();
    ADD_FAILURE() << "opened";
  } catch (const EOpenError& e) {
    EXPECT_EQ(e.Message(), kText);
  }
}

TEST_F(TableOverServer, EmptyKeyFieldsGetDefaultsBeforePost) {
  server_->AddTable("keys", {{"S", ftString, 10}, {"I", ftInteger}, {"D", ftDate}, {"M", ftMemo}});
  struct Case {
    Lines indexes;
    bool s, i, d;  // which fields got a default
  };
  const Case kCases[] = {
      {{"S;I;D;M"}, true, true, true},
      {{"S,I"}, true, false, false},         // one key name: only the first field
      {{"X;Y"}, true, true, false},          // the first positions, whatever the names
      {{"A;B;C;D;E"}, false, false, false},  // more names than fields
      {{}, false, false, false},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(testing::PrintToString(c.indexes));
    auto t = Table("keys");
    t->SetManualApply(true);
    t->Indexes().Assign(c.indexes);
    t->Open();
    t->Append();
    const TDateTime before = Now();
    t->Post();
    EXPECT_EQ(!t->FieldByName("S").IsNull(), c.s);
    EXPECT_EQ(!t->FieldByName("I").IsNull(), c.i);
    EXPECT_EQ(!t->FieldByName("D").IsNull(), c.d);
    EXPECT_TRUE(t->FieldByName("M").IsNull()) << "other types stay empty";
    if (c.s) {
      EXPECT_EQ(t->FieldByName("S").AsString(), "");
    }
    if (c.i) {
      EXPECT_EQ(t->FieldByName("I").AsInteger(), 0);
    }
    if (c.d) {
      EXPECT_EQ(t->FieldByName("D").AsDateTime(),
                static_cast<double>(static_cast<int64_t>(before)));
    }
  }
  auto t = Table("keys");
  t->SetManualApply(true);
  t->SetFillKeyDefaults(false);
  t->Indexes().Add("S");
  t->Open();
  t->Append();
  t->Post();
  EXPECT_TRUE(t->FieldByName("S").IsNull());
}

TEST_F(TableOverServer, TheDesignTimeSortOrderComesBackAtEachOpen) {
  std::unique_ptr<TcdsTable> t;
  {
    FormLoading form;
    t = Table("plain");
    t->SetIndexFieldNames("NAME");
    form.Finish();
  }
  t->SetIndexFieldNames("");
  auto names = [&] {
    Lines r;
    for (t->First(); !t->Eof(); t->Next()) r.push_back(t->FieldByName("NAME").AsString());
    return r;
  };
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    t->Open();
    EXPECT_EQ(t->IndexName(), "NAME");
    EXPECT_EQ(names(), (Lines{"Apple", "fig", "pear"})) << "case-insensitive";
    t->Close();
    EXPECT_EQ(t->IndexName(), "") << "emptied at close";
  }
  ASSERT_EQ(t->IndexDefs().Count(), 1);
  EXPECT_EQ(t->IndexDefs()[0].options, ixCaseInsensitive);

  // A definition over the same fields (in any letter case) is taken as it is.
  std::unique_ptr<TcdsTable> u;
  {
    FormLoading form;
    u = Table("plain");
    u->AddIndex("byName", "name", 0);
    u->SetIndexFieldNames("NAME");
    form.Finish();
  }
  u->SetIndexFieldNames("");
  u->Open();
  EXPECT_EQ(u->IndexName(), "byName");
  EXPECT_EQ(u->IndexDefs().Count(), 1);
}

TEST_F(TableOverServer, DetailRowsFollowTheMasterThroughTheIndexFields) {
  server_->AddTable(
      "lines", {{"MASTER_ID", ftInteger}, {"N", ftInteger}},
      {{Variant(1), Variant(10)}, {Variant(2), Variant(20)}, {Variant(2), Variant(21)}});
  auto master = Table("plain");
  DataSource source;
  source.SetDataSet(master.get());
  auto detail = Table("lines");
  detail->SetIndexFieldNames("MASTER_ID");
  detail->SetMasterFields("ID");
  detail->SetMasterSource(&source);
  master->Open();
  detail->Open();
  ASSERT_EQ(detail->Params().Count(), 1);
  EXPECT_EQ(detail->Params()[0].Name(), "MASTER_ID");
  EXPECT_EQ(server_->last_params.Count(), 1);
  EXPECT_EQ(detail->RecordCount(), 1);
  master->Next();
  EXPECT_EQ(detail->RecordCount(), 2);
  EXPECT_EQ(detail->FieldByName("N").AsInteger(), 20);
  detail->Close();

  detail->SetMasterFields("ID;NAME");  // two master fields, one index field
  EXPECT_THROW(detail->Open(), EDatabaseError);
}

// --- Attaching to a host result set

TEST_F(TableOverServer, AttachingWithoutConnectionMakesAndOwnsAnAlias) {
  auto def = MakeObject<FakeTableDef>();
  def->AddField("ID", ftInteger).auto_increment = true;
  def->AddField("NAME", ftString, 20);
  def->AddIndex("ID");
  def->AddIndex("NAME;ID");
  {
    TcdsTable t(Result("items", "items_table").Get(), nullptr, Host2(), def.Get());
    EXPECT_EQ(t.ProviderName(), "items");
    EXPECT_EQ(t.TableName(), "items_table");
    EXPECT_EQ(t.Owner(), nullptr);
    auto* alias = dynamic_cast<TKVTAlias*>(t.RemoteServer());
    ASSERT_NE(alias, nullptr);
    EXPECT_NE(alias, alias_.get());
    EXPECT_TRUE(alias->Connected());
    EXPECT_EQ(alias->ServerGUID(), GUIDToString(host_->ServerGUID));
    EXPECT_TRUE(alias->LoadFromFile());
    EXPECT_EQ(t.Indexes().Lines(), (Lines{"ID", "NAME;ID"}));
    EXPECT_EQ(t.KeyFields().Lines(), Lines{"ID"});
    ASSERT_EQ(t.FieldCount(), 2);
    EXPECT_NE(dynamic_cast<TKVTAutoincField*>(&t.Fields(0)), nullptr);
    t.Open();
    EXPECT_EQ(t.DriverName(), "SQLITE");
    t.Append();
    EXPECT_EQ(t.Fields(0).AsInteger(), -1);
    t.Cancel();
  }
  EXPECT_EQ(server_->RefCount(), 1) << "the owned alias released the server object";
}

TEST_F(TableOverServer, AttachingWithAConnectionNeedsTheSameServerText) {
  auto result = Result("plain", "plain");
  {
    TcdsTable t(result.Get(), alias_.get(), nullptr, nullptr);
    EXPECT_EQ(t.RemoteServer(), alias_.get());
    t.Open();
    EXPECT_EQ(t.RecordCount(), 3);
  }
  EXPECT_TRUE(alias_->Connected()) << "a connection the table does not own stays";

  std::string lower = GUIDToString(host_->ServerGUID);
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  result->server_guid = WideString::FromUtf8(lower);
  try {
    TcdsTable t(result.Get(), alias_.get(), Host2(), nullptr);
    ADD_FAILURE() << "attached";
  } catch (const EWrongServerGUID& e) {
    EXPECT_STREQ(e.what(), "Неправильно задан идентификатор сервера");
  }
}

TEST_F(TableOverServer, AttachErrorsFreeWhatWasMade) {
  auto result = Result("plain", "plain");
  try {
    TcdsTable t(result.Get(), nullptr, nullptr, nullptr);
    ADD_FAILURE() << "attached";
  } catch (const std::exception& e) {
    EXPECT_EQ(typeid(e), typeid(Exception));
    EXPECT_STREQ(e.what(), "Не задана база данных!");
  }
  const GUID kUnknown = "{11111111-2222-3333-4444-555555555555}"_guid;
  result->server_guid = GUIDToWide(kUnknown);
  EXPECT_THROW(TcdsTable(result.Get(), nullptr, Host2(), nullptr), EOleSysError)
      << "the host has no such server";
  result->server_guid = u"not a guid";
  EXPECT_THROW(TcdsTable(result.Get(), nullptr, Host2(), nullptr), EOleSysError);
  EXPECT_THROW(TcdsTable(nullptr, nullptr, Host2(), nullptr), EDatabaseError);
  EXPECT_EQ(server_->RefCount(), 1);
}

}  // namespace
