// Connections to application servers: identity properties, the connect chain with login,
// object broker and remote computers, the IAppServer adapter and the server list.
#include "dataaccess/kvtmconnect.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

#include "hostintf/kvt_serverintf.h"
#include "platform/com/activation.h"
#include "platform/com/comcat.h"
#include "platform/com/dispinvoke.h"
#include "platform/com/guid.h"
#include "platform/com/registry.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_dispserver.h"

namespace {

constexpr CLSID kServer = "{6F1D2A10-0001-4A2B-9C3D-4E5F60718291}"_guid;    // Kvt.TestServer
constexpr CLSID kOther = "{6F1D2A10-0002-4A2B-9C3D-4E5F60718292}"_guid;     // Kvt.OtherServer
constexpr CLSID kNoProgID = "{6F1D2A10-0003-4A2B-9C3D-4E5F60718293}"_guid;  // no ProgID
constexpr CLSID kBare = "{6F1D2A10-0004-4A2B-9C3D-4E5F60718294}"_guid;      // no IDispatch
constexpr CLSID kDirect = "{6F1D2A10-0005-4A2B-9C3D-4E5F60718295}"_guid;    // IAppServer
constexpr CLSID kUnregistered = "{6F1D2A10-0006-4A2B-9C3D-4E5F60718296}"_guid;
constexpr CLSID kLowZero = "{00000000-0000-0000-9C3D-4E5F60718299}"_guid;  // first half zero

class BareObject : public Implements<IKVTEventSink> {
 public:
  HRESULT Notify(IUnknown*) override { return S_OK; }
};

class Connections : public testing::Test {
 protected:
  void SetUp() override {
    live_ = InterfacedObject::LiveObjects();
    task_ = CoTaskMemOutstanding();
    handles_ = RegOpenHandleCount();
    auto dispatch_server = [this](const CLSID& clsid) {
      return [this, clsid] {
        ++made_[clsid];
        return MakeObject<FakeDispServer>()->Unknown();
      };
    };
    Register({kServer, "Kvt.TestServer", CLSCTX_LOCAL_SERVER, dispatch_server(kServer), {}});
    Register({kOther, "Kvt.OtherServer", CLSCTX_INPROC_SERVER, dispatch_server(kOther), {}});
    Register({kNoProgID, "", CLSCTX_INPROC_SERVER, dispatch_server(kNoProgID), {}});
    Register({kLowZero, "", CLSCTX_INPROC_SERVER, dispatch_server(kLowZero), {}});
    Register({kBare,
              "Kvt.Bare",
              CLSCTX_INPROC_SERVER,
              [this] {
                ++made_[kBare];
                return ComPtr<IUnknown>(MakeObject<BareObject>());
              },
              {}});
    Register({kDirect,
              "Kvt.Direct",
              CLSCTX_INPROC_SERVER,
              [] { return ComPtr<IUnknown>(MakeObject<FakeDirectAppServer>()); },
              {}});
  }
  void TearDown() override {
    classes_.clear();
    EXPECT_EQ(FakeDispServer::alive, 0);
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
    EXPECT_EQ(CoTaskMemOutstanding(), task_) << "task memory not freed";
    EXPECT_EQ(RegOpenHandleCount(), handles_) << "registry handles left open";
  }
  void Register(ComClassInfo info) { classes_.push_back(std::make_unique<ScopedComClass>(info)); }
  static std::unique_ptr<TKVTDCOMConnection> NewConnection() {
    auto c = std::make_unique<TKVTDCOMConnection>();
    c->SetName("conn");
    return c;
  }

  std::map<CLSID, int> made_;  // objects made, by class

 private:
  std::vector<std::unique_ptr<ScopedComClass>> classes_;
  int64_t live_ = 0, task_ = 0, handles_ = 0;
};

TEST_F(Connections, ServerGUIDWritesCloseTheConnectionAndFollowTheRegistration) {
  struct Case {
    const char* text;
    bool raises;
    GUID guid;
    const char* server_name;
    const char* read_back;
  };
  const Case cases[] = {
      {"", false, GUID_NULL, "Kvt.OtherServer", ""},  // zeroes, keeps ServerName
      {"{6F1D2A10-0002-4A2B-9C3D-4E5F60718292}", false, kOther, "Kvt.OtherServer",
       "{6F1D2A10-0002-4A2B-9C3D-4E5F60718292}"},  // the current one again
      {"{6f1d2a10-0001-4a2b-9c3d-4e5f60718291}", false, kServer, "Kvt.TestServer",
       "{6F1D2A10-0001-4A2B-9C3D-4E5F60718291}"},
      {"{6F1D2A10-0003-4A2B-9C3D-4E5F60718293}", false, kNoProgID, "Kvt.OtherServer",
       "{6F1D2A10-0003-4A2B-9C3D-4E5F60718293}"},  // no ProgID: ServerName stays
      {"{6F1D2A10-0002-4A2B-9C3D-4E5F6071829}", true, kOther, "Kvt.OtherServer",
       "{6F1D2A10-0002-4A2B-9C3D-4E5F60718292}"},  // malformed: nothing changes
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto conn = NewConnection();
    conn->SetServerGUID(GUIDToString(kOther));
    EXPECT_EQ(conn->ServerName(), "Kvt.OtherServer");
    conn->Open();
    ASSERT_TRUE(conn->Connected());
    if (c.raises) {
      try {
        conn->SetServerGUID(c.text);
        ADD_FAILURE() << "malformed text must raise";
      } catch (const EOleSysError& e) {
        EXPECT_EQ(e.ErrorCode(), CO_E_CLASSSTRING);
        EXPECT_EQ(e.Message(), "Invalid class string");
      }
    } else {
      conn->SetServerGUID(c.text);
    }
    EXPECT_FALSE(conn->Connected()) << "every ServerGUID write closes";
    EXPECT_EQ(FakeDispServer::alive, 0) << "closing releases the server";
    EXPECT_EQ(conn->ServerGUIDValue(), c.guid);
    EXPECT_EQ(conn->ServerName(), c.server_name);
    EXPECT_EQ(conn->ServerGUID(), c.read_back);
  }
}

TEST_F(Connections, ServerNameWritesCloseOnlyWhenTheTextChanges) {
  auto conn = NewConnection();
  conn->SetServerName("Kvt.TestServer");
  EXPECT_EQ(conn->ServerGUIDValue(), kServer);
  conn->Open();
  conn->SetServerName("Kvt.TestServer");
  EXPECT_TRUE(conn->Connected()) << "the same text changes nothing";
  EXPECT_EQ(made_[kServer], 1);

  conn->SetServerName("kvt.testserver");  // another text, even if the same class
  EXPECT_FALSE(conn->Connected());
  EXPECT_EQ(conn->ServerGUIDValue(), kServer);

  conn->SetServerName("Kvt.OtherServer");
  EXPECT_EQ(conn->ServerGUIDValue(), kOther);
  conn->SetServerName("Not.Registered");
  EXPECT_TRUE(conn->ServerGUIDValue().IsNull());
  EXPECT_EQ(conn->ServerName(), "Not.Registered");
}

TEST_F(Connections, IdentifierWithZeroFirstHalfReadsEmptyButConnects) {
  auto conn = NewConnection();
  conn->SetServerGUID(GUIDToString(kLowZero));
  EXPECT_EQ(conn->ServerGUID(), "");
  EXPECT_EQ(conn->GetServerClassID(), kLowZero);
  conn->Open();
  EXPECT_TRUE(conn->Connected());
  EXPECT_EQ(made_[kLowZero], 1);
}

TEST_F(Connections, StoredFormWritesNeitherDisconnectNorOverrideTheLoadedIdentifier) {
  std::unique_ptr<TKVTDCOMConnection> conn;
  {
    FormLoading form;
    conn = NewConnection();
    conn->SetServerGUID(GUIDToString(kServer));  // stored first: ServerName follows it
    EXPECT_EQ(conn->ServerName(), "Kvt.TestServer");
    conn->SetServerName("Kvt.OtherServer");  // stored next: the identifier stays
    conn->SetConnectedProperty(true);
    EXPECT_FALSE(conn->Connected()) << "a connect waits for the end of loading";
    EXPECT_EQ(made_[kServer], 0);
    form.Finish();
  }
  EXPECT_EQ(conn->ServerGUIDValue(), kServer);
  EXPECT_EQ(conn->ServerName(), "Kvt.OtherServer");
  EXPECT_TRUE(conn->Connected());
  EXPECT_EQ(made_[kServer], 1);

  // Loading into a connected component keeps the connection.
  conn->BeginLoading();
  conn->SetServerGUID(GUIDToString(kNoProgID));
  conn->SetServerName("Not.Registered");
  EXPECT_TRUE(conn->Connected());
  EXPECT_EQ(conn->ServerGUIDValue(), kNoProgID);
  conn->Loaded();
  EXPECT_TRUE(conn->Connected());
}

using IsError = bool (*)(const std::exception&);
template <class E>
bool Is(const std::exception& e) {
  return dynamic_cast<const E*>(&e) != nullptr;
}

TEST_F(Connections, FailedConnectsRaiseAndLeaveNothingBehind) {
  ScopedComputer far("far");
  struct Case {
    const char* what;
    std::function<void(TKVTDCOMConnection&)> setup;
    IsError is;
    const char* message;
  };
  const Case cases[] = {
      {"neither identifier nor name", [](TKVTDCOMConnection&) {}, Is<EDatabaseError>,
       "Cannot connect, conn must contain a valid ServerName or ServerGUID"},
      {"name not registered", [](TKVTDCOMConnection& c) { c.SetServerName("Not.Registered"); },
       Is<EOleSysError>, "Invalid class string"},
      {"class not registered",
       [](TKVTDCOMConnection& c) { c.SetServerGUID(GUIDToString(kUnregistered)); },
       Is<EOleSysError>, "Class not registered"},
      {"object without IDispatch", [](TKVTDCOMConnection& c) { c.SetServerName("Kvt.Bare"); },
       Is<EIntfCastError>, "Interface not supported"},
      {"unknown computer",
       [](TKVTDCOMConnection& c) {
         c.SetServerName("Kvt.TestServer");
         c.SetComputerName("nowhere");
       },
       Is<EOleSysError>, "The RPC server is unavailable"},
      {"computer without the class",
       [](TKVTDCOMConnection& c) {
         c.SetServerName("Kvt.TestServer");
         c.SetComputerName("far");
       },
       Is<EOleSysError>, "Class not registered"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int64_t live = InterfacedObject::LiveObjects();
    auto conn = NewConnection();
    c.setup(*conn);
    for (int attempt = 0; attempt < 2; ++attempt) {
      try {
        if (attempt == 0)
          conn->Open();
        else
          conn->GetServer();
        ADD_FAILURE() << "the connect must fail";
      } catch (const std::exception& e) {
        EXPECT_TRUE(c.is(e)) << typeid(e).name();
        EXPECT_EQ(std::string(e.what()), c.message);
      }
      EXPECT_FALSE(conn->Connected());
      EXPECT_EQ(InterfacedObject::LiveObjects(), live) << "a refused object is released";
    }
  }
  EXPECT_EQ(made_[kBare], 2);
}

TEST_F(Connections, ComputerNameChoosesWhereTheServerIsMade) {
  ScopedLocalComputerName here("herebox");
  ScopedComputer far("far");
  int made_far = 0;
  far.Serve(kServer, [&] {
    ++made_far;
    return MakeObject<FakeDispServer>()->Unknown();
  });
  auto conn = NewConnection();
  conn->SetServerName("Kvt.TestServer");
  conn->SetComputerName("HEREBOX");  // this computer: made here as a local server
  conn->Open();
  EXPECT_EQ(made_[kServer], 1);
  conn->SetComputerName("HEREBOX");
  EXPECT_TRUE(conn->Connected()) << "the same name changes nothing";
  conn->SetComputerName("far");
  EXPECT_FALSE(conn->Connected());
  conn->Open();
  EXPECT_EQ(made_far, 1);
  EXPECT_EQ(made_[kServer], 1);
}

TEST_F(Connections, GetServerHandsOutIAppServerOrTheAdapter) {
  auto conn = NewConnection();
  conn->SetServerName("Kvt.Direct");
  ComPtr<IAppServer> direct = conn->GetServer();
  ASSERT_TRUE(direct);
  EXPECT_TRUE(conn->Connected()) << "GetServer connects";
  EXPECT_TRUE(SameObject(direct.Get(), conn->AppServer().ToUnknown().Get()));
  EXPECT_FALSE(direct.TryAs<ISupportErrorInfo>());
  direct.Reset();

  conn->SetServerName("Kvt.TestServer");
  ComPtr<IAppServer> adapter = conn->GetServer();
  ASSERT_TRUE(adapter);
  EXPECT_FALSE(SameObject(adapter.Get(), conn->AppServer().ToUnknown().Get()));
  ComPtr<ISupportErrorInfo> info = adapter.As<ISupportErrorInfo>();
  const std::pair<GUID, HRESULT> answers[] = {{IAppServer::iid, S_OK},
                                              {IDispatch::iid, S_FALSE},
                                              {ISupportErrorInfo::iid, S_FALSE},
                                              {IUnknown::iid, S_FALSE}};
  for (const auto& [iid, expected] : answers) {
    SCOPED_TRACE(GUIDToString(iid));
    EXPECT_EQ(info->InterfaceSupportsErrorInfo(iid), expected);
  }
  // The adapter keeps the server after the connection lets it go.
  conn->Close();
  EXPECT_EQ(FakeDispServer::alive, 1);
  Variant names;
  EXPECT_EQ(adapter->AS_GetProviderNames(&names), S_OK);
  info.Reset();
  adapter.Reset();
  EXPECT_EQ(FakeDispServer::alive, 0);
}

class Adapter : public Connections {
 protected:
  void SetUp() override {
    Connections::SetUp();
    server_ = MakeObject<FakeDispServer>();
    adapter_ = MakeObject<TKVTDispatchAppServer>(ComPtr<IDispatch>(server_.Get()));
  }
  void TearDown() override {
    adapter_.Reset();
    server_.Reset();
    Connections::TearDown();
  }
  ComPtr<FakeDispServer> server_;
  ComPtr<IAppServer> adapter_;
};

TEST_F(Adapter, EachMethodCallsItsDispatchIdentifierWithArgumentsInOrder) {
  using V = std::vector<Variant>;
  struct Case {
    const char* what;
    std::function<HRESULT(IAppServer&, Variant* result)> call;
    DISPID id;
    V args;
  };
  const Variant prov(u"prov"), own(u"own"), par(u"par");
  const Case cases[] = {
      {"ApplyUpdates",
       [](IAppServer& s, Variant* r) {
         int32_t errors = 0;
         Variant owner(u"own");
         return s.AS_ApplyUpdates(u"prov", Variant(u"delta"), 5, &errors, &owner, r);
       },
       20000000, V{prov, Variant(u"delta"), Variant(5), Variant(0), own}},
      {"GetRecords",
       [](IAppServer& s, Variant* r) {
         int32_t recs = 0;
         Variant params(u"par"), owner(u"own");
         return s.AS_GetRecords(u"prov", 10, &recs, 1, u"select 1", &params, &owner, r);
       },
       20000001, V{prov, Variant(10), Variant(0), Variant(1), Variant(u"select 1"), par, own}},
      {"DataRequest",
       [](IAppServer& s, Variant* r) { return s.AS_DataRequest(u"prov", Variant(u"data"), r); },
       20000002, V{prov, Variant(u"data")}},
      {"GetProviderNames", [](IAppServer& s, Variant* r) { return s.AS_GetProviderNames(r); },
       20000003, V{}},
      {"GetParams",
       [](IAppServer& s, Variant* r) {
         Variant owner(u"own");
         return s.AS_GetParams(u"prov", &owner, r);
       },
       20000004, V{prov, own}},
      {"RowRequest",
       [](IAppServer& s, Variant* r) {
         Variant owner(u"own");
         return s.AS_RowRequest(u"prov", Variant(u"row"), 3, &owner, r);
       },
       20000005, V{prov, Variant(u"row"), Variant(3), own}},
      {"Execute",
       [](IAppServer& s, Variant* r) {
         Variant params(u"par"), owner(u"own");
         *r = Variant(20000006);  // no result of its own
         return s.AS_Execute(u"prov", u"cmd", &params, &owner);
       },
       20000006, V{prov, Variant(u"cmd"), par, own}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    server_->calls.clear();
    Variant result(u"stale");
    EXPECT_EQ(c.call(*adapter_, &result), S_OK);
    ASSERT_EQ(server_->calls.size(), 1u);
    const FakeDispServer::Call& call = server_->calls[0];
    EXPECT_EQ(call.id, c.id);
    EXPECT_EQ(call.flags, DISPATCH_METHOD);
    EXPECT_EQ(call.named, 0u);
    EXPECT_EQ(call.args, c.args);
    EXPECT_EQ(result, Variant(c.id)) << "the server's answer is the result";
  }
}

TEST_F(Adapter, ByReferenceArgumentsComeBack) {
  server_->on_invoke = [](DISPID id, DISPPARAMS* p, Variant* result, EXCEPINFO*) {
    if (id == kDispApplyUpdates) {
      *DispatchArg(p, 3) = Variant(3);
      *DispatchArg(p, 4) = Variant(u"owner back");
    } else {
      *DispatchArg(p, 2) = Variant(42);
      *DispatchArg(p, 5) = Variant(u"params back");
      *DispatchArg(p, 6) = Variant(u"owner back");
    }
    *result = Variant(u"packet");
    return S_OK;
  };
  int32_t errors = -1;
  Variant owner(u"own"), result;
  ASSERT_EQ(adapter_->AS_ApplyUpdates(u"p", Variant(), 0, &errors, &owner, &result), S_OK);
  EXPECT_EQ(errors, 3);
  EXPECT_EQ(owner.ToWide(), WideString(u"owner back"));
  EXPECT_EQ(result.ToWide(), WideString(u"packet"));

  int32_t recs = 0;
  Variant params, owner2;
  ASSERT_EQ(adapter_->AS_GetRecords(u"p", -1, &recs, 0, u"", &params, &owner2, &result), S_OK);
  EXPECT_EQ(recs, 42);
  EXPECT_EQ(params.ToWide(), WideString(u"params back"));
  EXPECT_EQ(owner2.ToWide(), WideString(u"owner back"));
}

TEST_F(Adapter, ErrorsBecomeResultCodesWithErrorInformation) {
  server_->on_invoke = [](DISPID id, DISPPARAMS*, Variant*, EXCEPINFO* e) {
    if (id == kDispGetParams) return DISP_E_MEMBERNOTFOUND;
    e->bstrDescription = u"Провайдер не найден";
    e->bstrSource = u"server source";
    e->scode = E_FAIL;
    return DISP_E_EXCEPTION;
  };
  ClearErrorInfo();
  Variant result(u"stale");
  int32_t recs = 0;
  EXPECT_EQ(adapter_->AS_GetRecords(u"p", -1, &recs, 0, u"", nullptr, nullptr, &result), E_FAIL);
  EXPECT_TRUE(result.IsEmpty()) << "the result is emptied first";
  ErrorInfo info;
  ASSERT_TRUE(GetErrorInfo(&info));
  EXPECT_EQ(info.guid, IAppServer::iid);
  EXPECT_EQ(info.description, WideString(u"Провайдер не найден"));
  EXPECT_TRUE(info.source.empty());
  EXPECT_TRUE(info.help_file.empty());

  EXPECT_EQ(adapter_->AS_GetParams(u"p", nullptr, &result), DISP_E_MEMBERNOTFOUND);
  ASSERT_TRUE(GetErrorInfo(&info));
  EXPECT_EQ(info.description, WideString(u"Member not found"));
}

// The platform's login dialog for the scope of a test.
class LoginDialog {
 public:
  explicit LoginDialog(RemoteLoginHook hook) : saved_(SetRemoteLoginHook(std::move(hook))) {}
  ~LoginDialog() { SetRemoteLoginHook(std::move(saved_)); }

 private:
  RemoteLoginHook saved_;
};

TEST_F(Connections, LoginPromptAsksAroundTheConnect) {
  struct Case {
    const char* what;
    bool prompt, designing, install, accept;
    bool asked, connected, logged_in;
  };
  const Case cases[] = {
      {"declined: silent abort", true, false, true, false, true, false, false},
      {"accepted", true, false, true, true, true, true, true},
      {"no dialog installed", true, false, false, false, false, true, true},
      {"prompt off", false, false, true, false, false, true, false},
      {"design mode", true, true, true, false, false, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int asked = 0;
    std::string dialog_user;
    LoginDialog dialog(c.install ? RemoteLoginHook([&](std::string& user, std::string& password) {
      ++asked;
      dialog_user = user;
      user = "changed";
      password = "secret";
      return c.accept;
    })
                                 : RemoteLoginHook());
    auto conn = NewConnection();
    conn->SetServerName("Kvt.TestServer");
    conn->SetLoginPrompt(c.prompt);
    conn->SetDesigning(c.designing);
    conn->OnGetUsername = [](Component&, std::string& user) { user = "from event"; };
    std::vector<std::string> logins;
    conn->OnLogin = [&](Component& sender, const std::string& user, const std::string& password) {
      EXPECT_EQ(&sender, conn.get());
      logins.push_back(user + "/" + password);
    };
    if (c.connected)
      conn->Open();
    else
      EXPECT_THROW(conn->Open(), EAbort);
    EXPECT_EQ(conn->Connected(), c.connected);
    EXPECT_EQ(asked, c.asked ? 1 : 0);
    if (c.asked) {
      EXPECT_EQ(dialog_user, "from event");
    }
    if (c.logged_in) {
      EXPECT_EQ(logins, std::vector<std::string>{c.install ? "changed/secret" : "from event/"});
    } else {
      EXPECT_TRUE(logins.empty());
    }
  }
  EXPECT_EQ(made_[kServer], 4) << "a declined login makes no server";
}

class TestBroker : public TKVTCustomObjectBroker {
 public:
  using TKVTCustomObjectBroker::TKVTCustomObjectBroker;
  void ReportConnectResult(const std::string& computer, bool success) override {
    reports.emplace_back(computer, success);
  }
  std::string GetComputerForClass(const GUID& class_id) override {
    asked_for.push_back(class_id);
    if (next >= computers.size()) throw EDatabaseError("no computer left");
    return computers[next++];
  }
  std::string GetComputerForProgID(const std::string&) override { return {}; }
  int32_t GetPortForComputer(const std::string&) override { return 0; }

  std::vector<std::string> computers;
  size_t next = 0;
  std::vector<std::pair<std::string, bool>> reports;
  std::vector<GUID> asked_for;
};

TEST_F(Connections, BrokerLoopReportsEachFailureAndTriesTheNextComputer) {
  ScopedComputer down("down", false), far("far");
  far.Serve(kServer, [] { return MakeObject<FakeDispServer>()->Unknown(); });
  using Reports = std::vector<std::pair<std::string, bool>>;

  auto conn = NewConnection();
  conn->SetServerName("Kvt.TestServer");
  auto* broker = new TestBroker(conn.get());
  broker->computers = {"down", "nowhere", "far"};
  conn->SetObjectBroker(broker);
  conn->Open();
  EXPECT_TRUE(conn->Connected());
  EXPECT_EQ(broker->reports, (Reports{{"down", false}, {"nowhere", false}, {"far", true}}));
  EXPECT_EQ(broker->asked_for, std::vector<GUID>(3, kServer));
  EXPECT_EQ(conn->ComputerName(), "far");

  // A named computer is tried before the broker is asked; when the broker runs out, its
  // error ends the connect.
  conn->Close();
  conn->SetComputerName("down");
  broker->computers = {"nowhere"};
  broker->next = 0;
  broker->reports.clear();
  EXPECT_THROW(conn->Open(), EDatabaseError);
  EXPECT_FALSE(conn->Connected());
  EXPECT_EQ(broker->reports, (Reports{{"down", false}, {"nowhere", false}}));
  EXPECT_EQ(conn->ComputerName(), "");

  delete broker;
  EXPECT_EQ(conn->ObjectBroker(), nullptr) << "a freed broker is forgotten";
}

// A category manager that cannot enumerate.
class BrokenCategories : public Implements<ICatInformation> {
 public:
  HRESULT EnumCategories(LCID, IUnknown**) override { return E_NOTIMPL; }
  HRESULT GetCategoryDesc(const CATID&, LCID, char16_t**) override { return E_NOTIMPL; }
  HRESULT EnumClassesOfCategories(ULONG, const CATID*, ULONG, const CATID*,
                                  IEnumGUID** e) override {
    *e = nullptr;
    return E_ACCESSDENIED;
  }
  HRESULT IsClassOfCategories(const CLSID&, ULONG, const CATID*, ULONG, const CATID*) override {
    return E_NOTIMPL;
  }
  HRESULT EnumImplCategoriesOfClass(const CLSID&, IEnumGUID**) override { return E_NOTIMPL; }
  HRESULT EnumReqCategoriesOfClass(const CLSID&, IEnumGUID**) override { return E_NOTIMPL; }
};

// Puts the system's category manager back at the end of a scope.
struct RestoreCategoryManager {
  ~RestoreCategoryManager() {
    RegisterComClass({CLSID_StdComponentCategoriesMgr,
                      "",
                      CLSCTX_INPROC_SERVER,
                      CreateStdComponentCategoriesMgr,
                      {}});
  }
};

TEST_F(Connections, ServerListIsNullWithoutServersAndMarksInvalidRegistrations) {
  auto conn = NewConnection();
  Variant none = conn->GetServerList();
  EXPECT_TRUE(none.IsNull()) << "null, not an empty array";

  constexpr CLSID kListed = "{6F1D2A10-00A1-4A2B-9C3D-4E5F603182A1}"_guid;
  constexpr CLSID kUnnamed = "{6F1D2A10-00A2-4A2B-9C3D-4E5F603182A2}"_guid;
  ScopedComClass listed({kListed, "Kvt.Listed", CLSCTX_LOCAL_SERVER, {}, {CATID_KVTAppServers}});
  ScopedComClass unnamed({kUnnamed, "", CLSCTX_LOCAL_SERVER, {}, {CATID_KVTAppServers}});
  const std::string invalid = "<Invalid Registration: " + GUIDToString(kUnnamed) + ">";

  Variant list = conn->GetServerList();
  ASSERT_TRUE(list.IsArray());
  EXPECT_EQ(list.ArrayLow(), 0);
  EXPECT_EQ(list.ArrayElementType(), varOleStr);
  EXPECT_EQ(list, Variant::Array({Variant(u"Kvt.Listed"), Variant::Text(invalid)}, 0, varOleStr));

  // Without the category manager the registry is scanned: keys that are not GUID text are
  // listed as invalid, keys without the category are skipped.
  RestoreCategoryManager restore;
  UnregisterComClass(CLSID_StdComponentCategoriesMgr);
  const std::string category = GUIDToString(CATID_KVTAppServers);
  RegSetValue(HKEY_CLASSES_ROOT, ("CLSID\\not-a-guid\\Implemented Categories\\" + category).c_str(),
              "");
  StringList names{"old line"};
  ListRegisteredServers(names);
  RegDeleteTree(HKEY_CLASSES_ROOT, "CLSID\\not-a-guid");
  EXPECT_EQ(names.Lines(), (std::vector<std::string>{"<Invalid Registration: not-a-guid>",
                                                     "Kvt.Listed", invalid}));

  // A category manager that cannot enumerate: the COM error leaves.
  RegisterComClass({CLSID_StdComponentCategoriesMgr,
                    "",
                    CLSCTX_INPROC_SERVER,
                    [] { return ComPtr<IUnknown>(MakeObject<BrokenCategories>()); },
                    {}});
  try {
    conn->GetServerList();
    ADD_FAILURE() << "the enumeration failure must raise";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), E_ACCESSDENIED);
  }
}

TEST_F(Connections, DestroyingAConnectionDisconnectsIt) {
  auto owner = std::make_unique<Component>();
  auto* conn = new TKVTDCOMConnection(owner.get());
  conn->SetServerName("Kvt.TestServer");
  int after_disconnect = 0;
  conn->AfterDisconnect = [&](CustomConnection&) { ++after_disconnect; };
  conn->Open();
  EXPECT_EQ(FakeDispServer::alive, 1);
  owner.reset();
  EXPECT_EQ(FakeDispServer::alive, 0);
  EXPECT_EQ(after_disconnect, 1);
}

}  // namespace
