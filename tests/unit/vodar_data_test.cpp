// The register's data module in process: its stored form, what its creation handler hands
// to a host (and what it skips when the host refuses a service), the host's STOPSERVER, and
// the statements and parameters of the commodity-code checks.
#include "register/vodar_data.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "dataaccess/cdsQuery.h"
#include "platform/com/guid.h"
#include "platform/os/os.h"
#include "platform/rtl/application.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/counting.h"
#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_register.h"

namespace {

using Lines = std::vector<std::string>;

Lines LinesOf(const StringList& list) {
  return list.Lines();
}

// --- The stored form

struct FieldExpect {
  const char* component;
  const char* field;
  FieldType type;
  int32_t size;
};

struct TableExpect {
  const char* component;
  const char* fullname;
  Lines indexes;
  bool frases;  // the eight-entry phrase list of the code tables
  std::vector<FieldExpect> fields;
};

const Lines kFrases = {"G441=F5", "G442=F3", "G443=D1", "G444=F1",
                       "G445=F2", "G446=D2", "G447=D3", "G44S=F6"};

const TableExpect kTables[] = {
    {"vodar",
     "Объекты ИС",
     {"REGNOM", "/tTRADEMARK=G31_12,DESCRIPTION;G31_12;DESCRIPTION", "G31_12L"},
     false,
     {{"vodarREGNOM", "REGNOM", ftString, 25},
      {"vodarG31_12D", "G31_12D", ftMemo, 0},
      {"vodarG31_12", "G31_12", ftMemo, 0},
      {"vodarG31_12L", "G31_12L", ftMemo, 0},
      {"vodarDESCRIPTION", "DESCRIPTION", ftMemo, 0},
      {"vodarF540IMG64", "F540IMG64", ftMemo, 0},
      {"vodarF540IMGTYPE", "F540IMGTYPE", ftMemo, 0},
      {"vodarF540IMGMINI64", "F540IMGMINI64", ftMemo, 0},
      {"vodarF540IMGMINITYPE", "F540IMGMINITYPE", ftMemo, 0},
      {"vodarF540IMGMINIWIDTH", "F540IMGMINIWIDTH", ftInteger, 0},
      {"vodarF540IMGMINIHEIGHT", "F540IMGMINIHEIGHT", ftInteger, 0},
      {"vodarF540IMGALT", "F540IMGALT", ftMemo, 0},
      {"vodarNOTE", "NOTE", ftMemo, 0},
      {"vodarNPRAVO", "NPRAVO", ftString, 10},
      {"vodarF111", "F111", ftString, 10},
      {"vodarF190", "F190", ftString, 2},
      {"vodarDPRAVO", "DPRAVO", ftDate, 0},
      {"vodarF151DATE", "F151DATE", ftDate, 0},
      {"vodarF526", "F526", ftMemo, 0},
      {"vodarF732SNA", "F732SNA", ftMemo, 0},
      {"vodarF740SNA", "F740SNA", ftMemo, 0},
      {"vodarF591", "F591", ftMemo, 0},
      {"vodarF511", "F511", ftMemo, 0},
      {"vodarF511TEXT", "F511TEXT", ftMemo, 0},
      {"vodarG33TEXT", "G33TEXT", ftMemo, 0},
      {"vodarDATEEND", "DATEEND", ftDate, 0},
      {"vodarDATEEXCLUDE", "DATEEXCLUDE", ftDate, 0},
      {"vodarCOMM", "COMM", ftMemo, 0},
      {"vodarLETTERSTEXT", "LETTERSTEXT", ftMemo, 0},
      {"vodarTRADEMARK", "TRADEMARK", ftMemo, 0}}},
    {"vodar_g33",
     "Коды ТН ВЭД,  по которым могут классифицироваться товары, обладающие признаками "
     "контрафактных",
     {"REGNOM,G33MIN", "G33MIN10"},
     true,
     {{"vodar_g33REGNOM", "REGNOM", ftString, 25},
      {"vodar_g33G33MIN", "G33MIN", ftString, 10},
      {"vodar_g33G33MAX", "G33MAX", ftString, 10},
      {"vodar_g33G33MIN10", "G33MIN10", ftString, 10},
      {"vodar_g33G33MAX10", "G33MAX10", ftString, 10},
      {"vodar_g33DATEEND", "DATEEND", ftDate, 0}}},
    {"vodar_version",
     "Версия БД",
     {"VERSION"},
     true,
     {{"vodar_versionVERSION", "VERSION", ftString, 50},
      {"vodar_versionVERSION_TNVED", "VERSION_TNVED", ftString, 50},
      {"vodar_versionVERSIONID_TNVED", "VERSIONID_TNVED", ftInteger, 0}}},
    {"omit1532",
     "Перечень из Приказа Минпромторга N 1532 от 19.04.2022",
     {"G33", "G33MIN10"},
     true,
     {{"omit1532_g33", "G33", ftString, 10},
      {"omit1532_npp", "NPP", ftInteger, 0},
      {"omit1532_g31_12", "G31_12", ftMemo, 0},
      {"omit1532_note", "NOTE", ftMemo, 0},
      {"omit1532_dateend", "DATEEND", ftDate, 0},
      {"omit1532_g33min10", "G33MIN10", ftString, 10},
      {"omit1532_g33max10", "G33MAX10", ftString, 10}}},
};

TEST(DataModuleForm, DeclaresTheConnectionAndTheFourTablesInOrder) {
  LiveObjectsCheck live;
  std::unique_ptr<Tdm> form(DataModule::Create<Tdm>());  // no host server: nothing else
  Lines order;
  for (Component* c : form->Components())
    if (!dynamic_cast<Field*>(c)) order.push_back(c->Name());
  EXPECT_EQ(order, (Lines{"vodar", "vodar_conn", "vodar_g33", "vodar_version", "omit1532"}));
  EXPECT_EQ(form->FindComponent("vodar_conn"), form->vodar_conn);
  EXPECT_EQ(form->vodar_conn->Databasename(), "ТРОИС");
  EXPECT_TRUE(form->vodar_conn->LoadFromFile());
  EXPECT_EQ(form->vodar_conn->DriverType(), "");
  EXPECT_FALSE(form->vodar_conn->HostServer2());
  for (Component* c : form->Components()) EXPECT_FALSE(c->IsLoading()) << c->Name();
}

TEST(DataModuleForm, EveryTableAndFieldIsDeclaredAsTheHostReadsIt) {
  LiveObjectsCheck live;
  std::unique_ptr<Tdm> form(DataModule::Create<Tdm>());
  for (const TableExpect& t : kTables) {
    SCOPED_TRACE(t.component);
    auto* table = dynamic_cast<TcdsTable*>(form->FindComponent(t.component));
    ASSERT_NE(table, nullptr);
    EXPECT_EQ(table->TableName(), t.component);
    EXPECT_EQ(table->Fullname(), t.fullname);
    EXPECT_EQ(LinesOf(table->Indexes()), t.indexes);
    EXPECT_EQ(LinesOf(table->FraseList()), t.frases ? kFrases : Lines{});
    EXPECT_EQ(table->RemoteServer(), form->vodar_conn);
    EXPECT_EQ(table->Databasename(), "ТРОИС");
    EXPECT_EQ(table->UpdateType(), umReplace);
    EXPECT_TRUE(table->AutoCreate());
    EXPECT_FALSE(table->FromModule());
    EXPECT_FALSE(table->ForceCheck());
    EXPECT_FALSE(table->NoPrimary());
    EXPECT_EQ(table->HiddenName(), "");
    EXPECT_TRUE(table->UserFields().Empty());

    IKVTTableDef* def = table->TableDef();
    EXPECT_EQ(def->GetTableName().ToUtf8(), t.component);
    EXPECT_EQ(def->GetFullname().ToUtf8(), t.fullname);
    EXPECT_EQ(def->GetIndexCount(), static_cast<int32_t>(t.indexes.size()));
    ASSERT_EQ(def->GetFieldCount(), static_cast<int32_t>(t.fields.size()));
    for (size_t i = 0; i < t.fields.size(); ++i) {
      const FieldExpect& f = t.fields[i];
      SCOPED_TRACE(f.component);
      Field& field = table->Fields(static_cast<int>(i));
      EXPECT_EQ(field.Name(), f.component);
      EXPECT_EQ(field.Owner(), form.get()) << "fields belong to the data module";
      EXPECT_EQ(field.FieldName(), f.field);
      EXPECT_EQ(field.DataType(), f.type);
      EXPECT_EQ(field.Size(), f.size);
      ComPtr<IKVTFieldInfo> info = def->GetField(static_cast<int32_t>(i));
      EXPECT_EQ(info->GetFieldName().ToUtf8(), f.field);
      EXPECT_EQ(info->GetDataType(), f.type);
      EXPECT_FALSE(info->GetDisplayLabel().empty());
    }
  }
}

TEST(DataModuleForm, LabelsAsDeclaredAndTheFieldNameWhereNoneIs) {
  std::unique_ptr<Tdm> form(DataModule::Create<Tdm>());
  const struct {
    const char* component;
    const char* label;
  } cases[] = {
      {"vodarREGNOM", "Регистрационный номер ТРОИС"},
      {"vodarG31_12L", "Наименование ОИС (lowercase)"},
      {"vodarF190", "Организация зарегистрировавшая ОИС: RU/WO"},
      {"vodarDATEEXCLUDE",
       "Дата реального окончания действия регистрации ОИС в Реестре из поля note"},
      {"vodarTRADEMARK", "Наименование ОИС (для поиска)"},
      {"vodar_g33G33MAX10", "Код ТНВЭД максимальный (10 знаков 9)"},
      {"vodar_versionVERSION", "Версия БД"},
      {"omit1532_g33", "Код ТНВЭД (2-10 знаков)"},
      {"omit1532_dateend", "Дата окончания действия"},
      // Declared without a label: the field's name shows.
      {"vodar_versionVERSION_TNVED", "VERSION_TNVED"},
      {"vodar_versionVERSIONID_TNVED", "VERSIONID_TNVED"},
      {"omit1532_npp", "NPP"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.component);
    auto* field = dynamic_cast<Field*>(form->FindComponent(c.component));
    ASSERT_NE(field, nullptr);
    EXPECT_EQ(field->DisplayLabel(), c.label);
    auto* table = dynamic_cast<TcdsTable*>(field->GetDataSet());
    ComPtr<IKVTFieldInfo> info = table->TableDef()->GetField(field->Index());
    EXPECT_EQ(info->GetDisplayLabel().ToUtf8(), c.label);
  }
}

// --- The creation handler and STOPSERVER

class DataModuleHost : public testing::Test {
 protected:
  ~DataModuleHost() override {
    form_.reset();
    HostServer = nullptr;
    host_->ReleaseAll();
    host_ = nullptr;
  }
  Tdm& Create() {
    HostServer = host_->Server();
    form_.reset(DataModule::Create<Tdm>());
    return *form_;
  }
  static std::string DbFolder() { return ExecutableFolder() + "db3/"; }

  LiveObjectsCheck live_;
  ComPtr<FakeHost> host_ = MakeObject<FakeHost>();
  std::unique_ptr<Tdm> form_;
};

TEST_F(DataModuleHost, SubscribesConfiguresAndRegistersInOrder) {
  Tdm& form = Create();
  EXPECT_EQ(host_->calls, (Lines{"Subscribe STOPSERVER", "SetDriver ТРОИС SQLITE",
                                 "SetParam ТРОИС sqlite.file " + DbFolder() + "vodar.db3",
                                 "SetParam ТРОИС readonly Да", "AddConnection",
                                 "AddTable ТРОИС vodar", "AddTable ТРОИС vodar_g33",
                                 "AddTable ТРОИС vodar_version", "AddTable ТРОИС omit1532"}));
  EXPECT_TRUE(DirectoryExists(DbFolder()));
  EXPECT_EQ(form.GetDbPath(false), DbFolder());
  ASSERT_EQ(host_->connections.size(), 1u);
  EXPECT_EQ(host_->connections[0], static_cast<IKVTAlias*>(form.vodar_conn));
  EXPECT_TRUE(SameObject(form.vodar_conn->HostServer2().Get(), host_->Server().Get()));
  ASSERT_EQ(host_->tables.size(), 4u);
  EXPECT_EQ(host_->tables[1].second, form.vodar_g33->TableDef());
  EXPECT_TRUE(host_->errors.empty());
}

TEST_F(DataModuleHost, ARefusedServiceSkipsOnlyTheWorkThatNeedsIt) {
  const Lines storage = {"SetDriver ТРОИС SQLITE",
                         "SetParam ТРОИС sqlite.file " + DbFolder() + "vodar.db3",
                         "SetParam ТРОИС readonly Да"};
  const Lines tables = {"AddTable ТРОИС vodar", "AddTable ТРОИС vodar_g33",
                        "AddTable ТРОИС vodar_version", "AddTable ТРОИС omit1532"};
  auto join = [](std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const Lines subscribe = {"Subscribe STOPSERVER"};
  const Lines connection = {"AddConnection"};
  const struct {
    const char* refused;
    void (*refuse)(FakeHost&);
    Lines calls;
    bool attached;
  } cases[] = {
      {"IKVTConfig", [](FakeHost& h) { h.Offer<IKVTConfig>(false); },
       join({subscribe, connection, tables}), true},
      {"IKVTDatabaseConfig", [](FakeHost& h) { h.Offer<IKVTDatabaseConfig>(false); },
       join({subscribe, connection, tables}), true},
      {"IKVTConnectionRegistry", [](FakeHost& h) { h.Offer<IKVTConnectionRegistry>(false); },
       join({subscribe, storage, tables}), false},
      {"IKVTServer2", [](FakeHost& h) { h.Offer<IKVTServer2>(false); },
       join({subscribe, storage, connection, tables}), false},
      {"IKVTTableRegistry", [](FakeHost& h) { h.Offer<IKVTTableRegistry>(false); },
       join({subscribe, storage, connection}), true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.refused);
    host_->ReleaseAll();
    host_ = MakeObject<FakeHost>();
    c.refuse(*host_);
    Tdm& form = Create();
    EXPECT_EQ(host_->calls, c.calls);
    EXPECT_EQ(static_cast<bool>(form.vodar_conn->HostServer2()), c.attached);
    form_.reset();
  }
}

TEST_F(DataModuleHost, WithoutAHostServerNothingIsHandedOver) {
  form_.reset(DataModule::Create<Tdm>());
  EXPECT_TRUE(host_->calls.empty());
  EXPECT_FALSE(form_->vodar_conn->HostServer2());
}

TEST_F(DataModuleHost, AnErrorInTheCreationHandlerGoesToTheApplicationHandler) {
  std::vector<std::string> shown;
  Application::Handler previous = Application::SetExceptionHandler(
      [&](const std::exception_ptr& e) { shown.push_back(ExceptionMessage(e)); });
  host_->Offer<IKVTServer2>(false);
  // A connection registry that fails: the handler ends there, the tables stay unregistered.
  struct FailingRegistry : Implements<IKVTConnectionRegistry> {
    HRESULT AddConnection(IKVTAlias*) override { throw EDatabaseError("registry failed"); }
  };
  host_->AddService(IKVTConnectionRegistry::iid, MakeObject<FailingRegistry>());
  Tdm& form = Create();
  Application::SetExceptionHandler(previous);
  EXPECT_EQ(shown, Lines{"registry failed"});
  EXPECT_TRUE(host_->tables.empty());
  EXPECT_EQ(form.vodar_conn->Name(), "vodar_conn") << "the data module exists all the same";
}

TEST_F(DataModuleHost, StopServerDetachesAndEmptiesTheHostServerTwiceWithoutFailing) {
  Tdm& form = Create();
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    host_->Raise(u"STOPSERVER");
    EXPECT_FALSE(HostServer);
    EXPECT_FALSE(form.vodar_conn->HostServer2());
    EXPECT_FALSE(form.vodar_conn->DBManager());
    EXPECT_FALSE(form.vodar_conn->Connected());
  }
  EXPECT_TRUE(host_->errors.empty());
}

TEST_F(DataModuleHost, StopServerAfterTheDataModuleIsGoneDoesNothing) {
  Create();
  form_.reset();
  host_->Raise(u"STOPSERVER");  // the host still holds the subscription
  EXPECT_TRUE(HostServer) << "nothing ran";
  EXPECT_TRUE(host_->errors.empty());
}

// --- The commodity-code checks

class DataModuleChecks : public testing::Test {
 protected:
  DataModuleChecks() {
    HostServer = register_.host->Server();
    form_.reset(DataModule::Create<Tdm>());
  }
  ~DataModuleChecks() override {
    form_.reset();
    HostServer = nullptr;
  }

  static std::string Statement(const Lines& lines) {
    std::string text;
    for (const std::string& l : lines) text += l + "\r\n";
    return text;
  }

  LiveObjectsCheck live_;
  FakeRegisterHost register_;
  FakeCheckManager* manager_ = register_.manager.Get();
  std::unique_ptr<Tdm> form_;
};

const char kRegisterLine1[] = "SELECT CASE WHEN EXISTS(SELECT 1 FROM vodar_g33 WHERE ";
const char kRegisterPrefix[] =
    "((substr(:G33, 1, min(length(g33min), :G33LEN)) >= substr(g33min, 1, min(length(g33min), "
    ":G33LEN))) and (substr(:G33, 1, min(length(coalesce(g33max, g33min)), :G33LEN)) <= "
    "substr(coalesce(g33max, g33min), 1, min(length(coalesce(g33max, g33min)), :G33LEN))))";
const char kRegisterLine3[] = " AND (:TODAY <= DATEEND)) THEN 1 ELSE 0 END AS ex";
const char kOmitLine1[] = "SELECT CASE WHEN EXISTS(SELECT 1 FROM omit1532 WHERE ";
const char kOmitPrefix[] =
    "(substr(:G33, 1, min(length(g33), :G33LEN)) = substr(g33, 1, min(length(g33), :G33LEN)))";
const char kOmitLine3[] = ") THEN 1 ELSE 0 END AS ex";
const char kRange[] = "(:G33 BETWEEN G33MIN10 AND G33MAX10)";

TEST_F(DataModuleChecks, StatementsAndParametersOfBothFormsGoToTheHost) {
  // The code as the host receives it: reduced to code page 1251 ("?" for what it lacks).
  const struct {
    std::u16string code;
    bool prefix;
    const char* sent;
  } cases[] = {
      {u"", true, ""},
      {u"8517", true, "8517"},
      {u"851712000", true, "851712000"},
      {u"8517120000", false, "8517120000"},
      {u"85171200001", false, "85171200001"},
      {u"851712000Ж", false, "851712000Ж"},
      {u"8517中", true, "8517?"},
  };
  for (const auto& c : cases) {
    const std::string code = c.sent;
    SCOPED_TRACE("code '" + code + "'");
    manager_->calls.clear();
    manager_->seen_params.clear();
    const TDateTime before = Now();
    EXPECT_FALSE(form_->CheckCode(WideString(c.code)));
    const TDateTime after = Now();
    ASSERT_EQ(manager_->calls.size(), 2u);
    EXPECT_EQ(manager_->calls[0].database.ToUtf8(), "ТРОИС");
    EXPECT_EQ(manager_->calls[0].sql.ToUtf8(),
              Statement({kRegisterLine1, c.prefix ? kRegisterPrefix : kRange, kRegisterLine3}));
    EXPECT_EQ(manager_->calls[1].sql.ToUtf8(),
              Statement({kOmitLine1, c.prefix ? kOmitPrefix : kRange, kOmitLine3}));

    // Every entry of a name carries the value: G33 as single-byte text, G33LEN (prefix form
    // only) as an integer, TODAY (register only) as a date.
    for (size_t call = 0; call < 2; ++call) {
      SCOPED_TRACE(call == 0 ? "register" : "exception list");
      int g33 = 0, g33len = 0, today = 0;
      for (const auto& p : manager_->seen_params[call]) {
        const std::string name = p.name.ToUtf8();
        if (name == "G33") {
          ++g33;
          EXPECT_EQ(p.value.VType(), varOleStr);
          EXPECT_EQ(p.value.ToText(), code);
          EXPECT_EQ(p.data_type, ftString);
        } else if (name == "G33LEN") {
          ++g33len;
          EXPECT_EQ(p.value.VType(), varInteger);
          EXPECT_EQ(p.value.ToInt32(), static_cast<int32_t>(c.code.size()));
        } else if (name == "TODAY") {
          ++today;
          EXPECT_EQ(p.value.VType(), varDate);
          EXPECT_EQ(p.data_type, ftDateTime);
          EXPECT_GE(p.value.ToDate(), before);
          EXPECT_LE(p.value.ToDate(), after);
        } else {
          ADD_FAILURE() << "unexpected parameter " << name;
        }
      }
      const bool reg = call == 0;
      EXPECT_EQ(g33, c.prefix && reg ? 2 : 1);
      EXPECT_EQ(g33len, c.prefix ? (reg ? 4 : 2) : 0);
      EXPECT_EQ(today, reg ? 1 : 0);
    }
  }
}

TEST_F(DataModuleChecks, EitherAnswerMakesTheCodeFoundAndTheExceptionListAlwaysRuns) {
  const struct {
    bool in_register, in_omit;
  } cases[] = {{false, false}, {true, false}, {false, true}, {true, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string("register ") + (c.in_register ? "yes" : "no") + ", list " +
                 (c.in_omit ? "yes" : "no"));
    manager_->register_match = c.in_register;
    manager_->omit_match = c.in_omit;
    manager_->calls.clear();
    EXPECT_EQ(form_->CheckCode(u"8517"), c.in_register || c.in_omit);
    EXPECT_EQ(manager_->calls.size(), 2u);
    EXPECT_EQ(form_->CheckOmit(u"8517"), c.in_omit);
    EXPECT_EQ(manager_->calls.size(), 3u);
  }
}

TEST_F(DataModuleChecks, AFailingStatementReachesTheCallerAndFreesTheQuery) {
  manager_->error = "no such table: vodar_g33";
  try {
    form_->CheckCode(u"8517");
    ADD_FAILURE() << "no error";
  } catch (const EDatabaseError& e) {
    EXPECT_EQ(std::string(e.what()), "no such table: vodar_g33");
  }
  EXPECT_EQ(manager_->calls.size(), 1u) << "the exception list is not asked after an error";
  EXPECT_THROW(form_->CheckOmit(u"8517"), EDatabaseError);
  manager_->error.reset();
  EXPECT_FALSE(form_->CheckCode(u"8517")) << "the next check works again";
}

TEST_F(DataModuleChecks, AfterStopServerACheckFailsInsteadOfReachingTheHost) {
  register_.host->Raise(u"STOPSERVER");
  manager_->calls.clear();
  EXPECT_ANY_THROW(form_->CheckCode(u"8517"));
  EXPECT_TRUE(manager_->calls.empty());
}

}  // namespace
