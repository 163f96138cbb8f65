#include "moduleinfo/vodar_moduleinfo.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>

#include "dataaccess/kvt_event.h"
#include "moduleinfo/kvt_ModuleList.h"
#include "platform/com/guid.h"
#include "platform/os/os.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_appserver.h"
#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_opensql.h"

namespace {

std::string U8(const WideString& w) {
  return w.ToUtf8();
}

// The marker file ".test" beside this test executable, present for the guard's lifetime.
class TestMarker {
 public:
  TestMarker() { std::ofstream(path_).put('\n'); }
  ~TestMarker() { std::remove(path_.c_str()); }
  static std::string Path() { return ExecutableFolder() + ".test"; }

 private:
  std::string path_ = Path();
};

// The register's information with a version the test sets instead of the database's.
class VersionedVodarInfo : public TVodarInfo {
 public:
  WideString GetVersion() override { return WideString::FromUtf8(version); }
  std::string version;
};

class VodarInfoTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(FileExists(TestMarker::Path())) << "a marker file was left behind";
    HostServer = host_->Server();
  }
  void TearDown() override {
    HostServer = nullptr;
    host_->ReleaseAll();
    host_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_);
  }
  IModuleInfo* Listed() {
    return host_->module_list.empty() ? nullptr : host_->module_list.back().Get();
  }

  int64_t live_ = InterfacedObject::LiveObjects();
  ComPtr<FakeHost> host_ = MakeObject<FakeHost>();
};

TEST_F(VodarInfoTest, RegistersWithTheRegistrarBeforeTheModuleList) {
  EXPECT_TRUE(CreateVodarInfo());
  EXPECT_EQ(host_->calls, (std::vector<std::string>{"RegisterModule", "ModuleList.Add"}));
  ASSERT_EQ(host_->registered_modules.size(), 1u);
  ASSERT_EQ(host_->module_list.size(), 1u);
  EXPECT_EQ(host_->registered_modules[0], host_->module_list[0]);
  IModuleInfo* info = Listed();
  EXPECT_EQ(U8(info->GetName()), "VODAR");
  EXPECT_EQ(U8(info->GetCaption()), "Объекты интеллектуальной собственности");
  EXPECT_TRUE(info->GetUpdateDefault());
  EXPECT_EQ(U8(ComPtr<IModuleInfo>(info).As<IModuleVersionFormat>()->FormatVersion(u"2022.5.1.3")),
            "01.03");

  // The host's references are the only ones.
  host_->ReleaseAll();
  EXPECT_EQ(InterfacedObject::LiveObjects(), live_ + 1) << "only the host is left";
}

TEST_F(VodarInfoTest, EachMissingHostServiceIsSkippedSilently) {
  struct Case {
    const char* missing;
    void (*refuse)(FakeHost&);
    std::vector<std::string> calls;
    bool configured;
  };
  const Case cases[] = {
      {"registrar",
       [](FakeHost& h) { h.Offer<IModuleRegistrar>(false); },
       {"ModuleList.Add"},
       true},
      {"module list",
       [](FakeHost& h) { h.Offer<IModuleInfoList>(false); },
       {"RegisterModule"},
       true},
      {"configuration",
       [](FakeHost& h) { h.Offer<IKVTConfig>(false); },
       {"RegisterModule", "ModuleList.Add"},
       false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.missing);
    auto host = MakeObject<FakeHost>();
    c.refuse(*host);
    HostServer = host->Server();
    auto info = MakeObject<TVodarInfo>();
    EXPECT_EQ(host->calls, c.calls);
    EXPECT_EQ(static_cast<bool>(info->Config()), c.configured);
    HostServer = nullptr;
    host->ReleaseAll();
  }
  {
    SCOPED_TRACE("no host server");
    HostServer = nullptr;
    EXPECT_TRUE(CreateVodarInfo());
    auto info = MakeObject<TVodarInfo>();
    EXPECT_FALSE(info->Config());
    EXPECT_FALSE(info->GetUpdate());
    EXPECT_EQ(U8(info->GetVersion()), "1.0.0.0");
    EXPECT_EQ(info->PublishVersionStatus(0), S_OK);
  }
  EXPECT_TRUE(host_->calls.empty());
}

TEST_F(VodarInfoTest, TestMarkerSwitchesTheNameOnTheNextCall) {
  CreateVodarInfo();
  IModuleInfo* info = Listed();
  auto update = ComPtr<IModuleInfo>(info).As<IModuleUpdateSetting>();
  EXPECT_EQ(U8(info->GetName()), "VODAR");
  {
    TestMarker marker;
    EXPECT_EQ(GetTestSuffix(), "_TEST");
    EXPECT_EQ(U8(info->GetName()), "VODAR_TEST");
    update->SetUpdate(false);
    EXPECT_EQ(host_->calls.back(), "WriteValue Настройки\\Обновление\\Обновлять VODAR_TEST Нет");
    info->PublishVersionStatus(0);
    EXPECT_EQ(host_->calls.back(), "GetItem VODAR_TEST");
  }
  EXPECT_EQ(GetTestSuffix(), "");
  EXPECT_EQ(U8(info->GetName()), "VODAR");
  EXPECT_TRUE(update->GetUpdate()) << "the value stored under VODAR_TEST is not VODAR's";
}

TEST_F(VodarInfoTest, PublishesTheShortCaptionAndShortVersion) {
  struct Case {
    const char* version;
    const char* text;
  };
  constexpr Case kCases[] = {
      {"2022.5.1.3", "Объекты ИС: 1.3"},
      {"1.0.0.0", "Объекты ИС: 0.0"},
      {"Версия не установлена", "Объекты ИС: Версия не установлена"},
  };
  auto info = MakeObject<VersionedVodarInfo>();
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.version);
    info->version = c.version;
    EXPECT_EQ(info->PublishVersionStatus(12), S_OK);
    auto& item = host_->status_items[u"VODAR"];
    ASSERT_TRUE(item);
    EXPECT_EQ(U8(item->texts.back()), c.text);
    EXPECT_EQ(item->params.back(), 12);
  }
}

TEST_F(VodarInfoTest, NothingIsPublishedWhenTheHostAnswersNonZero) {
  auto info = MakeObject<VersionedVodarInfo>();
  info->version = "2022.5.1.3";
  host_->status_item_result = S_FALSE;
  EXPECT_EQ(info->PublishVersionStatus(1), S_OK);
  EXPECT_TRUE(host_->status_items.empty());
}

TEST_F(VodarInfoTest, VersionWithoutDatabaseManagerIsTheFallback) {
  auto info = MakeObject<TVodarInfo>();
  EXPECT_EQ(U8(info->GetVersion()), "1.0.0.0") << "the host offers no IDBManager2";
  EXPECT_EQ(info->PublishVersionStatus(0), S_OK);
  EXPECT_EQ(U8(host_->status_items[u"VODAR"]->texts.back()), "Объекты ИС: 0.0");
}

TEST_F(VodarInfoTest, VersionQueryGoesToTheRegisterDatabase) {
  auto manager = MakeObject<FakeOpenSQLManager>();
  host_->AddService(IDBManager2::iid, manager);
  EXPECT_EQ(U8(ReadDatabaseVersion("ТРОИС")), "1.0.0.0") << "OpenSQL answered nothing";
  ASSERT_EQ(manager->calls.size(), 1u);
  const auto& call = manager->calls[0];
  EXPECT_EQ(U8(call.database), "ТРОИС");
  EXPECT_EQ(U8(call.sql), "select version from vodar_version");
  EXPECT_FALSE(call.had_params);
  EXPECT_FALSE(call.unidirectional);
  EXPECT_FALSE(call.flag);
  EXPECT_TRUE(call.table_def_empty);

  auto info = MakeObject<TVodarInfo>();
  EXPECT_EQ(U8(info->GetVersion()), "1.0.0.0");
  EXPECT_EQ(U8(manager->calls.back().database), "ТРОИС");
}

TEST_F(VodarInfoTest, VersionErrorsReachTheCaller) {
  auto manager = MakeObject<FakeOpenSQLManager>();
  host_->AddService(IDBManager2::iid, manager);
  manager->error = "no such table: vodar_version";
  auto info = MakeObject<TVodarInfo>();
  EXPECT_THROW(info->GetVersion(), EDatabaseError);
  EXPECT_THROW(info->PublishVersionStatus(0), EDatabaseError);
}

// The host answers the version query with a result set served by an application server
// it creates for the result's server identifier.
class VodarVersionTest : public VodarInfoTest {
 protected:
  void SetUp() override {
    VodarInfoTest::SetUp();
    manager_ = MakeObject<FakeOpenSQLManager>();
    host_->AddService(IDBManager2::iid, manager_);
    server_ = MakeObject<FakeAppServer>();
    ComPtr<FakeAppServer> server = server_;
    host_->server_objects[host_->ServerGUID] = [server] {
      return ComPtr<IUnknown>(static_cast<IDispatch*>(server.Get()));
    };
    auto answer = MakeObject<FakeOpenSQLResult>();
    answer->server_guid = GUIDToWide(host_->ServerGUID);
    answer->provider = u"q1";
    answer->table = u"vodar_version";
    manager_->answer = answer;
  }
  void TearDown() override {
    manager_ = nullptr;
    server_ = nullptr;
    VodarInfoTest::TearDown();
  }
  void Serve(std::vector<std::vector<Variant>> rows) {
    server_->AddTable("q1", {{"VERSION", ftString, 50}, {"VERSION_TNVED", ftString, 50}},
                      std::move(rows));
  }

  ComPtr<FakeOpenSQLManager> manager_;
  ComPtr<FakeAppServer> server_;
};

TEST_F(VodarVersionTest, ReadsTheFirstValueOfTheFirstRow) {
  struct Case {
    const char* what;
    std::vector<std::vector<Variant>> rows;
    const char* version;
  };
  const Case kCases[] = {
      {"a version",
       {{Variant::Text("2022.5.1.3"), Variant::Text("x")}, {Variant::Text("1.0"), Variant::Null()}},
       "2022.5.1.3"},
      {"no row", {}, "Версия не установлена"},
      {"an empty value", {{Variant::Text(""), Variant::Text("x")}}, "Версия не установлена"},
      {"a null value", {{Variant::Null(), Variant::Text("x")}}, "Версия не установлена"},
  };
  auto info = MakeObject<TVodarInfo>();
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.what);
    Serve(c.rows);
    host_->calls.clear();
    EXPECT_EQ(U8(info->GetVersion()), c.version);
    EXPECT_EQ(host_->calls,
              std::vector<std::string>{"CreateServerObject " + GUIDToString(host_->ServerGUID)});
    EXPECT_EQ(server_->RefCount(), 2) << "the table and its connection are gone";
  }
  Serve({{Variant::Text("2022.5.1.3"), Variant::Null()}});
  EXPECT_EQ(info->PublishVersionStatus(3), S_OK);
  EXPECT_EQ(U8(host_->status_items[u"VODAR"]->texts.back()), "Объекты ИС: 1.3");
}

TEST_F(VodarVersionTest, ErrorsOfTheResultTableReachTheCaller) {
  auto info = MakeObject<TVodarInfo>();
  // The result names a provider the server does not have: opening fails.
  EXPECT_THROW(info->GetVersion(), EOleSysError);
  EXPECT_EQ(server_->RefCount(), 2);

  Serve({{Variant::Text("1.2.3.4"), Variant::Null()}});
  host_->Offer<IKVTServer2>(false);
  try {
    info->GetVersion();
    ADD_FAILURE() << "read without the host's server";
  } catch (const Exception& e) {
    EXPECT_STREQ(e.what(), "Не задана база данных!");
  }
}

}  // namespace
