#include "platform/db/clientdataset.h"

#include <gtest/gtest.h>

#include "platform/com/object.h"
#include "platform/rtl/application.h"
#include "platform/rtl/datetime.h"
#include "tests/fakes/fake_appserver.h"

namespace {

using Rows = std::vector<std::vector<Variant>>;

std::vector<PacketColumn> ItemColumns() {
  return {{"ID", ftInteger, 0, true, pfInUpdate | pfInWhere | pfInKey},
          {"NAME", ftString, 10, false, pfInUpdate | pfInWhere},
          {"QTY", ftInteger, 0, false, pfInUpdate | pfInWhere},
          {"MADE", ftDate, 0, false, pfInUpdate | pfInWhere}};
}

Rows ItemRows() {
  return {
      {Variant(1), Variant::Text("apple"), Variant(10), Variant::Date(EncodeDate(2024, 1, 2))},
      {Variant(2), Variant::Text("Pear"), Variant::Null(), Variant::Null()},
      {Variant(3), Variant::Text("plum"), Variant(30), Variant::Date(EncodeDate(2023, 12, 31))}};
}

// A server with the table "items", a connection to it and a data set on it. Counted
// objects must be balanced when the fixture ends.
class ClientDataSetTest : public testing::Test {
 protected:
  void SetUp() override {
    live_ = InterfacedObject::LiveObjects();
    server_ = MakeObject<FakeAppServer>();
    server_->AddTable("items", ItemColumns(), ItemRows());
    conn_ = std::make_unique<FakeRemoteServer>();
    conn_->SetServer(server_);
    ds_ = std::make_unique<ClientDataSet>();
    ds_->SetRemoteServer(conn_.get());
    ds_->SetProviderName("items");
  }
  void TearDown() override {
    ds_.reset();
    conn_.reset();
    server_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_);
  }
  std::vector<Variant>& ServerRow(size_t i) { return server_->GetTable("items").rows.at(i); }
  size_t ServerRows() { return server_->GetTable("items").rows.size(); }
  std::vector<int> Ids(ClientDataSet& ds) {
    std::vector<int> ids;
    ds.First();
    for (; !ds.Eof(); ds.Next()) ids.push_back(ds.FieldByName("ID").AsInteger());
    return ids;
  }

  int64_t live_ = 0;
  ComPtr<FakeAppServer> server_;
  std::unique_ptr<FakeRemoteServer> conn_;
  std::unique_ptr<ClientDataSet> ds_;
};

// --- Open, read, navigate

TEST_F(ClientDataSetTest, OpenBuildsFieldsFromThePacketAndCloseFreesThem) {
  ds_->Open();
  ASSERT_TRUE(ds_->Active());
  ASSERT_EQ(ds_->FieldCount(), 4);
  const struct {
    const char* name;
    FieldType type;
    int32_t size;
    bool required;
    ProviderFlags flags;
  } expected[] = {{"ID", ftInteger, 0, true, pfInUpdate | pfInWhere | pfInKey},
                  {"NAME", ftString, 10, false, pfInUpdate | pfInWhere},
                  {"QTY", ftInteger, 0, false, pfInUpdate | pfInWhere},
                  {"MADE", ftDate, 0, false, pfInUpdate | pfInWhere}};
  for (int i = 0; i < 4; ++i) {
    SCOPED_TRACE(expected[i].name);
    Field& f = ds_->Fields(i);
    EXPECT_EQ(f.FieldName(), expected[i].name);
    EXPECT_EQ(f.DataType(), expected[i].type);
    EXPECT_EQ(f.Size(), expected[i].size);
    EXPECT_EQ(f.Required(), expected[i].required);
    EXPECT_EQ(f.GetProviderFlags(), expected[i].flags);
    EXPECT_EQ(f.Index(), i);
    EXPECT_EQ(f.GetDataSet(), ds_.get());
  }
  EXPECT_NE(dynamic_cast<StringField*>(&ds_->Fields(1)), nullptr);
  EXPECT_NE(dynamic_cast<DateField*>(&ds_->Fields(3)), nullptr);
  EXPECT_TRUE(ds_->DefaultFields());
  EXPECT_EQ(ds_->RecordCount(), 3);
  EXPECT_EQ(ds_->FieldByName("name").AsString(), "apple");
  EXPECT_EQ(ds_->FieldByName("MADE").AsString(), "2024-01-02");
  EXPECT_THROW(ds_->Fields(4), EListError);
  try {
    ds_->FieldByName("NOPE");
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'NOPE' not found");
  }
  EXPECT_EQ(ds_->FindField("nope"), nullptr);

  ds_->Close();
  EXPECT_FALSE(ds_->Active());
  EXPECT_EQ(ds_->FieldCount(), 0);
  EXPECT_EQ(ds_->ComponentCount(), 0);
  ds_->Open();
  EXPECT_EQ(ds_->FieldCount(), 4);
  EXPECT_EQ(server_->get_records_calls, 2);
}

TEST_F(ClientDataSetTest, NavigatesWithBofEofAndRecNo) {
  ds_->Open();
  EXPECT_TRUE(ds_->Bof());
  EXPECT_FALSE(ds_->Eof());
  EXPECT_EQ(ds_->RecNo(), 1);
  ds_->Next();
  ds_->Next();
  EXPECT_EQ(ds_->RecNo(), 3);
  EXPECT_FALSE(ds_->Eof());
  ds_->Next();
  EXPECT_TRUE(ds_->Eof());
  EXPECT_EQ(ds_->FieldByName("ID").AsInteger(), 3);
  ds_->Prior();
  EXPECT_FALSE(ds_->Eof());
  EXPECT_EQ(ds_->FieldByName("ID").AsInteger(), 2);
  EXPECT_TRUE(ds_->FieldByName("QTY").IsNull());
  EXPECT_EQ(ds_->FieldByName("QTY").AsInteger(), 0);
  ds_->First();
  ds_->Prior();
  EXPECT_TRUE(ds_->Bof());
  EXPECT_EQ(ds_->MoveBy(10), 2);
  EXPECT_TRUE(ds_->Eof());
  ds_->SetRecNo(2);
  EXPECT_EQ(ds_->FieldByName("NAME").AsString(), "Pear");
  EXPECT_EQ(Ids(*ds_), (std::vector<int>{1, 2, 3}));
}

TEST_F(ClientDataSetTest, AnEmptyTableOpensEmpty) {
  server_->GetTable("items").rows.clear();
  ds_->Open();
  EXPECT_TRUE(ds_->IsEmpty());
  EXPECT_TRUE(ds_->Bof());
  EXPECT_TRUE(ds_->Eof());
  EXPECT_EQ(ds_->RecNo(), 0);
  EXPECT_TRUE(ds_->FieldByName("ID").IsNull());
  EXPECT_THROW(ds_->Delete(), EDatabaseError);
}

TEST_F(ClientDataSetTest, DeclaredFieldsAreMatchedByNameAndKept) {
  Component form;
  auto* name = new StringField(&form);
  name->SetFieldName("name");
  name->SetDataSet(ds_.get());
  auto* id = new IntegerField(&form);
  id->SetFieldName("ID");
  id->SetDataSet(ds_.get());
  ds_->Open();
  EXPECT_FALSE(ds_->DefaultFields());
  ASSERT_EQ(ds_->FieldCount(), 2);  // QTY and MADE are not declared: left out
  EXPECT_EQ(ds_->Fields(0).AsString(), "apple");
  EXPECT_EQ(ds_->Fields(1).AsInteger(), 1);
  ds_->Close();
  EXPECT_EQ(ds_->FieldCount(), 2);
  EXPECT_EQ(name->GetDataSet(), ds_.get());

  // A declared data field without a column: clear error, closed, fields kept.
  auto* missing = new IntegerField(&form);
  missing->SetFieldName("COLOUR");
  missing->SetDataSet(ds_.get());
  try {
    ds_->Open();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'COLOUR' has no column in the data packet of provider 'items'");
  }
  EXPECT_FALSE(ds_->Active());
  EXPECT_EQ(ds_->FieldCount(), 3);
  // A calculated field needs no column.
  missing->SetFieldKind(fkCalculated);
  ds_->Open();
  EXPECT_TRUE(ds_->Fields(2).IsNull());
  ds_->Close();
  delete missing;  // a field freed first leaves its data set
  EXPECT_EQ(ds_->FieldCount(), 2);
}

TEST_F(ClientDataSetTest, DeclaredFieldsConvertTheColumnsAndRejectWhatDoesNotFit) {
  Component form;
  auto* name = new StringField(&form);
  name->SetFieldName("NAME");
  name->SetSize(4);
  name->SetDataSet(ds_.get());
  try {
    ds_->Open();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("row 0, field 'NAME': Value too long"), std::string::npos)
        << e.what();
  }
  EXPECT_FALSE(ds_->Active());
  name->SetSize(5);
  auto* qty = new StringField(&form);  // an integer column read as text
  qty->SetFieldName("QTY");
  qty->SetDataSet(ds_.get());
  ds_->Open();
  EXPECT_EQ(qty->AsString(), "10");
  EXPECT_EQ(qty->Value().VType(), varString);
}

TEST_F(ClientDataSetTest, OpenWithoutProviderOrServerFailsClearly) {
  ds_->SetProviderName("");
  try {
    ds_->Open();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Missing data provider or data packet");
  }
  ds_->SetProviderName("items");
  ds_->SetRemoteServer(nullptr);
  EXPECT_THROW(ds_->Open(), EDatabaseError);
  EXPECT_FALSE(ds_->Active());
}

TEST_F(ClientDataSetTest, TheServerIsAskedForOnEveryCallAndNotKept) {
  ds_->Open();
  EXPECT_EQ(conn_->get_server_calls, 1);
  ds_->Refresh();
  EXPECT_EQ(conn_->get_server_calls, 2);
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(11);
  ds_->Post();
  ds_->ApplyUpdates(-1);
  EXPECT_EQ(conn_->get_server_calls, 3);
  // The test, the fake connection's setting and its connected variant: nothing else.
  EXPECT_EQ(server_->RefCount(), 3);
  conn_->Close();
  EXPECT_EQ(server_->RefCount(), 2);
  ds_->Refresh();  // connects again
  EXPECT_EQ(conn_->connects, 2);
}

TEST_F(ClientDataSetTest, ProviderNameChangesOnlyWhileClosed) {
  ds_->Open();
  EXPECT_THROW(ds_->SetProviderName("other"), EDatabaseError);
  EXPECT_EQ(ds_->ProviderName(), "items");
  ds_->SetProviderName("items");  // the same name is no change
}

// --- Locate

TEST_F(ClientDataSetTest, LocateFindsExactCaseSensitiveMatchesOnKeyFields) {
  ds_->Open();
  struct Case {
    const char* label;
    const char* fields;
    Variant values;
    LocateOptions options;
    int found_id;  // 0: not found
  };
  const Case cases[] = {
      {"integer key", "ID", Variant(3), 0, 3},
      {"key from text", "ID", Variant::Text("2"), 0, 2},
      {"missing key", "ID", Variant(9), 0, 0},
      {"case-sensitive", "NAME", Variant::Text("pear"), 0, 0},
      {"exact case", "NAME", Variant::Text("Pear"), 0, 2},
      {"case-insensitive", "NAME", Variant::Text("PEAR"), loCaseInsensitive, 2},
      {"partial key", "NAME", Variant::Text("pl"), loPartialKey, 3},
      {"no partial match by default", "NAME", Variant::Text("pl"), 0, 0},
      {"two fields", "ID;NAME", Variant::Array({Variant(1), Variant::Text("apple")}), 0, 1},
      {"two fields, one differs", "ID; NAME", Variant::Array({Variant(1), Variant::Text("plum")}),
       0, 0},
      {"null matches null", "QTY", Variant::Null(), 0, 2},
      {"date", "MADE", Variant::Date(EncodeDate(2023, 12, 31)), 0, 3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ds_->SetRecNo(2);
    bool found = ds_->Locate(c.fields, c.values, c.options);
    EXPECT_EQ(found, c.found_id != 0);
    EXPECT_EQ(ds_->FieldByName("ID").AsInteger(), c.found_id ? c.found_id : 2);
  }
  EXPECT_THROW(ds_->Locate("ID;NOPE", Variant::Array({Variant(1), Variant(2)})), EDatabaseError);
  EXPECT_THROW(ds_->Locate("ID;NAME", Variant(1)), EDatabaseError);
  EXPECT_THROW(ds_->Locate("ID", Variant::Text("x")), EConvertError);
}

// --- Refresh

TEST_F(ClientDataSetTest, RefreshFetchesAgainAndKeepsThePosition) {
  ds_->Open();
  ds_->SetRecNo(2);
  ServerRow(1)[1] = Variant::Text("Quince");
  ds_->Refresh();
  EXPECT_EQ(server_->get_records_calls, 2);
  EXPECT_EQ(ds_->RecNo(), 2);
  EXPECT_EQ(ds_->FieldByName("NAME").AsString(), "Quince");
  server_->GetTable("items").rows.resize(1);
  ds_->Refresh();
  EXPECT_EQ(ds_->RecordCount(), 1);
  EXPECT_EQ(ds_->RecNo(), 1);
}

TEST_F(ClientDataSetTest, AFailedRefreshLeavesTheRowsAsTheyWere) {
  ds_->Open();
  ds_->Last();
  server_->FailNext(FakeAppServer::kGetRecords, E_FAIL, "server down");
  try {
    ds_->Refresh();
    ADD_FAILURE();
  } catch (const EOleSysError& e) {
    EXPECT_STREQ(e.what(), "server down");
  }
  // A malformed answer is refused as a whole.
  server_->AnswerNextGetRecords(EncodeDataPacket(
      ItemColumns(), {{Variant(7), Variant::Text("x"), Variant(1), Variant::Text("not a date")}}));
  EXPECT_THROW(ds_->Refresh(), EDatabaseError);
  EXPECT_TRUE(ds_->Active());
  EXPECT_EQ(ds_->RecordCount(), 3);
  EXPECT_EQ(ds_->RecNo(), 3);
  EXPECT_EQ(ds_->FieldByName("NAME").AsString(), "plum");
}

TEST_F(ClientDataSetTest, RefreshIsRefusedWhileChangesArePending) {
  ds_->Open();
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(5);
  ds_->Post();
  try {
    ds_->Refresh();
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Must apply updates before refreshing data");
  }
  EXPECT_EQ(ds_->ChangeCount(), 1);
  EXPECT_EQ(ds_->FieldByName("QTY").AsInteger(), 5);
}

// --- A failing application server

TEST_F(ClientDataSetTest, AFailingServerLeavesTheDataSetClosed) {
  server_->FailNext(FakeAppServer::kGetRecords, E_ACCESSDENIED, "no access to items");
  try {
    ds_->Open();
    ADD_FAILURE();
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.what(), "no access to items");
    EXPECT_EQ(e.ErrorCode(), E_ACCESSDENIED);
  }
  EXPECT_FALSE(ds_->Active());
  EXPECT_EQ(ds_->FieldCount(), 0);

  const Variant answers[] = {
      Variant::Null(),
      Variant::Text("garbage"),
      EncodeDataPacket({{"ID", ftInteger}, {"N", static_cast<FieldType>(3)}}, {{Variant(1)}}),
  };
  for (const Variant& answer : answers) {
    SCOPED_TRACE(answer.VType());
    server_->AnswerNextGetRecords(answer);
    EXPECT_THROW(ds_->Open(), EDatabaseError);
    EXPECT_FALSE(ds_->Active());
    EXPECT_EQ(ds_->FieldCount(), 0);
    EXPECT_EQ(ds_->ComponentCount(), 0);
  }
  ds_->Open();  // and it recovers
  EXPECT_EQ(ds_->RecordCount(), 3);
}

TEST_F(ClientDataSetTest, AConnectionThatCannotConnectFailsTheOpen) {
  conn_->SetServer(nullptr);
  EXPECT_THROW(ds_->Open(), EDatabaseError);
  EXPECT_FALSE(ds_->Active());
}

TEST_F(ClientDataSetTest, ForgetsAConnectionThatIsFreed) {
  conn_.reset();
  EXPECT_EQ(ds_->RemoteServer(), nullptr);
  EXPECT_THROW(ds_->Open(), EDatabaseError);
}

// --- Editing and applying

TEST_F(ClientDataSetTest, InsertEditDeleteAndApplyRoundTrip) {
  ds_->Open();
  // Edit the second row.
  ds_->SetRecNo(2);
  ds_->Edit();
  EXPECT_EQ(ds_->State(), DataSetState::Edit);
  ds_->FieldByName("QTY").SetAsInteger(20);
  ds_->FieldByName("NAME").SetAsString("Груша");
  ds_->Post();
  EXPECT_EQ(ds_->State(), DataSetState::Browse);
  EXPECT_EQ(ds_->GetUpdateStatus(), usModified);
  // Append a row.
  ds_->Append();
  EXPECT_EQ(ds_->State(), DataSetState::Insert);
  EXPECT_EQ(ds_->RecNo(), 0);
  ds_->FieldByName("ID").SetAsInteger(4);
  ds_->FieldByName("NAME").SetAsString("kiwi");
  ds_->FieldByName("MADE").SetAsDateTime(EncodeDate(2024, 5, 6) + 0.5);
  ds_->Post();
  EXPECT_EQ(ds_->RecNo(), 4);
  EXPECT_EQ(ds_->GetUpdateStatus(), usInserted);
  EXPECT_EQ(ds_->FieldByName("MADE").AsString(), "2024-05-06");
  // Delete the first row.
  ds_->First();
  ds_->Delete();
  EXPECT_EQ(ds_->FieldByName("ID").AsInteger(), 2);
  EXPECT_EQ(ds_->RecordCount(), 3);
  EXPECT_EQ(ds_->ChangeCount(), 3);
  EXPECT_EQ(ServerRows(), 3u);  // nothing sent yet

  EXPECT_EQ(ds_->ApplyUpdates(-1), 0);
  EXPECT_EQ(ds_->ChangeCount(), 0);
  EXPECT_EQ(server_->apply_calls, 1);
  EXPECT_EQ(server_->last_max_errors, -1);
  const DeltaPacket& delta = server_->last_delta;
  ASSERT_EQ(delta.changes.size(), 3u);
  EXPECT_EQ(delta.changes[0].kind, ukModify);  // in the order they were made
  EXPECT_EQ(delta.changes[0].original[2].IsNull(), true);
  EXPECT_EQ(delta.changes[0].current[2].ToInt32(), 20);
  EXPECT_EQ(delta.changes[1].kind, ukInsert);
  EXPECT_EQ(delta.changes[2].kind, ukDelete);
  EXPECT_EQ(delta.changes[2].original[0].ToInt32(), 1);
  EXPECT_EQ(delta.columns.size(), 4u);

  // The server now has what the data set shows.
  ds_->Refresh();
  EXPECT_EQ(Ids(*ds_), (std::vector<int>{2, 3, 4}));
  ds_->First();
  EXPECT_EQ(ds_->FieldByName("NAME").AsString(), "Груша");
  EXPECT_EQ(ds_->FieldByName("QTY").AsInteger(), 20);
  EXPECT_EQ(ds_->ApplyUpdates(-1), 0);  // nothing pending: no call
  EXPECT_EQ(server_->apply_calls, 1);
}

TEST_F(ClientDataSetTest, TheChangeLogFollowsEachRowsHistory) {
  ds_->Open();
  // An inserted row edited again stays one insert; deleted, it leaves no trace.
  ds_->Append();
  ds_->FieldByName("ID").SetAsInteger(8);
  ds_->Post();
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(1);
  ds_->Post();
  EXPECT_EQ(ds_->ChangeCount(), 1);
  EXPECT_EQ(ds_->GetUpdateStatus(), usInserted);
  ds_->Delete();
  EXPECT_EQ(ds_->ChangeCount(), 0);
  // An edit that changes nothing is no change; a modified row deleted is one delete
  // carrying the values fetched from the server.
  ds_->First();
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(10);
  ds_->Post();
  EXPECT_EQ(ds_->ChangeCount(), 0);
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(99);
  ds_->Post();
  ds_->Delete();
  EXPECT_EQ(ds_->ChangeCount(), 1);
  ds_->ApplyUpdates(-1);
  ASSERT_EQ(server_->last_delta.changes.size(), 1u);
  EXPECT_EQ(server_->last_delta.changes[0].kind, ukDelete);
  EXPECT_EQ(server_->last_delta.changes[0].original[2].ToInt32(), 10);
  EXPECT_EQ(ServerRows(), 2u);
}

TEST_F(ClientDataSetTest, CancelUpdatesRestoresTheFetchedRows) {
  ds_->Open();
  ds_->Edit();
  ds_->FieldByName("NAME").SetAsString("changed");
  ds_->Post();
  ds_->Last();
  ds_->Delete();
  ds_->Append();
  ds_->FieldByName("ID").SetAsInteger(5);
  ds_->Post();
  EXPECT_EQ(ds_->ChangeCount(), 3);
  ds_->CancelUpdates();
  EXPECT_EQ(ds_->ChangeCount(), 0);
  EXPECT_EQ(Ids(*ds_), (std::vector<int>{1, 2, 3}));
  ds_->First();
  EXPECT_EQ(ds_->FieldByName("NAME").AsString(), "apple");
}

TEST_F(ClientDataSetTest, InsertPlacesTheRowBeforeTheCurrentOneAndCancelDropsIt) {
  ds_->Open();
  ds_->SetRecNo(2);
  ds_->Insert();
  ds_->FieldByName("ID").SetAsInteger(9);
  ds_->Post();
  EXPECT_EQ(ds_->RecNo(), 2);
  EXPECT_EQ(Ids(*ds_), (std::vector<int>{1, 9, 2, 3}));
  ds_->Insert();
  ds_->FieldByName("ID").SetAsInteger(10);
  ds_->Cancel();
  EXPECT_EQ(ds_->RecordCount(), 4);
  // Moving away from a modified new row posts it; from an untouched one cancels it.
  ds_->Append();
  ds_->FieldByName("ID").SetAsInteger(11);
  ds_->First();
  EXPECT_EQ(ds_->RecordCount(), 5);
  ds_->Append();
  ds_->First();
  EXPECT_EQ(ds_->RecordCount(), 5);
  // Editing an empty data set starts a new row.
  server_->GetTable("items").rows.clear();
  ds_->CancelUpdates();
  ds_->Refresh();
  ds_->Edit();
  EXPECT_EQ(ds_->State(), DataSetState::Insert);
}

TEST_F(ClientDataSetTest, FieldsAreWrittenOnlyWhileEditingAndNotWhenReadOnly) {
  ds_->Open();
  try {
    ds_->FieldByName("QTY").SetAsInteger(1);
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Dataset not in edit or insert mode");
  }
  ds_->FieldByName("ID").SetReadOnly(true);
  ds_->Edit();
  try {
    ds_->FieldByName("ID").SetAsInteger(1);
    ADD_FAILURE();
  } catch (const EDatabaseError& e) {
    EXPECT_STREQ(e.what(), "Field 'ID' cannot be modified");
  }
  EXPECT_THROW(ds_->FieldByName("QTY").SetAsString("x"), EConvertError);
  EXPECT_EQ(ds_->FieldByName("QTY").AsInteger(), 10);  // unchanged by the failed write
  ds_->Cancel();
}

// --- Unique indexes

TEST_F(ClientDataSetTest, AUniqueIndexRefusesADuplicateWithKeyViolation) {
  ds_->Open();
  ds_->AddIndex("PK", "ID", ixPrimary | ixUnique);
  ds_->AddIndex("BYNAME", "NAME", ixUnique | ixCaseInsensitive);
  struct Case {
    const char* label;
    int id;
    const char* name;
  };
  const Case cases[] = {{"same key", 2, "fig"}, {"same name in another case", 7, "PEAR"}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ds_->Append();
    ds_->FieldByName("ID").SetAsInteger(c.id);
    ds_->FieldByName("NAME").SetAsString(c.name);
    try {
      ds_->Post();
      ADD_FAILURE();
    } catch (const EDBClient& e) {
      EXPECT_EQ(e.ErrorCode(), 0x2601);
      EXPECT_STREQ(e.what(), "Key violation.");
    }
    EXPECT_EQ(ds_->State(), DataSetState::Insert);  // the row stays to be corrected
    ds_->Cancel();
  }
  EXPECT_EQ(ds_->ChangeCount(), 0);
  // Editing a row keeps its own key; taking another row's key is refused.
  ds_->First();
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(11);
  ds_->Post();
  ds_->Edit();
  ds_->FieldByName("ID").SetAsInteger(3);
  EXPECT_THROW(ds_->Post(), EDBClient);
  ds_->Cancel();
  EXPECT_THROW(ds_->AddIndex("pk", "ID", 0), EDatabaseError);
  EXPECT_THROW(ds_->AddIndex("X", "NOPE", 0), EDatabaseError);
}

// --- Post errors

TEST_F(ClientDataSetTest, PostErrorsGoToOnPostErrorWithFailAbortOrRetry) {
  ds_->Open();
  ds_->FieldByName("NAME").SetRequired(true);
  std::vector<std::string> seen;
  DataAction answer = daFail;
  ds_->OnPostError = [&](DataSet& ds, EDatabaseError& e, DataAction& action) {
    EXPECT_EQ(&ds, ds_.get());
    EXPECT_EQ(action, daFail);
    seen.push_back(e.Message());
    action = answer;
    if (answer == daRetry) ds.FieldByName("NAME").SetAsString("fixed");
  };
  ds_->Append();
  ds_->FieldByName("ID").SetAsInteger(5);

  answer = daFail;
  EXPECT_THROW(ds_->Post(), EDatabaseError);
  answer = daAbort;
  try {
    ds_->Post();
    ADD_FAILURE();
  } catch (const EAbort&) {
  }
  EXPECT_EQ(ds_->State(), DataSetState::Insert);
  answer = daRetry;
  ds_->Post();
  EXPECT_EQ(ds_->State(), DataSetState::Browse);
  EXPECT_EQ(ds_->FieldByName("NAME").AsString(), "fixed");
  EXPECT_EQ(seen, std::vector<std::string>(3, "Field 'NAME' must have a value"));

  // The engine's own error class reaches the handler too; errors before the local store
  // (BeforePost) do not.
  ds_->AddIndex("PK", "ID", ixUnique);
  EDBClient* engine_error = nullptr;
  ds_->OnPostError = [&](DataSet&, EDatabaseError& e, DataAction&) {
    engine_error = dynamic_cast<EDBClient*>(&e);
    EXPECT_NE(engine_error, nullptr);
  };
  ds_->Append();
  ds_->FieldByName("ID").SetAsInteger(5);
  ds_->FieldByName("NAME").SetAsString("dup");
  EXPECT_THROW(ds_->Post(), EDBClient);
  ds_->Cancel();
  seen.clear();
  ds_->OnPostError = [&](DataSet&, EDatabaseError& e, DataAction&) { seen.push_back(e.Message()); };
  ds_->BeforePost = [](DataSet&) { throw EDatabaseError("before post"); };
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(1);
  EXPECT_THROW(ds_->Post(), EDatabaseError);
  EXPECT_TRUE(seen.empty());
  ds_->Cancel();
}

// --- Refused changes

TEST_F(ClientDataSetTest, ARefusedChangeComesBackThroughReconcileAndStaysPending) {
  ds_->Open();
  server_->refuse = [](const DeltaChange& c,
                       const DeltaPacket&) -> std::optional<FakeAppServer::Refusal> {
    if (c.kind == ukModify) return FakeAppServer::Refusal{"Запись заблокирована", 77};
    return std::nullopt;
  };
  struct Seen {
    std::string message;
    int32_t code;
    UpdateKind kind;
  };
  std::vector<Seen> seen;
  ds_->OnReconcileError = [&](DataSet& ds, EReconcileError& e, UpdateKind kind,
                              ReconcileAction& action) {
    EXPECT_EQ(&ds, ds_.get());
    EXPECT_EQ(action, raSkip);
    seen.push_back({e.Message(), e.ErrorCode(), kind});
  };
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(12);
  ds_->Post();
  ds_->Append();
  ds_->FieldByName("ID").SetAsInteger(6);
  ds_->Post();
  EXPECT_EQ(ds_->ApplyUpdates(-1), 1);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, "Запись заблокирована");
  EXPECT_EQ(seen[0].code, 77);
  EXPECT_EQ(seen[0].kind, ukModify);
  // The insert went through; the refused edit is still pending and is sent again.
  EXPECT_EQ(ds_->ChangeCount(), 1);
  EXPECT_EQ(ServerRows(), 4u);
  ds_->First();
  EXPECT_EQ(ds_->GetUpdateStatus(), usModified);
  EXPECT_EQ(ds_->FieldByName("QTY").AsInteger(), 12);
  server_->refuse = nullptr;
  EXPECT_EQ(ds_->ApplyUpdates(-1), 0);
  EXPECT_EQ(ds_->ChangeCount(), 0);
  ASSERT_EQ(server_->last_delta.changes.size(), 1u);
  EXPECT_EQ(ServerRow(0)[2].ToInt32(), 12);
}

TEST_F(ClientDataSetTest, ReconcileActionsDecideWhatHappensToRefusedChanges) {
  struct Case {
    const char* label;
    ReconcileAction action;
    int pending_after;
    int qty_after;
  };
  const Case cases[] = {{"skip", raSkip, 1, 12},       {"correct", raCorrect, 1, 12},
                        {"merge", raMerge, 0, 12},     {"cancel", raCancel, 0, 10},
                        {"refresh", raRefresh, 0, 10}, {"abort", raAbort, 1, 12}};
  server_->refuse = [](const DeltaChange&,
                       const DeltaPacket&) -> std::optional<FakeAppServer::Refusal> {
    return FakeAppServer::Refusal{"no", 1};
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    ds_->Close();
    ds_->Open();
    ds_->OnReconcileError = [&](DataSet&, EReconcileError&, UpdateKind, ReconcileAction& a) {
      a = c.action;
    };
    ds_->Edit();
    ds_->FieldByName("QTY").SetAsInteger(12);
    ds_->Post();
    EXPECT_EQ(ds_->ApplyUpdates(-1), 1);
    EXPECT_EQ(ds_->ChangeCount(), c.pending_after);
    ds_->First();
    EXPECT_EQ(ds_->FieldByName("QTY").AsInteger(), c.qty_after);
  }
}

TEST_F(ClientDataSetTest, AnErrorInTheReconcileHandlerIsShownAndEndsTheReconcile) {
  std::vector<std::string> shown;
  Application::Handler old = Application::SetExceptionHandler(
      [&](const std::exception_ptr& e) { shown.push_back(ExceptionMessage(e)); });
  ds_->Open();
  server_->refuse = [](const DeltaChange&,
                       const DeltaPacket&) -> std::optional<FakeAppServer::Refusal> {
    return FakeAppServer::Refusal{"locked", 0};
  };
  int calls = 0;
  ds_->OnReconcileError = [&](DataSet&, EReconcileError& e, UpdateKind, ReconcileAction& a) {
    ++calls;
    a = raMerge;  // not taken: the handler fails
    throw Exception("items " + e.Message());
  };
  for (int i = 0; i < 2; ++i) {
    ds_->SetRecNo(i + 1);
    ds_->Edit();
    ds_->FieldByName("QTY").SetAsInteger(50 + i);
    ds_->Post();
  }
  EXPECT_EQ(ds_->ApplyUpdates(-1), 2);
  Application::SetExceptionHandler(old);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(shown, std::vector<std::string>{"items locked"});
  EXPECT_EQ(ds_->ChangeCount(), 2);
}

TEST_F(ClientDataSetTest, TheChangeLogSurvivesAFailedApply) {
  ds_->Open();
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(12);
  ds_->Post();
  ds_->Last();
  ds_->Delete();

  server_->FailNext(FakeAppServer::kApplyUpdates, E_FAIL, "database is locked");
  try {
    ds_->ApplyUpdates(-1);
    ADD_FAILURE();
  } catch (const EOleException& e) {
    EXPECT_STREQ(e.what(), "database is locked");
  }
  EXPECT_EQ(ds_->ChangeCount(), 2);
  // A malformed answer, or one refusing a change that was never sent, changes nothing.
  server_->AnswerNextApply(Variant::Text("?"));
  EXPECT_THROW(ds_->ApplyUpdates(-1), EDatabaseError);
  ApplyResult unknown;
  unknown.refused.push_back({999, "x", 0});
  server_->AnswerNextApply(EncodeApplyResult(unknown));
  EXPECT_THROW(ds_->ApplyUpdates(-1), EDatabaseError);
  EXPECT_EQ(ds_->ChangeCount(), 2);
  EXPECT_EQ(ServerRows(), 3u);

  // Too many errors: the server applies nothing and the log keeps every change.
  server_->refuse = [](const DeltaChange& c,
                       const DeltaPacket&) -> std::optional<FakeAppServer::Refusal> {
    if (c.kind == ukDelete) return FakeAppServer::Refusal{"in use", 0};
    return std::nullopt;
  };
  EXPECT_EQ(ds_->ApplyUpdates(0), 1);
  EXPECT_EQ(ds_->ChangeCount(), 2);
  EXPECT_TRUE(ServerRow(0)[2] == Variant(10));
  server_->refuse = nullptr;
  EXPECT_EQ(ds_->ApplyUpdates(0), 0);
  EXPECT_EQ(ds_->ChangeCount(), 0);
  EXPECT_EQ(ServerRows(), 2u);
}

// --- Indexes and ranges

TEST_F(ClientDataSetTest, IndexesOrderTheRows) {
  ds_->Open();
  ds_->AddIndex("BYNAME", "NAME", ixCaseInsensitive);
  ds_->AddIndex("BYQTYDESC", "QTY", ixDescending);
  ds_->AddIndex("BYNAMECS", "NAME", 0);
  struct Case {
    const char* label;
    const char* index_name;
    const char* field_names;
    std::vector<int> ids;
  };
  const Case cases[] = {
      {"case-insensitive name", "BYNAME", "", {1, 2, 3}},
      {"case-sensitive name: capitals first", "BYNAMECS", "", {2, 1, 3}},
      {"descending, nulls last", "BYQTYDESC", "", {3, 1, 2}},
      {"by fields", "", "MADE;ID", {2, 3, 1}},
      {"default order", "", "", {1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (*c.index_name)
      ds_->SetIndexName(c.index_name);
    else
      ds_->SetIndexFieldNames(c.field_names);
    EXPECT_EQ(Ids(*ds_), c.ids);
  }
  ds_->SetIndexName("BYQTYDESC");
  EXPECT_EQ(ds_->IndexFieldCount(), 1);
  EXPECT_EQ(ds_->IndexFields(0).FieldName(), "QTY");
  EXPECT_THROW(ds_->IndexFields(1), EDatabaseError);
  ds_->SetIndexFieldNames("NAME;ID");
  EXPECT_EQ(ds_->IndexName(), "");
  EXPECT_EQ(ds_->IndexFieldCount(), 2);
  EXPECT_THROW(ds_->SetIndexName("NOPE"), EDatabaseError);
  EXPECT_EQ(ds_->IndexFieldNames(), "NAME;ID");  // unchanged by the failed switch
  EXPECT_EQ(ds_->IndexDefs().Count(), 3);
  EXPECT_EQ(ds_->IndexDefs()[1].fields, "QTY");
  EXPECT_EQ(ds_->IndexDefs()[1].options, IndexOptions{ixDescending});

  // A new row takes its place in the order.
  ds_->SetIndexName("BYNAME");
  ds_->Append();
  ds_->FieldByName("ID").SetAsInteger(4);
  ds_->FieldByName("NAME").SetAsString("Banana");
  ds_->Post();
  EXPECT_EQ(ds_->RecNo(), 2);
  EXPECT_EQ(Ids(*ds_), (std::vector<int>{1, 4, 2, 3}));
}

TEST_F(ClientDataSetTest, ARangeLimitsTheRowsUntilCancelled) {
  ds_->Open();
  ds_->SetIndexFieldNames("ID");
  ds_->SetRange({Variant(2)}, {Variant(3)});
  EXPECT_EQ(Ids(*ds_), (std::vector<int>{2, 3}));
  ds_->CancelRange();
  EXPECT_EQ(Ids(*ds_), (std::vector<int>{1, 2, 3}));
  EXPECT_THROW(ds_->SetRange({Variant(1), Variant(2)}, {Variant(1), Variant(2)}), EDatabaseError);
}

TEST_F(ClientDataSetTest, AnIndexNameSetWhileClosedIsCheckedAtOpen) {
  ds_->SetIndexName("NOPE");
  EXPECT_THROW(ds_->Open(), EDatabaseError);
  EXPECT_FALSE(ds_->Active());
  EXPECT_EQ(ds_->FieldCount(), 0);
  ds_->AddIndex("NOPE", "QTY", ixDescending);
  ds_->Open();
  EXPECT_EQ(Ids(*ds_), (std::vector<int>{3, 1, 2}));
}

// --- Master/detail

class MasterDetailTest : public ClientDataSetTest {
 protected:
  void SetUp() override {
    ClientDataSetTest::SetUp();
    server_->AddTable("lines",
                      {{"ORDER_ID", ftInteger, 0, true, pfInUpdate | pfInWhere | pfInKey},
                       {"LINE", ftInteger, 0, true, pfInUpdate | pfInWhere | pfInKey},
                       {"TEXT", ftString, 20}},
                      {{Variant(1), Variant(1), Variant::Text("1/1")},
                       {Variant(2), Variant(1), Variant::Text("2/1")},
                       {Variant(1), Variant(2), Variant::Text("1/2")},
                       {Variant(3), Variant(1), Variant::Text("3/1")}});
    source_ = std::make_unique<DataSource>();
    source_->SetDataSet(ds_.get());
    detail_ = std::make_unique<ClientDataSet>();
    detail_->SetRemoteServer(conn_.get());
    detail_->SetProviderName("lines");
    detail_->SetMasterSource(source_.get());
    detail_->SetMasterFields("ID");
    detail_->SetIndexFieldNames("ORDER_ID;LINE");
  }
  void TearDown() override {
    detail_.reset();
    source_.reset();
    ClientDataSetTest::TearDown();
  }
  std::vector<std::string> Texts() {
    std::vector<std::string> texts;
    for (detail_->First(); !detail_->Eof(); detail_->Next())
      texts.push_back(detail_->FieldByName("TEXT").AsString());
    return texts;
  }
  std::unique_ptr<DataSource> source_;
  std::unique_ptr<ClientDataSet> detail_;
};

TEST_F(MasterDetailTest, TheDetailShowsTheRowsOfTheMastersCurrentRow) {
  ds_->Open();
  detail_->Open();
  EXPECT_EQ(Texts(), (std::vector<std::string>{"1/1", "1/2"}));
  ds_->Next();
  EXPECT_EQ(Texts(), (std::vector<std::string>{"2/1"}));
  ds_->Last();
  EXPECT_EQ(Texts(), (std::vector<std::string>{"3/1"}));
  EXPECT_EQ(server_->get_records_calls, 2);  // one fetch each: no parameters, local filter
  // A new detail row belongs to the master's row.
  detail_->Append();
  EXPECT_EQ(detail_->FieldByName("ORDER_ID").AsInteger(), 3);
  detail_->FieldByName("LINE").SetAsInteger(2);
  detail_->Post();
  EXPECT_EQ(Texts(), (std::vector<std::string>{"3/1", ""}));
  // Without a master row, no detail rows.
  ds_->Close();
  EXPECT_TRUE(detail_->IsEmpty());
  // Without a master source, every row.
  detail_->SetMasterSource(nullptr);
  EXPECT_EQ(detail_->RecordCount(), 5);
}

TEST_F(MasterDetailTest, ProviderParametersTakeTheMastersValuesAndFetchPerMasterRow) {
  detail_->Params().CreateParam(ftInteger, "ORDER_ID", ptInput);
  ds_->Open();
  detail_->Open();
  EXPECT_EQ(server_->last_params.Count(), 1);
  EXPECT_EQ(server_->last_params[0].AsInteger(), 1);
  EXPECT_EQ(detail_->RecordCount(), 2);
  int fetches = server_->get_records_calls;
  ds_->Next();
  EXPECT_EQ(server_->get_records_calls, fetches + 1);
  EXPECT_EQ(server_->last_params[0].AsInteger(), 2);
  EXPECT_EQ(Texts(), (std::vector<std::string>{"2/1"}));
  // The same master values fetch nothing new.
  ds_->Edit();
  ds_->FieldByName("QTY").SetAsInteger(3);
  ds_->Post();
  EXPECT_EQ(server_->get_records_calls, fetches + 1);
  // A master field of another name is taken by position.
  detail_->Close();
  detail_->Params().Clear();
  detail_->Params().CreateParam(ftUnknown, "P0", ptInput);
  detail_->Open();
  EXPECT_EQ(server_->last_params[0].AsInteger(), 2);
}

TEST_F(MasterDetailTest, FreeingTheMasterOrItsSourceLeavesTheDetailWorking) {
  ds_->Open();
  detail_->Open();
  source_.reset();
  EXPECT_EQ(detail_->MasterSource(), nullptr);
  EXPECT_EQ(detail_->RecordCount(), 4);
  source_ = std::make_unique<DataSource>();
  source_->SetDataSet(ds_.get());
  detail_->SetMasterSource(source_.get());
  EXPECT_EQ(detail_->RecordCount(), 2);
  ds_.reset();
  EXPECT_EQ(source_->GetDataSet(), nullptr);
  EXPECT_EQ(detail_->RecordCount(), 4);
}

// --- Hooks around the events

class Recording : public ClientDataSet {
 public:
  using ClientDataSet::ClientDataSet;
  std::vector<std::string> log;

 protected:
  void DoBeforeOpen() override {
    Step("before-open", [this] { ClientDataSet::DoBeforeOpen(); });
  }
  void DoAfterOpen() override {
    Step("after-open", [this] { ClientDataSet::DoAfterOpen(); });
  }
  void DoBeforeClose() override {
    Step("before-close", [this] { ClientDataSet::DoBeforeClose(); });
  }
  void DoAfterClose() override {
    Step("after-close", [this] { ClientDataSet::DoAfterClose(); });
  }
  void DoBeforePost() override {
    Step("before-post", [this] { ClientDataSet::DoBeforePost(); });
  }
  void DoAfterPost() override {
    Step("after-post", [this] { ClientDataSet::DoAfterPost(); });
  }
  void DoOnNewRecord() override {
    Step("new-record", [this] { ClientDataSet::DoOnNewRecord(); });
  }
  void DoAfterDelete() override {
    Step("after-delete", [this] { ClientDataSet::DoAfterDelete(); });
  }
  void DoBeforeRefresh() override {
    Step("before-refresh", [this] { ClientDataSet::DoBeforeRefresh(); });
  }
  void DoAfterRefresh() override {
    Step("after-refresh", [this] { ClientDataSet::DoAfterRefresh(); });
  }
  void InternalPost() override {
    log.push_back("store");
    ClientDataSet::InternalPost();
  }
  FieldFactory GetFieldClass(FieldType type) const override {
    return type == ftDate ? &NewField<DateTimeField> : ClientDataSet::GetFieldClass(type);
  }

 private:
  template <class F>
  void Step(const char* name, F base) {
    log.push_back(std::string(name) + "{");
    base();
    log.push_back("}");
  }
};

TEST_F(ClientDataSetTest, HooksRunAroundTheirEventsInOrder) {
  Recording ds;
  ds.SetRemoteServer(conn_.get());
  ds.SetProviderName("items");
  for (auto* e :
       {&ds.BeforeOpen, &ds.AfterOpen, &ds.BeforeClose, &ds.AfterClose, &ds.BeforePost,
        &ds.AfterPost, &ds.OnNewRecord, &ds.AfterDelete, &ds.BeforeRefresh, &ds.AfterRefresh})
    *e = [&ds](DataSet& d) {
      EXPECT_EQ(&d, &ds);
      ds.log.push_back("event");
    };
  ds.Open();
  ds.Append();
  ds.FieldByName("ID").SetAsInteger(4);
  ds.Post();
  ds.Delete();
  ds.Refresh();
  ds.Close();
  const std::vector<std::string> expected = {"before-open{",
                                             "event",
                                             "}",
                                             "after-open{",
                                             "event",
                                             "}",
                                             "new-record{",
                                             "event",
                                             "}",
                                             "before-post{",
                                             "event",
                                             "}",
                                             "store",
                                             "after-post{",
                                             "event",
                                             "}",
                                             "after-delete{",
                                             "event",
                                             "}",
                                             "before-refresh{",
                                             "event",
                                             "}",
                                             "after-refresh{",
                                             "event",
                                             "}",
                                             "before-close{",
                                             "event",
                                             "}",
                                             "after-close{",
                                             "event",
                                             "}"};
  EXPECT_EQ(ds.log, expected);
  ds.Open();
  EXPECT_NE(dynamic_cast<DateTimeField*>(&ds.FieldByName("MADE")), nullptr);
  EXPECT_EQ(ds.FieldByName("MADE").DataType(), ftDateTime);
  ds.Close();
}

TEST_F(ClientDataSetTest, AnErrorAfterTheFetchLeavesTheDataSetOpen) {
  ds_->AfterOpen = [](DataSet&) { throw Exception("detail failed"); };
  EXPECT_THROW(ds_->Open(), Exception);
  EXPECT_TRUE(ds_->Active());
  ds_->AfterOpen = nullptr;
  ds_->BeforeOpen = [](DataSet&) { throw Exception("not now"); };
  ds_->Close();
  EXPECT_THROW(ds_->Open(), Exception);
  EXPECT_FALSE(ds_->Active());
  EXPECT_EQ(server_->get_records_calls, 1);
}

TEST_F(ClientDataSetTest, AnOpenAskedForWhileAFormLoadsRunsAtTheEnd) {
  Component* form = nullptr;
  ClientDataSet* table = nullptr;
  {
    FormLoading loading;
    form = new Component();
    table = new ClientDataSet(form);
    table->SetRemoteServer(conn_.get());
    table->SetProviderName("items");
    table->SetActive(true);
    EXPECT_FALSE(table->Active());
    loading.Finish();
  }
  EXPECT_TRUE(table->Active());
  EXPECT_EQ(table->RecordCount(), 3);
  delete form;
}

}  // namespace
