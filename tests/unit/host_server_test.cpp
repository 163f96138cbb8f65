#include "host/server.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "dataaccess/KVTAlias.h"
#include "dataaccess/cdsQuery.h"
#include "host/appserver.h"
#include "platform/com/guid.h"
#include "platform/db/packet.h"
#include "platform/rtl/datetime.h"
#include "tests/fakes/temp_sqlite.h"

namespace {

class FakeModuleInfo : public Implements<IModuleInfo> {
 public:
  explicit FakeModuleInfo(std::u16string name) : name_(std::move(name)) {}
  WideString GetName() override { return name_; }
  WideString GetCaption() override { return u"caption"; }
  WideString GetVersion() override { return u"1.2.3.4"; }
  bool GetUpdateDefault() override { return true; }
  HRESULT PublishVersionStatus(int32_t) override { return S_OK; }

 private:
  std::u16string name_;
};

class FakeTableDef : public Implements<IKVTTableDef> {
 public:
  explicit FakeTableDef(std::u16string table) : table_(std::move(table)) {}
  WideString GetFullname() override { return u"Full " + table_; }
  HRESULT SetFullname(const WideString&) override { return S_OK; }
  WideString GetTableName() override { return table_; }
  HRESULT SetTableName(const WideString& name) override {
    table_ = name.str();
    return S_OK;
  }
  int32_t GetFieldCount() override { return 0; }
  ComPtr<IKVTFieldInfo> GetField(int32_t) override { return nullptr; }
  int32_t GetIndexCount() override { return 0; }
  ComPtr<IKVTIndexInfo> GetIndex(int32_t) override { return nullptr; }
  WideString GetProviderName() override { return provider_; }
  HRESULT SetProviderName(const WideString& name) override {
    provider_ = name;
    return S_OK;
  }
  int32_t GetUpdateType() override { return 0; }

  WideString provider_;

 private:
  std::u16string table_;
};

class CountingSink : public Implements<IKVTEventSink> {
 public:
  HRESULT Notify(IUnknown*) override {
    ++calls;
    return S_OK;
  }
  int calls = 0;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class HostServerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    live_ = InterfacedObject::LiveObjects();
    file_ = dir_.File("test.db3");
    MakeSqliteFile(file_,
                   "CREATE TABLE items (ID INTEGER PRIMARY KEY, NAME TEXT);"
                   "INSERT INTO items VALUES (1, 'apple');");
    server_ = MakeObject<THostServer>(dir_.File("kvthost.ini"));
    ComPtr<IKVTDatabaseConfig> config = ComPtr<IKVTServer>(server_.Get()).As<IKVTDatabaseConfig>();
    config->SetDriver(u"test", u"SQLITE");
    config->SetParam(u"test", u"sqlite.file", WideString::FromUtf8(file_));
  }
  void TearDown() override {
    server_->Stop();
    server_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  }
  ComPtr<IKVTServer> Server() { return ComPtr<IKVTServer>(server_.Get()); }

  int64_t live_ = 0;
  TempFolder dir_;
  std::string file_;
  ComPtr<THostServer> server_;
};

TEST_F(HostServerTest, CreateServerObjectMakesApplicationServersOfItsClassOnly) {
  ComPtr<IKVTServer2> s2 = Server().As<IKVTServer2>();
  ComPtr<IUnknown> a, b;
  ASSERT_EQ(s2->CreateServerObject(CLSID_KvtHostAppServer, a.Put()), S_OK);
  ASSERT_EQ(s2->CreateServerObject(CLSID_KvtHostAppServer, b.Put()), S_OK);
  EXPECT_FALSE(SameObject(a.Get(), b.Get())) << "a new object each time";
  EXPECT_TRUE(a.TryAs<IDispatch>());
  EXPECT_TRUE(a.TryAs<IAppServer>());
  EXPECT_EQ(a.As<IKVTDatabaseInfo>()->GetDriverName(), u"SQLITE");

  ComPtr<IUnknown> none = a;
  EXPECT_EQ(s2->CreateServerObject(IKVTServer::iid, none.Put()), REGDB_E_CLASSNOTREG);
  EXPECT_FALSE(none);
  EXPECT_EQ(s2->CreateServerObject(CLSID_KvtHostAppServer, nullptr), E_POINTER);
}

TEST_F(HostServerTest, EveryHostServiceIsAnsweredByQueryInterface) {
  const GUID services[] = {
      IKVTServer::iid,         IKVTServer2::iid,          IKVTConfig::iid,
      IKVTDatabaseConfig::iid, IDBManager2::iid,          IKVTConnectionRegistry::iid,
      IKVTTableRegistry::iid,  IKVTErrorLog::iid,         IModuleRegistrar::iid,
      IModuleInfoList::iid,    IVersionStatusService::iid};
  for (const GUID& iid : services) {
    SCOPED_TRACE(GUIDToString(iid));
    ComPtr<IUnknown> obj;
    EXPECT_EQ(Server()->QueryInterface(iid, obj.PutVoid()), S_OK);
    EXPECT_TRUE(obj);
  }
  ComPtr<IUnknown> obj;
  EXPECT_EQ(Server()->QueryInterface(IAppServer::iid, obj.PutVoid()), E_NOINTERFACE);
  EXPECT_TRUE(SameObject(Server().As<IDBManager2>().Get(), Server().As<IDBManager2>().Get()));
}

TEST_F(HostServerTest, ARegisteredAliasConnectsThroughTheHost) {
  TKVTAlias alias;
  alias.SetDatabasename("test");
  ASSERT_EQ(Server().As<IKVTConnectionRegistry>()->AddConnection(&alias), S_OK);
  EXPECT_EQ(alias.ServerGUID(), GUIDToString(CLSID_KvtHostAppServer));
  ASSERT_EQ(server_->Connections().Connections().size(), 1u);
  alias.SetHostServer(Server().As<IKVTServer2>().Get());
  ASSERT_TRUE(alias.DBManager());
  alias.Open();
  ASSERT_TRUE(alias.Connected());
  EXPECT_EQ(alias.GetDatabaseInfo()->GetDriverName(), u"SQLITE");

  // What a client query does: OpenSQL through the alias's manager, rows through its server.
  Variant def;
  auto info =
      alias.DBManager()->OpenSQL(u"test", u"select NAME from items\r\n", nullptr, false, true, def);
  Variant params, owner, packet;
  int32_t recs = 0;
  ASSERT_EQ(alias.GetServer()->AS_GetRecords(info->GetProviderName(), -1, &recs, 0, {}, &params,
                                             &owner, &packet),
            S_OK);
  EXPECT_EQ(DecodeDataPacket(std::move(packet)).cells.at(0).ToText(), "apple");
  info = nullptr;
  alias.Close();
  alias.SetHostServer(nullptr);
  server_->Stop();
  EXPECT_TRUE(server_->Connections().Connections().empty());
}

TEST_F(HostServerTest, TheModulesTablesAndQueriesWorkThroughTheHost) {
  MakeSqliteFile(file_,
                 "CREATE TABLE ranges (G33MIN10 TEXT, G33MAX10 TEXT, DATEEND TEXT);"
                 "INSERT INTO ranges VALUES ('8517000000', '8517999999', '2030-01-01');");
  TKVTAlias alias;
  alias.SetDatabasename("test");
  Server().As<IKVTConnectionRegistry>()->AddConnection(&alias);
  alias.SetHostServer(Server().As<IKVTServer2>().Get());
  TcdsTable table;
  table.SetTableName("items");
  table.SetRemoteServer(&alias);
  Server().As<IKVTTableRegistry>()->AddTable(u"test", &table);

  // A registered table opens through its provider, and its changes reach the file.
  table.Open();
  EXPECT_EQ(table.RecordCount(), 1);
  table.Append();
  table.FieldByName("NAME").SetAsString("pear");
  table.Post();
  EXPECT_EQ(QuerySqlite(file_, "select group_concat(NAME) from items"), "apple,pear");
  table.Close();

  // A check: three lines, a text and a date parameter, one row with one column.
  for (int i = 0; i < 200; ++i) {
    std::unique_ptr<TcdsQuery> query = TcdsQuery::Create(table);
    query->SQL().Add("select case when count(*) > 0 then 1 else 0 end as ex from ranges");
    query->SQL().Add("where (:G33 BETWEEN G33MIN10 AND G33MAX10)");
    query->SQL().Add(" AND (:TODAY <= DATEEND)");
    query->ParamByName("G33").SetAsString(i % 2 ? "8517120000" : "6403000000");
    query->ParamByName("TODAY").SetAsDateTime(EncodeDate(2025, 1, 1));
    query->Open();
    EXPECT_EQ(query->FieldByName("ex").AsInteger(), i % 2);
  }
  EXPECT_EQ(server_->Data()->ResultCount(), 0u) << "every result went with its query";
  alias.Close();
  alias.SetHostServer(nullptr);
  server_->Stop();
}

TEST_F(HostServerTest, RegisteredTablesAreServedByNameAndMissingOnesReported) {
  auto items = MakeObject<FakeTableDef>(u"items");
  auto missing = MakeObject<FakeTableDef>(u"nosuch");
  auto elsewhere = MakeObject<FakeTableDef>(u"elsewhere");
  auto clash = MakeObject<FakeTableDef>(u"clash");
  clash->provider_ = u"items";
  missing->provider_ = u"own name";
  auto registry = Server().As<IKVTTableRegistry>();
  testing::internal::CaptureStderr();
  EXPECT_EQ(registry->AddTable(u"test", items.Get()), S_OK);
  EXPECT_EQ(registry->AddTable(u"test", missing.Get()), S_OK);
  EXPECT_EQ(registry->AddTable(u"unknown", elsewhere.Get()), S_OK);
  EXPECT_EQ(registry->AddTable(u"unknown", MakeObject<FakeTableDef>(u"more").Get()), S_OK);
  EXPECT_EQ(registry->AddTable(u"test", clash.Get()), S_OK);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(items->GetProviderName(), u"items") << "the host serves the table by its name";
  EXPECT_EQ(missing->GetProviderName(), u"own name") << "a provider name is kept";
  EXPECT_NE(err.find("\"nosuch\""), std::string::npos) << err;
  EXPECT_NE(err.find("has no table"), std::string::npos) << err;
  EXPECT_NE(err.find("\"unknown\" is not configured"), std::string::npos) << err;
  EXPECT_EQ(err.find("not configured", err.find("not configured") + 1), std::string::npos)
      << "an unusable database is reported once";
  EXPECT_NE(err.find("\"clash\" of database \"test\" is not served"), std::string::npos) << err;
  EXPECT_NE(ReadAll(dir_.File("kvthost.log")).find("has no table \"nosuch\""), std::string::npos);
  ASSERT_EQ(server_->Tables().Tables().size(), 5u);

  ComPtr<IUnknown> obj;
  ASSERT_EQ(Server().As<IKVTServer2>()->CreateServerObject(CLSID_KvtHostAppServer, obj.Put()),
            S_OK);
  Variant params, owner, packet;
  int32_t recs = 0;
  EXPECT_EQ(
      obj.As<IAppServer>()->AS_GetRecords(u"items", -1, &recs, 0, {}, &params, &owner, &packet),
      S_OK);
  EXPECT_EQ(recs, 1);
  server_->Stop();
  EXPECT_TRUE(server_->Tables().Tables().empty());
}

TEST_F(HostServerTest, TheErrorLogWritesStderrAndTheLogFile) {
  auto log = Server().As<IKVTErrorLog>();
  testing::internal::CaptureStderr();
  EXPECT_EQ(log->LogError(u"ошибка обработчика"), S_OK);
  EXPECT_EQ(log->LogWarning(u"careful"), S_OK);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("kvthost: error: ошибка обработчика"), std::string::npos) << err;
  std::string file = ReadAll(dir_.File("kvthost.log"));
  EXPECT_NE(file.find("error: ошибка обработчика\n"), std::string::npos) << file;
  EXPECT_NE(file.find("warning: careful\n"), std::string::npos) << file;
}

TEST_F(HostServerTest, TheModuleListKeepsOneEntryPerNameAndRemovesByIdentity) {
  auto list = Server().As<IModuleInfoList>();
  auto names = [&] {
    std::string out;
    ComPtr<IEnumModuleInfo> e;
    if (list->GetEnumerator(e.Put()) != S_OK) return out;
    ComPtr<IModuleInfo> info;
    while (e->Next(info.Put()) == S_OK) out += info->GetName().ToUtf8() + " ";
    return out;
  };
  ComPtr<IEnumModuleInfo> e;
  EXPECT_EQ(list->GetEnumerator(e.Put()), S_FALSE);
  auto a = MakeObject<FakeModuleInfo>(u"A");
  auto b = MakeObject<FakeModuleInfo>(u"B");
  auto a2 = MakeObject<FakeModuleInfo>(u"A");
  auto lower = MakeObject<FakeModuleInfo>(u"a");
  EXPECT_EQ(Server().As<IModuleRegistrar>()->RegisterModule(a.Get()), S_OK);
  list->Add(a.Get());
  list->Add(b.Get());
  EXPECT_EQ(names(), "A B ");
  list->Add(a2.Get());
  list->Add(lower.Get());
  list->Add(nullptr);
  EXPECT_EQ(names(), "B A a ") << "a replaced entry moves to the end";
  list->Remove(a.Get());
  EXPECT_EQ(names(), "B A a ") << "the replaced object is no longer there";
  list->Remove(a2.Get());
  EXPECT_EQ(names(), "B a ");

  ComPtr<IModuleInfo> found;
  EXPECT_EQ(list->Find(u"a", found.Put()), S_OK);
  EXPECT_TRUE(SameObject(found.Get(), lower.Get()));
  EXPECT_EQ(list->Find(u"Z", found.Put()), S_FALSE);
  EXPECT_FALSE(found);

  // An enumerator reads the live list and keeps it alive.
  ComPtr<IEnumModuleInfo> live;
  ASSERT_EQ(list->GetEnumerator(live.Put()), S_OK);
  list->Add(a.Get());
  list = nullptr;
  std::string seen;
  ComPtr<IModuleInfo> info;
  while (live->Next(info.Put()) == S_OK) seen += info->GetName().ToUtf8() + " ";
  EXPECT_EQ(seen, "B a A ");
}

TEST_F(HostServerTest, VersionStatusItemsKeepTheTextTheyReceive) {
  auto service = Server().As<IVersionStatusService>();
  ComPtr<IVersionStatusItem> item, same;
  ASSERT_EQ(service->GetItem(u"VODAR", item.Put()), S_OK);
  ASSERT_EQ(service->GetItem(u"VODAR", same.Put()), S_OK);
  EXPECT_EQ(item.Get(), same.Get());
  EXPECT_FALSE(server_->VersionStatus().Item(u"VODAR")->HasText());
  item->SetText(u"Объекты ИС: 1.3", 0);
  EXPECT_EQ(server_->VersionStatus().Item(u"VODAR")->Text(), u"Объекты ИС: 1.3");
  EXPECT_FALSE(server_->VersionStatus().Item(u"OTHER"));
}

TEST_F(HostServerTest, StopRaisesStopserverOnceAndLetsGoOfEverything) {
  auto sink = MakeObject<CountingSink>();
  auto other = MakeObject<CountingSink>();
  Server()->Subscribe(u"STOPSERVER", sink.Get());
  Server()->Subscribe(u"OTHER", other.Get());
  auto service = MakeObject<FakeModuleInfo>(u"service");
  Server()->RegisterService(service.Get());
  Server().As<IModuleInfoList>()->Add(MakeObject<FakeModuleInfo>(u"M").Get());
  server_->RaiseEvent(u"STOPSERVER");
  EXPECT_EQ(sink->calls, 1);
  server_->Stop();
  EXPECT_EQ(sink->calls, 2);
  server_->Stop();
  EXPECT_EQ(sink->calls, 2) << "no subscription outlives Stop";
  EXPECT_EQ(other->calls, 0);
  EXPECT_EQ(sink->RefCount(), 1);
  EXPECT_EQ(service->RefCount(), 1);
  EXPECT_TRUE(server_->Modules().Entries().empty());
  EXPECT_TRUE(server_->Services().empty());
}

}  // namespace
