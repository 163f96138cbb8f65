// The COM stand-in: class table, ProgIDs and task memory, remote computers, the registry,
// the component category manager and late-bound calls.
#include "platform/com/activation.h"

#include <gtest/gtest.h>

#include <cstring>

#include "hostintf/kvt_serverintf.h"
#include "platform/com/comcat.h"
#include "platform/com/dispinvoke.h"
#include "platform/com/guid.h"
#include "platform/com/registry.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_dispserver.h"

namespace {

constexpr CLSID kInproc = "{5A0C1E70-1111-4C0D-9E6F-0A1B2C3D4E01}"_guid;
constexpr CLSID kLocal = "{5A0C1E70-2222-4C0D-9E6F-0A1B2C3D4E02}"_guid;
constexpr CLSID kEmpty = "{5A0C1E70-3333-4C0D-9E6F-0A1B2C3D4E03}"_guid;
constexpr CLSID kDenied = "{5A0C1E70-4444-4C0D-9E6F-0A1B2C3D4E04}"_guid;
constexpr CLSID kUnknown = "{5A0C1E70-5555-4C0D-9E6F-0A1B2C3D4E05}"_guid;
constexpr GUID kCategoryA = "{5A0C1E70-AAAA-4C0D-9E6F-0A1B2C3D4E0A}"_guid;
constexpr GUID kCategoryB = "{5A0C1E70-BBBB-4C0D-9E6F-0A1B2C3D4E0B}"_guid;

ComPtr<IUnknown> NewServer() {
  return MakeObject<FakeDispServer>()->Unknown();
}

class Activation : public testing::Test {
 protected:
  void SetUp() override {
    live_ = InterfacedObject::LiveObjects();
    task_ = CoTaskMemOutstanding();
    handles_ = RegOpenHandleCount();
  }
  void TearDown() override {
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
    EXPECT_EQ(CoTaskMemOutstanding(), task_) << "task memory not freed";
    EXPECT_EQ(RegOpenHandleCount(), handles_) << "registry handles left open";
  }
  int64_t live_ = 0, task_ = 0, handles_ = 0;
};

TEST_F(Activation, CoCreateInstanceFollowsTheClassTable) {
  ScopedComClass inproc({kInproc, "Test.Inproc", CLSCTX_INPROC_SERVER, NewServer, {}});
  ScopedComClass local({kLocal, "Test.Local", CLSCTX_LOCAL_SERVER, NewServer, {}});
  ScopedComClass empty({kEmpty, "", CLSCTX_INPROC_SERVER, [] { return ComPtr<IUnknown>(); }, {}});
  ScopedComClass denied({kDenied,
                         "",
                         CLSCTX_INPROC_SERVER,
                         []() -> ComPtr<IUnknown> { throw EOleSysError(E_ACCESSDENIED); },
                         {}});
  ComPtr<IUnknown> outer = NewServer();
  struct Case {
    const char* what;
    CLSID clsid;
    IUnknown* outer;
    DWORD context;
    IID iid;
    HRESULT expected;
  };
  const Case cases[] = {
      {"in-process class", kInproc, nullptr, CLSCTX_INPROC_SERVER, IDispatch::iid, S_OK},
      {"local server asked in-process", kLocal, nullptr, CLSCTX_INPROC_SERVER, IDispatch::iid,
       REGDB_E_CLASSNOTREG},
      {"local server asked widely", kLocal, nullptr, CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER,
       IUnknown::iid, S_OK},
      {"unknown class", kUnknown, nullptr, CLSCTX_SERVER, IUnknown::iid, REGDB_E_CLASSNOTREG},
      {"aggregation", kInproc, outer.Get(), CLSCTX_INPROC_SERVER, IUnknown::iid,
       CLASS_E_NOAGGREGATION},
      {"interface refused", kInproc, nullptr, CLSCTX_INPROC_SERVER, IKVTServer::iid, E_NOINTERFACE},
      {"factory made nothing", kEmpty, nullptr, CLSCTX_INPROC_SERVER, IUnknown::iid,
       CO_E_SERVER_EXEC_FAILURE},
      {"factory failed", kDenied, nullptr, CLSCTX_INPROC_SERVER, IUnknown::iid, E_ACCESSDENIED},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    int alive = FakeDispServer::alive;
    ComPtr<IUnknown> obj;
    EXPECT_EQ(CoCreateInstance(c.clsid, c.outer, c.context, c.iid, obj.PutVoid()), c.expected);
    EXPECT_EQ(static_cast<bool>(obj), SUCCEEDED(c.expected));
    obj.Reset();
    EXPECT_EQ(FakeDispServer::alive, alive) << "a refused object is released";
  }
  EXPECT_THROW(CreateComObject(kUnknown), EOleSysError);
}

TEST_F(Activation, ProgIDsComeFromTheRegistrationAndTaskMemoryIsCounted) {
  {
    ScopedComClass server({kInproc, "Test.Server.1", CLSCTX_INPROC_SERVER, NewServer, {}});
    CLSID found{};
    ASSERT_EQ(CLSIDFromProgID(u"test.server.1", &found), S_OK) << "ProgIDs ignore case";
    EXPECT_EQ(found, kInproc);

    char16_t* prog_id = nullptr;
    int64_t before = CoTaskMemOutstanding();
    ASSERT_EQ(ProgIDFromCLSID(kInproc, &prog_id), S_OK);
    EXPECT_EQ(CoTaskMemOutstanding(), before + 1);
    EXPECT_EQ(std::u16string(prog_id), u"Test.Server.1");
    CoTaskMemFree(prog_id);
    EXPECT_EQ(CoTaskMemOutstanding(), before);
  }
  // Unregistered: both lookups fail and nothing is allocated.
  CLSID found = kLocal;
  EXPECT_EQ(CLSIDFromProgID(u"Test.Server.1", &found), CO_E_CLASSSTRING);
  EXPECT_TRUE(found.IsNull());
  EXPECT_EQ(CLSIDFromProgID(u"CLSID", &found), CO_E_CLASSSTRING);
  char16_t stale[] = u"stale";
  char16_t* prog_id = stale;
  EXPECT_EQ(ProgIDFromCLSID(kInproc, &prog_id), REGDB_E_CLASSNOTREG);
  EXPECT_EQ(prog_id, nullptr);
}

TEST_F(Activation, RemoteActivationReachesOnlyKnownReachableComputers) {
  ScopedLocalComputerName here("HereBox");
  ScopedComClass local({kLocal, "", CLSCTX_LOCAL_SERVER, NewServer, {}});
  ScopedComputer far("far"), down("down", false), bare("bare");
  int far_made = 0;
  far.Serve(kInproc, [&] {
    ++far_made;
    return NewServer();
  });
  down.Serve(kInproc, NewServer);
  struct Case {
    const char16_t* computer;
    CLSID clsid;
    HRESULT expected;
  };
  const Case cases[] = {
      {nullptr, kLocal, S_OK},     // no name: here, widened to local servers
      {u"", kLocal, S_OK},         // empty name: the same
      {u"herebox", kLocal, S_OK},  // this computer's own name, in any case
      {u"FAR", kInproc, S_OK},     // a reachable computer serving the class
      {u"far", kLocal, REGDB_E_CLASSNOTREG},
      {u"bare", kInproc, REGDB_E_CLASSNOTREG},
      {u"down", kInproc, RPC_E_SERVER_UNAVAILABLE},
      {u"nowhere", kInproc, RPC_E_SERVER_UNAVAILABLE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.computer ? std::string(WideString(c.computer).ToUtf8()) : "(null)");
    COSERVERINFO info;
    info.pwszName = c.computer;
    MULTI_QI qi[2];
    qi[0].pIID = &IDispatch::iid;
    qi[1].pIID = &IKVTServer::iid;
    HRESULT hr = CoCreateInstanceEx(c.clsid, nullptr, CLSCTX_REMOTE_SERVER, &info, 2, qi);
    if (c.expected == S_OK) {
      EXPECT_EQ(hr, CO_S_NOTALLINTERFACES);
      EXPECT_EQ(qi[0].hr, S_OK);
      EXPECT_EQ(qi[1].hr, E_NOINTERFACE);
      ASSERT_NE(qi[0].pItf, nullptr);
      ComPtr<IUnknown>::Adopt(qi[0].pItf);  // the answered reference, released here
    } else {
      EXPECT_EQ(hr, c.expected);
      EXPECT_EQ(qi[0].pItf, nullptr);
    }
  }
  EXPECT_EQ(far_made, 1);
  SetComputerReachable("down", true);
  EXPECT_TRUE(CreateRemoteComObject(u"down", kInproc));
  EXPECT_TRUE(CreateRemoteComObject(u"HEREBOX", kLocal));
  try {
    CreateRemoteComObject(u"nowhere", kInproc);
    ADD_FAILURE() << "an unknown computer must fail";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), RPC_E_SERVER_UNAVAILABLE);
    EXPECT_EQ(e.Message(), "The RPC server is unavailable");
  }
}

TEST_F(Activation, RegistryOpensEnumeratesQueriesAndCloses) {
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "KvtTestRoot\\b", "bee"), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, "KvtTestRoot\\A\\deep", ""), ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, ("KvtTestRoot\\" + std::string(255, 'z')).c_str(), ""),
            ERROR_SUCCESS);
  ASSERT_EQ(RegSetValue(HKEY_CLASSES_ROOT, ("KvtTestRoot\\" + std::string(256, 'z')).c_str(), ""),
            ERROR_SUCCESS);
  HKEY key = nullptr;
  ASSERT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "kvttestroot", &key), ERROR_SUCCESS);
  char name[256];
  std::vector<std::string> names;
  LONG rc;
  DWORD index = 0;
  while ((rc = RegEnumKey(key, index, name, sizeof name)) == ERROR_SUCCESS) {
    names.emplace_back(name);
    ++index;
  }
  EXPECT_EQ(rc, ERROR_MORE_DATA) << "a 256-character name does not fit 256 bytes";
  EXPECT_EQ(names, (std::vector<std::string>{"A", "b", std::string(255, 'z')}));

  char value[8];
  LONG size = sizeof value;
  EXPECT_EQ(RegQueryValue(key, "B", value, &size), ERROR_SUCCESS);
  EXPECT_STREQ(value, "bee");
  EXPECT_EQ(size, 4);
  size = 2;
  EXPECT_EQ(RegQueryValue(key, "b", value, &size), ERROR_MORE_DATA);
  EXPECT_EQ(size, 4);
  EXPECT_EQ(RegQueryValue(key, "a\\deep", nullptr, &size), ERROR_SUCCESS);
  EXPECT_EQ(RegQueryValue(key, "a\\shallow", nullptr, &size), ERROR_FILE_NOT_FOUND);

  // Deleting an open key leaves the handle usable on the detached keys.
  ASSERT_EQ(RegDeleteTree(HKEY_CLASSES_ROOT, "KvtTestRoot"), ERROR_SUCCESS);
  EXPECT_EQ(RegEnumKey(key, 0, name, sizeof name), ERROR_SUCCESS);
  HKEY again = nullptr;
  EXPECT_EQ(RegOpenKey(HKEY_CLASSES_ROOT, "KvtTestRoot", &again), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(again, nullptr);
  EXPECT_EQ(RegCloseKey(key), ERROR_SUCCESS);
  EXPECT_EQ(RegCloseKey(key), ERROR_INVALID_HANDLE);
  EXPECT_EQ(RegEnumKey(key, 0, name, sizeof name), ERROR_INVALID_HANDLE);
}

TEST_F(Activation, ClassRegistrationWritesItsKeys) {
  {
    ScopedComClass server({kLocal, "Test.Keys", CLSCTX_LOCAL_SERVER, NewServer, {kCategoryA}});
    const std::string key = "CLSID\\" + GUIDToString(kLocal);
    for (const std::string& sub : {key, key + "\\ProgID", key + "\\LocalServer32",
                                   key + "\\Implemented Categories\\" + GUIDToString(kCategoryA),
                                   std::string("Test.Keys\\CLSID")}) {
      SCOPED_TRACE(sub);
      LONG size = 0;
      EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, sub.c_str(), nullptr, &size), ERROR_SUCCESS);
    }
  }
  LONG size = 0;
  EXPECT_EQ(
      RegQueryValue(HKEY_CLASSES_ROOT, ("CLSID\\" + GUIDToString(kLocal)).c_str(), nullptr, &size),
      ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(RegQueryValue(HKEY_CLASSES_ROOT, "Test.Keys", nullptr, &size), ERROR_FILE_NOT_FOUND);
}

TEST_F(Activation, CategoryManagerEnumeratesClassesOneAtATime) {
  ScopedComClass a({kInproc, "Test.A", CLSCTX_INPROC_SERVER, NewServer, {kCategoryA}});
  ScopedComClass ab({kLocal, "Test.AB", CLSCTX_LOCAL_SERVER, NewServer, {kCategoryA, kCategoryB}});
  ScopedComClass b({kEmpty, "Test.B", CLSCTX_INPROC_SERVER, NewServer, {kCategoryB}});
  // kLocal requires kCategoryB of its users.
  RegSetValue(
      HKEY_CLASSES_ROOT,
      ("CLSID\\" + GUIDToString(kLocal) + "\\Required Categories\\" + GUIDToString(kCategoryB))
          .c_str(),
      "");

  ComPtr<ICatInformation> cats;
  ASSERT_EQ(CoCreateInstance(CLSID_StdComponentCategoriesMgr, nullptr, CLSCTX_INPROC_SERVER,
                             ICatInformation::iid, cats.PutVoid()),
            S_OK);
  auto classes_of = [&](ULONG nreq, const CATID* req) {
    ComPtr<IEnumGUID> e;
    EXPECT_EQ(cats->EnumClassesOfCategories(1, &kCategoryA, nreq, req, e.Put()), S_OK);
    std::vector<GUID> out;
    GUID g;
    ULONG fetched = 99;
    HRESULT hr;
    while ((hr = e->Next(1, &g, &fetched)) == S_OK) {
      EXPECT_EQ(fetched, 1u);
      out.push_back(g);
    }
    EXPECT_EQ(hr, S_FALSE);
    EXPECT_EQ(fetched, 0u);
    return out;
  };
  std::vector<GUID> all = classes_of(static_cast<ULONG>(-1), nullptr);
  EXPECT_EQ(all, (std::vector<GUID>{kInproc, kLocal}));  // registry order: by key name
  EXPECT_EQ(classes_of(0, nullptr), (std::vector<GUID>{kInproc}));
  EXPECT_EQ(classes_of(1, &kCategoryB), (std::vector<GUID>{kInproc, kLocal}));
  EXPECT_EQ(cats->IsClassOfCategories(kEmpty, 1, &kCategoryA, static_cast<ULONG>(-1), nullptr),
            S_FALSE);
}

TEST_F(Activation, DispatchMethodPassesArgumentsInComOrderAndWritesBack) {
  ComPtr<FakeDispServer> server = MakeObject<FakeDispServer>();
  std::vector<std::u16string> order;
  server->on_invoke = [&](DISPID, DISPPARAMS* p, Variant* result, EXCEPINFO*) {
    // rgvarg[0] is the last argument.
    for (uint32_t i = 0; i < p->cArgs; ++i) order.push_back(p->rgvarg[i].Deref().ToWide().str());
    *DispatchArg(p, 1) = Variant(u"written");
    EXPECT_EQ(DispatchArg(p, 3), nullptr);
    *result = Variant(int32_t{7});
    return S_OK;
  };
  Variant target(u"before");
  Variant result = DispatchMethod(server.Get(), 42,
                                  {Variant(u"first"), Variant::ByRef(&target), Variant(u"last")});
  EXPECT_EQ(result.ToInt32(), 7);
  EXPECT_EQ(order, (std::vector<std::u16string>{u"last", u"before", u"first"}));
  EXPECT_EQ(target.ToWide(), WideString(u"written"));
  ASSERT_EQ(server->calls.size(), 1u);
  EXPECT_EQ(server->calls[0].id, 42);
  EXPECT_EQ(server->calls[0].flags, DISPATCH_METHOD);
  EXPECT_EQ(server->calls[0].named, 0u);

  server->on_invoke = [](DISPID id, DISPPARAMS*, Variant*, EXCEPINFO* e) {
    if (id == 1) return DISP_E_MEMBERNOTFOUND;
    e->bstrDescription = u"Провайдер не найден";
    e->bstrSource = u"srv";
    e->scode = E_FAIL;
    return DISP_E_EXCEPTION;
  };
  try {
    DispatchMethod(server.Get(), 2, {});
    ADD_FAILURE();
  } catch (const EOleException& e) {
    EXPECT_EQ(e.ErrorCode(), E_FAIL);
    EXPECT_EQ(e.Message(), "Провайдер не найден");
    EXPECT_EQ(e.Source(), "srv");
  }
  try {
    DispatchMethod(server.Get(), 1, {});
    ADD_FAILURE();
  } catch (const EOleException&) {
    ADD_FAILURE() << "no exception information without DISP_E_EXCEPTION";
  } catch (const EOleSysError& e) {
    EXPECT_EQ(e.ErrorCode(), DISP_E_MEMBERNOTFOUND);
  }
}

}  // namespace
