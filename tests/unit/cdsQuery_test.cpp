#include "dataaccess/cdsQuery.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "dataaccess/KVTAlias.h"
#include "dataaccess/kvt_dbparams.h"
#include "platform/com/guid.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_appserver.h"
#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_querymanager.h"
#include "tests/fakes/fake_tabledef.h"

namespace {

using Names = std::vector<std::string>;

Names MarkerNames(std::string_view sql) {
  Names names;
  ParamMarkerScanner scanner(sql);
  std::string_view name;
  while (scanner.Next(name)) names.emplace_back(name);
  return names;
}

TEST(ParamMarkers, FindsEveryMarkerInOrderOutsideQuotedParts) {
  struct Case {
    const char* label;
    std::string_view sql;
    Names names;
  };
  const Case cases[] = {
      {"range form", "(:G33 BETWEEN G33MIN10 AND G33MAX10)", {"G33"}},
      {"date condition", " AND (:TODAY <= DATEEND)) THEN 1 ELSE 0 END AS ex", {"TODAY"}},
      {"repeated names give several entries",
       "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, min(length(g33), "
       ":G33LEN)))",
       {"G33", "G33LEN", "G33LEN"}},
      {"no markers", "SELECT 1", {}},
      {"empty text", "", {}},
      {"double colon is a literal colon", "a::b", {}},
      {"three colons: a literal colon, then a marker", "a:::b", {"b"}},
      {"a name may hold double colons", ":a::b c", {"a::b"}},
      {"marker between apostrophes", "x = ':A'", {}},
      {"marker between double quotes", "x = \":A\"", {}},
      {"marker between grave accents", "x = `:A`", {}},
      {"an apostrophe part ends at a double quote", "'it\" :A", {"A"}},
      {"mixed quotes around a marker", "'a\" :A \"b' = :B", {"A", "B"}},
      {"unterminated quoted part", "'abc :A", {}},
      {"each name delimiter", ":A B,:C,:D;:E):F\r:G\n:H", {"A", "C", "D", "E", "F", "G", "H"}},
      {"name to the end of the text", "x=:LAST", {"LAST"}},
      {"tab and other characters belong to the name", ":A\tB=:C", {"A\tB=:C"}},
      {"quoted name", "x = :\"my name, here\" AND y", {"my name, here"}},
      {"quoted name in grave accents", ":`a;b`)", {"a;b"}},
      {"quoted name, unterminated", ":\"open to the end", {"open to the end"}},
      {"quote inside a name makes a quoted part", ":a'b c'd e", {"a'b c'd"}},
      {"UTF-8 names", "WHERE n = :Имя AND m = :名", {"Имя", "名"}},
      {"lines joined for the host", "SELECT :A\r\nFROM t WHERE b = :B\r\n", {"A", "B"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    EXPECT_EQ(MarkerNames(c.sql), c.names);
  }
}

// Plain text is skipped several bytes at a time: a marker or a quoted part at any position of
// a long text is found all the same.
TEST(ParamMarkers, FindsMarkersAndQuotedPartsAtEveryPositionOfALongText) {
  const std::string plain = "SELECT CASE WHEN EXISTS(SELECT 1 FROM vodar_g33 WHERE ";
  for (size_t at = 0; at <= plain.size(); ++at) {
    SCOPED_TRACE(at);
    const std::string head = plain.substr(0, at), tail = plain.substr(at);
    EXPECT_EQ(MarkerNames(head + ":A " + tail), Names{"A"});
    EXPECT_EQ(MarkerNames(head + "':A' :B " + tail), Names{"B"});
    EXPECT_EQ(MarkerNames(head + "`x` \":C\" ::D " + tail + ":E"), Names{"E"});
  }
}

// A colon with nothing after it names nothing; no entry with an empty name is made, so
// every entry can be bound and looked up by its name.
TEST(ParamMarkers, AColonWithAnEmptyNameYieldsNoEntry) {
  const std::string_view cases[] = {
      "x = :", ":", "x = : AND y", "(:)", ":,:;", "x = :\r\n", ":\"\"", ":''", ":'",
  };
  for (std::string_view sql : cases) {
    SCOPED_TRACE(sql);
    EXPECT_EQ(MarkerNames(sql), Names{});
  }
  EXPECT_EQ(MarkerNames("a = : AND b = :B"), Names{"B"});
}

// Texts made of the characters that matter, in every mix: every answer is a non-empty
// part of the text, and there are never more markers than colons.
TEST(ParamMarkers, AnswersOnlyNonEmptyPartsOfAnyText) {
  const char alphabet[] = {':', ':', '\'', '"',  '`', ' ', ',',
                           ';', ')', '\r', '\n', 'a', 'b', '\0'};
  uint32_t seed = 12345;
  for (int round = 0; round < 20000; ++round) {
    std::string sql;
    for (int len = round % 24; len > 0; --len) {
      seed = seed * 1664525u + 1013904223u;
      sql.push_back(alphabet[(seed >> 16) % sizeof alphabet]);
    }
    ParamMarkerScanner scanner(sql);
    std::string_view name;
    size_t found = 0;
    while (scanner.Next(name)) {
      ++found;
      ASSERT_FALSE(name.empty()) << sql;
      ASSERT_GE(name.data(), sql.data()) << sql;
      ASSERT_LE(name.data() + name.size(), sql.data() + sql.size()) << sql;
    }
    ASSERT_LE(found, static_cast<size_t>(std::count(sql.begin(), sql.end(), ':'))) << sql;
  }
}

TEST(ParamMarkers, AppendCreatesPlainEntries) {
  Params params;
  params.Add("OLD");
  AppendParamsFromSQL(":A :b :A", params);
  ASSERT_EQ(params.Count(), 4);
  EXPECT_EQ(params[0].Name(), "OLD");
  for (int i = 1; i < 4; ++i) {
    const Param& p = params[i];
    EXPECT_EQ(p.DataType(), ftUnknown);
    EXPECT_EQ(p.GetParamType(), ptUnknown);
    EXPECT_TRUE(p.IsNull());
    EXPECT_TRUE(p.Value().IsEmpty());
    EXPECT_FALSE(p.Bound());
    EXPECT_EQ(p.Size(), 0);
    EXPECT_EQ(p.Precision(), 0);
    EXPECT_EQ(p.NumericScale(), 0);
  }
  EXPECT_EQ(params[2].Name(), "b");
}

TEST(ParamMarkers, RebuildKeepsValuesByNameAndTheLastOccurrenceWins) {
  Params params;
  RebuildParamsFromSQL("(:G33 BETWEEN G33MIN10 AND G33MAX10)\r\n", params);
  ASSERT_EQ(params.Count(), 1);
  params[0].SetAsString("8517120000");
  params[0].SetParamType(ptInput);
  params[0].SetSize(10);
  RebuildParamsFromSQL("(:G33 BETWEEN G33MIN10 AND G33MAX10)\r\n AND (:today <= DATEEND)\r\n",
                       params);
  ASSERT_EQ(params.Count(), 2);
  EXPECT_EQ(params[0].AsString(), "8517120000");
  EXPECT_EQ(params[0].DataType(), ftString);
  EXPECT_EQ(params[0].GetParamType(), ptInput);
  EXPECT_EQ(params[0].Size(), 10);
  EXPECT_TRUE(params[0].Bound());
  EXPECT_TRUE(params[1].IsNull());

  // A repeated name: only the first occurrence was set, the second (null) is copied last.
  const std::string omit =
      "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, min(length(g33), "
      ":G33LEN)))\r\n";
  params.Clear();
  RebuildParamsFromSQL(omit, params);
  ASSERT_EQ(params.Count(), 3);
  params.ParamByName("G33").SetAsString("8517");
  params.ParamByName("G33LEN").SetAsInteger(4);
  RebuildParamsFromSQL(omit + ") THEN 1 ELSE 0 END AS ex\r\n", params);
  ASSERT_EQ(params.Count(), 3);
  EXPECT_EQ(params[0].AsString(), "8517");
  EXPECT_TRUE(params[1].IsNull());
  EXPECT_FALSE(params[1].Bound());
  EXPECT_EQ(params[1].DataType(), ftUnknown);
  EXPECT_TRUE(params[2].IsNull());
}

TEST(ParamMarkers, RebuildTakesTheOldNameAndKeepsAKnownParameterType) {
  Params params;
  Param& old = params.Add("g33");
  old.SetParamType(ptOutput);
  old.SetAsInteger(1);
  RebuildParamsFromSQL(":G33 :X", params);
  ASSERT_EQ(params.Count(), 2);
  EXPECT_EQ(params[0].Name(), "g33") << "the old entry's name (case) is taken over";
  EXPECT_EQ(params[0].GetParamType(), ptOutput);
  EXPECT_EQ(params[1].Name(), "X");
}

// --- The query component

// The three lines of a commodity-code check in its range form.
const char* const kLine1 = "SELECT CASE WHEN EXISTS(SELECT 1 FROM vodar_g33 WHERE ";
const char* const kLine2 = "(:G33 BETWEEN G33MIN10 AND G33MAX10)";
const char* const kLine3 = " AND (:TODAY <= DATEEND)) THEN 1 ELSE 0 END AS ex";
const char* const kOmitLine =
    "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, min(length(g33), :G33LEN)))";

Names ParamNames(const TcdsQuery& q) {
  Names names;
  for (int i = 0; i < q.Params().Count(); ++i) names.push_back(q.Params()[i].Name());
  return names;
}

// Follows a data set and records what it hears.
class EventRecorder : public DataLink {
 public:
  explicit EventRecorder(DataSet& dataset) {
    source_.SetDataSet(&dataset);
    source_.AddLink(this);
  }
  ~EventRecorder() { source_.RemoveLink(this); }
  void DataSetEvent(DataSource&, DataEvent event) override { events.push_back(event); }
  int Count(DataEvent event) const {
    return static_cast<int>(std::count(events.begin(), events.end(), event));
  }
  std::vector<DataEvent> events;

 private:
  DataSource source_;
};

// A host with a database manager and an application server behind the alias connection
// that a register table (the template) uses.
class QueryTest : public testing::Test {
 protected:
  QueryTest() {
    host_->AddService(IDBManager2::iid, manager_);
    server_->AddTable("result", {{"ex", ftInteger, 0}}, {{Variant(int32_t{1})}});
    host_->server_objects[host_->ServerGUID] = [s = server_] {
      return ComPtr<IUnknown>(static_cast<IUnknown*>(static_cast<IAppServer*>(s.Get())));
    };
    alias_->SetDatabasename("ТРОИС");
    alias_->SetServerGUID(GUIDToString(host_->ServerGUID));
    alias_->SetHostServer(host_.As<IKVTServer2>().Get());
    table_->SetRemoteServer(alias_.get());
    table_->SetFullname("Коды");
    table_->SetTableName("vodar_g33");
    table_->Indexes().Add("REGNOM,G33MIN");
    answer_->provider = u"result";
    manager_->answer = answer_;
    auto description = MakeObject<FakeTableDef>();
    description->AddField("ex", ftInteger);
    description->AddIndex("ex");
    manager_->description = description;
  }
  ~QueryTest() override {
    table_.reset();
    alias_.reset();
    host_->ReleaseAll();
    host_ = nullptr;
    manager_ = nullptr;
    server_ = nullptr;
    answer_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_);
  }

  std::unique_ptr<TcdsQuery> CheckQuery() {
    auto q = TcdsQuery::Create(*table_);
    q->SQL().Add(kLine1);
    q->SQL().Add(kLine2);
    q->SQL().Add(kLine3);
    q->ParamByName(u"G33").SetAsString("8517120000");
    q->ParamByName(u"TODAY").SetAsDateTime(45000.5);
    return q;
  }

  int64_t live_ = InterfacedObject::LiveObjects();
  ComPtr<FakeHost> host_ = MakeObject<FakeHost>();
  ComPtr<FakeQueryManager> manager_ = MakeObject<FakeQueryManager>();
  ComPtr<FakeAppServer> server_ = MakeObject<FakeAppServer>();
  ComPtr<FakeOpenSQLResult> answer_ = MakeObject<FakeOpenSQLResult>();
  std::unique_ptr<TKVTAlias> alias_ = std::make_unique<TKVTAlias>();
  std::unique_ptr<TcdsTable> table_ = std::make_unique<TcdsTable>();
};

TEST_F(QueryTest, StartsEmptyAndAQueryFromATemplateTakesOnlyItsConnectionAndFullname) {
  TcdsQuery plain;
  EXPECT_TRUE(plain.ParamCheck());
  EXPECT_FALSE(plain.UniDirectional());
  EXPECT_TRUE(plain.SQL().Empty());
  EXPECT_TRUE(plain.Params().Empty());
  EXPECT_EQ(plain.RemoteServer(), nullptr);

  table_->SetProviderName("vodar_g33");
  auto q = TcdsQuery::Create(*table_);
  EXPECT_EQ(q->Owner(), nullptr);
  EXPECT_EQ(q->RemoteServer(), alias_.get());
  EXPECT_EQ(q->Fullname(), "Коды");
  EXPECT_EQ(q->TableName(), "");
  EXPECT_TRUE(q->Indexes().Empty());
  EXPECT_EQ(q->ProviderName(), "");
  EXPECT_EQ(q->FieldCount(), 0);
}

TEST_F(QueryTest, EachAddedLineRebuildsParamsAndKeepsTheValuesSet) {
  auto q = TcdsQuery::Create(*table_);
  q->SQL().Add(kLine1);
  EXPECT_TRUE(q->Params().Empty());
  q->SQL().Add(kLine2);
  ASSERT_EQ(ParamNames(*q), Names{"G33"});
  q->ParamByName(u"G33").SetAsString("8517120000");
  q->SQL().Add(kLine3);
  EXPECT_EQ(ParamNames(*q), (Names{"G33", "TODAY"}));
  EXPECT_EQ(q->ParamByName(u"G33").AsString(), "8517120000");
  EXPECT_TRUE(q->ParamByName(u"TODAY").IsNull());

  // The prefix form of the exception list: G33LEN's second, never-set occurrence is
  // copied last, so it ends null once a further line is added.
  auto omit = TcdsQuery::Create(*table_);
  omit->SQL().Add(kOmitLine);
  ASSERT_EQ(ParamNames(*omit), (Names{"G33", "G33LEN", "G33LEN"}));
  omit->ParamByName(u"G33").SetAsString("8517");
  omit->ParamByName(u"G33LEN").SetAsInteger(4);
  omit->SQL().Add(") THEN 1 ELSE 0 END AS ex");
  EXPECT_EQ(omit->Params()[0].AsString(), "8517");
  EXPECT_TRUE(omit->Params()[1].IsNull());
  EXPECT_TRUE(omit->Params()[2].IsNull());
}

TEST_F(QueryTest, ParamCheckOffLeavesParamsUnchangedUnlessDesigning) {
  TcdsQuery q;
  q.SetParamCheck(false);
  q.Params().Add("KEPT").SetAsInteger(1);
  q.SQL().Add(kLine2);
  q.SQL().Add(kOmitLine);
  EXPECT_EQ(ParamNames(q), Names{"KEPT"});

  q.SetDesigning(true);
  q.SQL().Add(kLine3);
  EXPECT_EQ(ParamNames(q), (Names{"G33", "G33", "G33LEN", "G33LEN", "TODAY"}));
}

TEST_F(QueryTest, WhileAFormLoadsAChangeOnlyRebuildsParams) {
  FormLoading form;
  TcdsQuery q;
  q.SetParamCheck(false);
  EventRecorder recorder(q);
  recorder.events.clear();
  q.SQL().Add(kLine2);
  q.ParamByName(u"G33").SetAsString("x");
  q.SQL().Add(kLine3);
  EXPECT_EQ(ParamNames(q), (Names{"G33", "TODAY"}));
  EXPECT_TRUE(q.ParamByName(u"G33").IsNull()) << "a plain rebuild keeps no values";
  EXPECT_TRUE(recorder.events.empty());
  form.Finish();
}

TEST_F(QueryTest, EveryChangeTellsTheFollowersOnce) {
  auto q = TcdsQuery::Create(*table_);
  EventRecorder recorder(*q);
  recorder.events.clear();
  q->SQL().Add(kLine1);
  q->SQL().Add(kLine2);
  EXPECT_EQ(recorder.events,
            (std::vector<DataEvent>{DataEvent::PropertyChanged, DataEvent::PropertyChanged}));
  StringList other{"SELECT 1"};
  recorder.events.clear();
  q->SetSQL(other);
  EXPECT_EQ(recorder.events, std::vector<DataEvent>{DataEvent::PropertyChanged});
  EXPECT_EQ(q->SQL().Lines(), other.Lines());
}

TEST_F(QueryTest, SettingTheSameTextKeepsAnOpenQueryOpenAnotherTextClosesIt) {
  auto q = CheckQuery();
  q->Open();
  ASSERT_TRUE(q->Active());
  StringList same{kLine1, kLine2, kLine3};
  q->SetSQL(same);
  EXPECT_TRUE(q->Active());
  StringList joined;
  joined.Add(std::string(kLine1) + "\r\n" + kLine2 + "\r\n" + kLine3);
  q->SetSQL(joined);
  EXPECT_TRUE(q->Active()) << "the same joined text, split otherwise";
  EXPECT_EQ(q->SQL().Count(), 3);

  EventRecorder recorder(*q);
  recorder.events.clear();
  StringList other{kLine1, kLine2};
  q->SetSQL(other);
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(recorder.Count(DataEvent::PropertyChanged), 1) << "replaced as one change";
  EXPECT_EQ(ParamNames(*q), Names{"G33"});
  EXPECT_EQ(q->ParamByName(u"G33").AsString(), "8517120000");

  q->Open();
  q->SQL().Add("");
  EXPECT_FALSE(q->Active()) << "any change of the lines closes";
}

TEST_F(QueryTest, SettingParamsCopiesValuesByNameOnly) {
  auto q = CheckQuery();
  Params values;
  values.Add("today").SetAsInteger(7);
  values.Add("OTHER").SetAsInteger(8);
  q->SetParams(values);
  EXPECT_EQ(ParamNames(*q), (Names{"G33", "today"}));
  EXPECT_EQ(q->ParamByName(u"TODAY").AsInteger(), 7);
  EXPECT_EQ(q->ParamByName(u"G33").AsString(), "8517120000");
}

TEST_F(QueryTest, ParamByNameIgnoresCaseFindsTheFirstAndReportsMissingNames) {
  auto q = TcdsQuery::Create(*table_);
  q->SQL().Add(kOmitLine);
  q->SQL().Add("AND :имя");
  EXPECT_EQ(&q->ParamByName(u"g33len"), &q->Params()[1]);
  EXPECT_EQ(&q->ParamByName(u"ИМЯ"), &q->Params()[3]);
  EXPECT_EQ(&q->ParamByName("G33Len"), &q->Params()[1]);
  try {
    q->ParamByName(u"TODAY");
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Parameter 'TODAY' not found");
  }
  // An entry renamed through its wrapper to another entry's name: the first is found.
  MakeObject<TKVTParams>(q->Params())->GetItem(3)->SetName(u"G33");
  EXPECT_EQ(&q->ParamByName(u"G33"), &q->Params()[0]);
}

TEST_F(QueryTest, OpenSendsTheStatementAndLiveParamsAndBuildsFieldsFromTheDescription) {
  auto q = CheckQuery();
  manager_->during = [](IKVTParams* params) {
    params->GetItem(1)->SetValue(Variant(int32_t{5}));  // the host writes a parameter
  };
  q->Open();

  ASSERT_EQ(manager_->calls.size(), 1u);
  const FakeOpenSQLManager::Call& call = manager_->calls[0];
  EXPECT_EQ(call.database, WideString(u"ТРОИС"));
  EXPECT_EQ(call.sql,
            WideString::FromUtf8(std::string(kLine1) + "\r\n" + kLine2 + "\r\n" + kLine3 + "\r\n"));
  EXPECT_TRUE(call.had_params);
  EXPECT_FALSE(call.unidirectional);
  EXPECT_TRUE(call.flag) << "QueryOption";
  EXPECT_EQ(manager_->seen_table_defs[0], nullptr) << "no fields yet: an empty variable";
  ASSERT_EQ(manager_->seen_params[0].size(), 2u);
  EXPECT_EQ(manager_->seen_params[0][0].name, WideString(u"G33"));
  EXPECT_EQ(manager_->seen_params[0][0].data_type, ftString);
  EXPECT_TRUE(manager_->seen_params[0][0].value == Variant(WideString(u"8517120000")));
  EXPECT_EQ(manager_->seen_params[0][1].data_type, ftDateTime);
  EXPECT_EQ(q->ParamByName(u"TODAY").AsInteger(), 5) << "the wrapper wrote the query's entry";

  EXPECT_EQ(q->ProviderName(), "result");
  ASSERT_EQ(q->FieldCount(), 1);
  EXPECT_EQ(q->Fields(0).FieldName(), "ex");
  EXPECT_FALSE(q->DefaultFields()) << "built from the description, kept across opens";
  EXPECT_EQ(q->Indexes().Lines(), std::vector<std::string>{"ex"});
  EXPECT_EQ(q->FieldByName("ex").AsInteger(), 1);
  EXPECT_EQ(server_->get_records_calls, 1);

  // Reopening sends the statement again, now with the query's own description.
  q->Close();
  q->SetUniDirectional(true);
  q->SetQueryOption(false);
  q->Open();
  ASSERT_EQ(manager_->calls.size(), 2u);
  EXPECT_TRUE(manager_->calls[1].unidirectional);
  EXPECT_FALSE(manager_->calls[1].flag);
  EXPECT_EQ(manager_->seen_table_defs[1], static_cast<IUnknown*>(q->TableDef()));
  EXPECT_EQ(q->FieldCount(), 1);
}

TEST_F(QueryTest, TheAnswerIsHeldUntilCloseAndTheConnectionOutlivesTheQuery) {
  auto q = CheckQuery();
  q->Open();
  EXPECT_EQ(answer_->RefCount(), 3) << "the test, the manager and the query";
  q->Close();
  EXPECT_EQ(answer_->RefCount(), 2);

  int after_close = 0;
  q->AfterClose = [&](DataSet&) { ++after_close; };
  q->Open();
  ASSERT_TRUE(alias_->Connected());
  q.reset();
  EXPECT_EQ(after_close, 1) << "freeing an open query closes it";
  EXPECT_EQ(answer_->RefCount(), 2);
  EXPECT_TRUE(alias_->Connected()) << "the shared connection stays";
  table_->SetProviderName("result");
  table_->Open();
  EXPECT_EQ(table_->FieldByName("ex").AsInteger(), 1);
}

TEST_F(QueryTest, AnEmptyAnswerLeavesTheProviderEmptyAndThePlatformRefusesToOpen) {
  manager_->answer = nullptr;
  auto q = CheckQuery();
  try {
    q->Open();
    ADD_FAILURE() << "opened";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "Missing data provider or data packet");
  }
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(q->ProviderName(), "");
  EXPECT_EQ(manager_->calls.size(), 1u);
}

TEST_F(QueryTest, ErrorsOfTheHostOrOfTheFetchReachTheCallerAndTheQueryStaysClosed) {
  auto q = CheckQuery();
  manager_->error = "no such column: G33MIN10";
  try {
    q->Open();
    ADD_FAILURE() << "opened";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(e.Message(), "no such column: G33MIN10");
  }
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(server_->get_records_calls, 0);
  EXPECT_EQ(answer_->RefCount(), 2);

  manager_->error.reset();
  server_->FailNext(FakeAppServer::kGetRecords, E_FAIL, "the provider failed");
  EXPECT_ANY_THROW(q->Open());
  EXPECT_FALSE(q->Active());
  EXPECT_EQ(answer_->RefCount(), 2) << "a failed open holds no answer";

  q->Open();  // and it opens once the host answers again
  EXPECT_TRUE(q->Active());
}

TEST_F(QueryTest, WithoutAHostDatabaseManagerThePlatformOpensTheCurrentProvider) {
  FakeRemoteServer connection;
  connection.SetServer(server_);
  TcdsQuery q;
  q.SetRemoteServer(&connection);
  q.SQL().Add(kLine2);
  q.SetProviderName("result");
  q.Open();
  EXPECT_TRUE(manager_->calls.empty());
  EXPECT_EQ(q.FieldByName("ex").AsInteger(), 1);
  q.Close();

  alias_->SetHostServer(nullptr);  // an alias that holds no database manager
  auto from_alias = TcdsQuery::Create(*table_);
  from_alias->SQL().Add(kLine2);
  EXPECT_ANY_THROW(from_alias->Open());
  EXPECT_TRUE(manager_->calls.empty());
}

}  // namespace
