// The alias connection: connecting through the host, falling back to COM, the host
// references it keeps, and the IKVTAlias operations the host calls.
#include "dataaccess/KVTAlias.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>

#include "platform/com/activation.h"
#include "platform/com/guid.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_dispserver.h"
#include "tests/fakes/fake_host.h"

namespace {

constexpr CLSID kAliasServer = "{7B2E3C40-0001-4D5E-8F60-718293A4B5C1}"_guid;  // Kvt.AliasServer

class BareObject : public Implements<IKVTEventSink> {
 public:
  HRESULT Notify(IUnknown*) override { return S_OK; }
};

class FakeDBManager : public Implements<IDBManager2> {
 public:
  HRESULT Reserved1() override { return E_NOTIMPL; }
  HRESULT Reserved2() override { return E_NOTIMPL; }
  HRESULT Reserved3() override { return E_NOTIMPL; }
  HRESULT Reserved4() override { return E_NOTIMPL; }
  HRESULT Reserved5() override { return E_NOTIMPL; }
  ComPtr<IKVTTableinfo> OpenSQL(const WideString&, const WideString&, IKVTParams*, bool, bool,
                                Variant&) override {
    return {};
  }
  HRESULT Reserved7() override { return E_NOTIMPL; }
  HRESULT Reserved8() override { return E_NOTIMPL; }
  HRESULT Reserved9() override { return E_NOTIMPL; }
  HRESULT Reserved10() override { return E_NOTIMPL; }
  HRESULT Reserved11() override { return E_NOTIMPL; }
  HRESULT Reserved12() override { return E_NOTIMPL; }
  HRESULT Reserved13() override { return E_NOTIMPL; }
  HRESULT Reserved14() override { return E_NOTIMPL; }
  HRESULT Reserved15() override { return E_NOTIMPL; }
  HRESULT Reserved16() override { return E_NOTIMPL; }
  HRESULT Reserved17() override { return E_NOTIMPL; }
  HRESULT Reserved18() override { return E_NOTIMPL; }
};

class Alias : public testing::Test {
 protected:
  void SetUp() override {
    live_ = InterfacedObject::LiveObjects();
    task_ = CoTaskMemOutstanding();
    com_class_ = std::make_unique<ScopedComClass>(ComClassInfo{kAliasServer,
                                                               "Kvt.AliasServer",
                                                               CLSCTX_LOCAL_SERVER,
                                                               [this] {
                                                                 ++com_made_;
                                                                 return NewServer();
                                                               },
                                                               {}});
    host_ = MakeObject<FakeHost>();
    guid_ = host_->ServerGUID;
    host_->server_objects[guid_] = [this] {
      ++host_made_;
      return NewServer();
    };
    host_->server_objects[kAliasServer] = host_->server_objects[guid_];
    alias_ = std::make_unique<TKVTAlias>();
    alias_->SetName("vodar_conn");
  }
  void TearDown() override {
    alias_.reset();
    host_.Reset();
    com_class_.reset();
    EXPECT_EQ(FakeDispServer::alive, 0);
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
    EXPECT_EQ(CoTaskMemOutstanding(), task_) << "task memory not freed";
  }
  ComPtr<IUnknown> NewServer() {
    auto server = MakeObject<FakeDispServer>();
    server->database_info = database_info_;
    last_server_ = server.Get();
    return server->Unknown();
  }
  IKVTServer2* Host2() { return static_cast<IKVTServer2*>(host_.Get()); }
  int CreateServerObjectCalls() const {
    return static_cast<int>(
        std::count_if(host_->calls.begin(), host_->calls.end(),
                      [](const std::string& c) { return c.rfind("CreateServerObject", 0) == 0; }));
  }

  ComPtr<FakeHost> host_;
  GUID guid_;
  std::unique_ptr<TKVTAlias> alias_;
  int com_made_ = 0, host_made_ = 0;
  bool database_info_ = false;
  FakeDispServer* last_server_ = nullptr;  // the server object made last

 private:
  std::unique_ptr<ScopedComClass> com_class_;
  int64_t live_ = 0, task_ = 0;
};

TEST_F(Alias, AttachedAliasConnectsThroughTheHostEveryTimeItOpens) {
  EXPECT_TRUE(alias_->LoadFromFile());
  EXPECT_FALSE(alias_->HostServer2());
  EXPECT_FALSE(alias_->DBManager());

  alias_->SetHostServer(Host2());
  host_->AddConnection(alias_.get());  // the host writes the ServerGUID
  EXPECT_EQ(alias_->ServerGUID(), GUIDToString(guid_));
  alias_->Open();
  EXPECT_TRUE(alias_->Connected());
  EXPECT_EQ(host_->calls.back(), "CreateServerObject " + GUIDToString(guid_));
  ComPtr<IAppServer> server = alias_->GetServer();
  ASSERT_TRUE(server);
  Variant names;
  EXPECT_EQ(server->AS_GetProviderNames(&names), S_OK);
  EXPECT_EQ(last_server_->calls.size(), 1u);
  server.Reset();

  alias_->Close();
  EXPECT_EQ(FakeDispServer::alive, 0) << "closing releases the server object";
  EXPECT_TRUE(alias_->HostServer2()) << "closing keeps the host";
  alias_->Open();
  EXPECT_EQ(host_made_, 2) << "reopening asks the host for a new server object";
  EXPECT_EQ(CreateServerObjectCalls(), 2);
  EXPECT_EQ(com_made_, 0);
}

using IsError = bool (*)(const std::exception&);
template <class E>
bool Is(const std::exception& e) {
  return dynamic_cast<const E*>(&e) != nullptr;
}

TEST_F(Alias, FailedHostConnectsRaiseAndStayDisconnected) {
  constexpr GUID kBare = "{7B2E3C40-0002-4D5E-8F60-718293A4B5C2}"_guid;
  constexpr GUID kEmpty = "{7B2E3C40-0003-4D5E-8F60-718293A4B5C3}"_guid;
  constexpr GUID kThrows = "{7B2E3C40-0004-4D5E-8F60-718293A4B5C4}"_guid;
  constexpr GUID kMissing = "{7B2E3C40-0005-4D5E-8F60-718293A4B5C5}"_guid;
  host_->server_objects[kBare] = [] { return ComPtr<IUnknown>(MakeObject<BareObject>()); };
  host_->server_objects[kEmpty] = [] { return ComPtr<IUnknown>(); };
  host_->server_objects[kThrows] = []() -> ComPtr<IUnknown> {
    throw EDatabaseError("host refused");
  };
  struct Case {
    const char* what;
    GUID guid;         // written as ServerGUID unless null
    const char* name;  // written as ServerName while loading, unless null
    IsError is;
    std::string message;
    int host_calls;
  };
  const Case cases[] = {
      {"neither identifier nor name", GUID_NULL, nullptr, Is<EDatabaseError>,
       "Cannot connect, vodar_conn must contain a valid ServerName or ServerGUID", 0},
      {"only a ServerName", GUID_NULL, "Kvt.AliasServer", Is<EConvertError>,
       "'' is not a valid GUID value", 0},
      {"object without IDispatch", kBare, nullptr, Is<EIntfCastError>, "Interface not supported",
       1},
      {"host refuses the class", kMissing, nullptr, Is<EOleSysError>, "Class not registered", 1},
      {"host raises", kThrows, nullptr, Is<EDatabaseError>, "host refused", 1},
      {"host answers no object", kEmpty, nullptr, Is<EDatabaseError>,
       "Cannot connect, the host created no server object for " + GUIDToString(kEmpty), 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int64_t live = InterfacedObject::LiveObjects();
    std::unique_ptr<TKVTAlias> alias;
    {
      FormLoading form;
      alias = std::make_unique<TKVTAlias>();
      alias->SetName("vodar_conn");
      if (!c.guid.IsNull()) alias->SetServerGUID(GUIDToString(c.guid));
      if (c.name) alias->SetServerName(c.name);
      form.Finish();
    }
    alias->SetHostServer(Host2());
    host_->calls.clear();
    try {
      alias->Open();
      ADD_FAILURE() << "the connect must fail";
    } catch (const std::exception& e) {
      EXPECT_TRUE(c.is(e)) << typeid(e).name();
      EXPECT_EQ(std::string(e.what()), c.message);
    }
    EXPECT_FALSE(alias->Connected());
    EXPECT_TRUE(alias->AppServer().IsNull()) << "no half-connected state";
    EXPECT_EQ(CreateServerObjectCalls(), c.host_calls);
    alias.reset();
    EXPECT_EQ(InterfacedObject::LiveObjects(), live);
  }
  EXPECT_EQ(com_made_, 0);
}

TEST_F(Alias, DetachedOrNotLoadingFromFileConnectsByCOM) {
  alias_->SetServerGUID(GUIDToString(kAliasServer));
  alias_->SetHostServer(Host2());
  alias_->Open();
  EXPECT_EQ(host_made_, 1);
  FakeDispServer* from_host = last_server_;

  alias_->SetHostServer(nullptr);
  EXPECT_FALSE(alias_->HostServer2());
  EXPECT_FALSE(alias_->DBManager());
  EXPECT_TRUE(alias_->Connected()) << "detaching leaves an open connection alone";
  EXPECT_TRUE(SameObject(alias_->AppServer().ToUnknown().Get(), from_host->Unknown().Get()));

  alias_->Close();
  alias_->Open();
  EXPECT_EQ(com_made_, 1) << "a detached alias falls back to COM activation";
  EXPECT_EQ(host_made_, 1);

  alias_->SetHostServer(Host2());
  alias_->SetLoadFromFile(false);
  alias_->Close();
  alias_->Open();
  EXPECT_EQ(com_made_, 2) << "LoadFromFile off: COM activation while attached";
  EXPECT_EQ(host_made_, 1);
}

TEST_F(Alias, SetHostServerKeepsTheDatabaseManagerWhenOffered) {
  for (bool offered : {true, false}) {
    SCOPED_TRACE(offered ? "offered" : "not offered");
    auto manager = MakeObject<FakeDBManager>();
    if (offered) host_->AddService(IDBManager2::iid, ComPtr<IUnknown>(manager.Get()));
    alias_->SetHostServer(Host2());
    EXPECT_TRUE(alias_->HostServer2());
    EXPECT_EQ(alias_->DBManager().Get(), offered ? manager.Get() : nullptr);
    EXPECT_EQ(host_->RefCount(), 2);
    alias_->SetHostServer(nullptr);
    EXPECT_FALSE(alias_->DBManager());
    EXPECT_EQ(host_->RefCount(), 1);
    host_->ReleaseAll();
  }
}

TEST_F(Alias, GetDatabaseInfoAsksTheServerObject) {
  alias_->SetHostServer(Host2());
  alias_->SetServerGUID(GUIDToString(guid_));
  EXPECT_FALSE(alias_->GetDatabaseInfo()) << "not connected";
  for (bool offered : {true, false}) {
    SCOPED_TRACE(offered ? "offered" : "not offered");
    database_info_ = offered;
    alias_->Open();
    ComPtr<IKVTDatabaseInfo> info = alias_->GetDatabaseInfo();
    EXPECT_EQ(static_cast<bool>(info), offered);
    if (info) {
      EXPECT_EQ(info->GetDriverName(), WideString(u"BDE"));
    }
    alias_->Close();
  }
}

TEST_F(Alias, HostOperationsThroughIKVTAlias) {
  IKVTAlias* intf = nullptr;
  ASSERT_EQ(static_cast<IKVTAlias*>(alias_.get())
                ->QueryInterface(IKVTAlias::iid, reinterpret_cast<void**>(&intf)),
            S_OK);
  EXPECT_EQ(intf, static_cast<IKVTAlias*>(alias_.get()));
  EXPECT_EQ(intf->AddRef(), kNonCountingRefs);
  EXPECT_EQ(intf->Release(), kNonCountingRefs);
  IUnknown* identity = nullptr;
  ASSERT_EQ(intf->QueryInterface(IUnknown::iid, reinterpret_cast<void**>(&identity)), S_OK);
  EXPECT_EQ(identity, static_cast<IUnknown*>(intf));

  EXPECT_EQ(intf->SetParamText(u"user=x"), S_OK);
  EXPECT_TRUE(intf->GetParamText().empty());
  alias_->SetDriverType("SQLITE");
  EXPECT_EQ(intf->GetDriverType(), WideString(u"SQLITE"));

  struct Case {
    std::u16string in, out;
  };
  const Case names[] = {
      {u"ТРОИС", u"ТРОИС"},
      {u"Ёё Ўў Її Ґґ № € ‰ « » — \u0098", u"Ёё Ўў Її Ґґ № € ‰ « » — \u0098"},
      {u"日本 ДБ", u"?? ДБ"},  // outside the code page
      {u"", u""},
  };
  for (const Case& c : names) {
    SCOPED_TRACE(WideString(c.in).ToUtf8());
    EXPECT_EQ(intf->SetDatabasename(WideString(c.in)), S_OK);
    EXPECT_EQ(intf->GetDatabasename(), WideString(c.out));
    EXPECT_EQ(alias_->Databasename(), WideString(c.out).ToUtf8());
  }

  alias_->SetHostServer(Host2());
  EXPECT_EQ(intf->SetServerGUID(GUIDToWide(guid_)), S_OK);
  EXPECT_EQ(intf->GetServerGUID(), GUIDToWide(guid_));
  alias_->Open();
  try {
    intf->SetServerGUID(u"{7B2E3C40-0001-4D5E-8F60-718293A4B5C}");
    ADD_FAILURE() << "malformed text must raise";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), CO_E_CLASSSTRING);
  }
  EXPECT_FALSE(alias_->Connected()) << "the write closed the connection first";
  EXPECT_EQ(intf->GetServerGUID(), GUIDToWide(guid_)) << "identifier unchanged";
  EXPECT_EQ(intf->SetServerGUID(u""), S_OK);
  EXPECT_TRUE(intf->GetServerGUID().empty());
}

TEST_F(Alias, DestructionReleasesTheHostBeforeTheServerObject) {
  host_->AddService(IDBManager2::iid, ComPtr<IUnknown>(MakeObject<FakeDBManager>()));
  alias_->SetHostServer(Host2());
  alias_->SetServerGUID(GUIDToString(guid_));
  alias_->Open();
  int host_refs_at_release = -1;
  last_server_->on_destroy = [&] { host_refs_at_release = host_->RefCount(); };
  alias_.reset();
  EXPECT_EQ(host_refs_at_release, 1) << "only the test still holds the host";
  EXPECT_EQ(FakeDispServer::alive, 0);
}

}  // namespace
