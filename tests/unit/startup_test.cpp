// The module's start-up and unload order, in process: a real interpreter, the FakeHost
// behind an exported Server_QueryInterface, and a hook that fails any start-up step.
#include "core/startup.h"

#include <gtest/gtest.h>

#include "core/vodar_managerintf.h"
#include "dataaccess/kvt_event.h"
#include "platform/com/object.h"
#include "platform/python/pyembed.h"
#include "platform/rtl/exceptions.h"
#include "register/vodar_data.h"
#include "tests/fakes/embedded_python.h"
#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_server_export.h"

namespace {

// A counted object standing in for the manager that step 9 hands to the host.
struct IFakeManager : IUnknown {
  static constexpr GUID iid = "{5B0E7C2A-3D41-4F6E-9A10-2C7B8D9E0F11}"_guid;

 protected:
  ~IFakeManager() = default;
};
class FakeManager : public Implements<IFakeManager> {};

class StartupTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsurePython();
    live_ = InterfacedObject::LiveObjects();
    host_ = MakeObject<FakeHost>();
    FakeServerExport::Answer(host_->Server());
    Startup().create_manager = [this] {
      ++managers_made_;
      return ComPtr<IUnknown>(MakeObject<FakeManager>());
    };
  }
  void TearDown() override {
    UnloadModule();
    Startup() = StartupHooks();
    FakeServerExport::Reset();
    host_->ReleaseAll();
    host_ = nullptr;
    EXPECT_EQ(RunPython("import sys; sys.modules.pop('dudoreri', None)"), "");
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  }
  // Whether the interpreter holds the module object "dudoreri".
  static bool ModuleObjectExists() {
    return RunPython("import sys; assert 'dudoreri' in sys.modules") == "";
  }

  int64_t live_ = 0;
  ComPtr<FakeHost> host_;
  int managers_made_ = 0;
};

TEST_F(StartupTest, AttachesToTheHostAndTheRunningInterpreter) {
  StartModule();
  ASSERT_EQ(FakeServerExport::Calls().size(), 1u);
  EXPECT_EQ(FakeServerExport::Calls()[0], IKVTServer::iid);
  EXPECT_TRUE(SameObject(HostServer.Get(), host_->Server().Get()));
  EXPECT_TRUE(ModuleCreatedEngine());
  ASSERT_NE(FindPythonEngine(), nullptr);
  EXPECT_TRUE(FindPythonEngine()->IsLoaded());
  EXPECT_NE(dm, nullptr);
  ASSERT_EQ(host_->services.size(), 1u);
  EXPECT_TRUE(host_->services[0].TryAs<IFakeManager>());
  EXPECT_EQ(RunPython(R"(
import dudoreri
assert dudoreri.host_attached() is True
assert sorted(n for n in dir(dudoreri) if not n.startswith('_')) == [
    'Error', 'check_code', 'check_omit', 'host_attached', 'module_info', 'show_code']
)"),
            "");

  StartModule();  // a second call changes nothing
  EXPECT_EQ(FakeServerExport::Calls().size(), 1u);

  UnloadModule();
  EXPECT_FALSE(HostServer);
  EXPECT_EQ(dm, nullptr);
  EXPECT_EQ(FindPythonEngine(), nullptr) << "the engine start-up created is freed";
  EXPECT_TRUE(PythonRunning()) << "without finalising the interpreter";
  // The interpreter still holds the module object; its functions now fail cleanly.
  EXPECT_EQ(RunPython(R"(
import dudoreri
try:
    dudoreri.host_attached()
    raise AssertionError('no error')
except RuntimeError as e:
    assert str(e) == 'dudoreri.host_attached is no longer available', str(e)
)"),
            "");
}

TEST_F(StartupTest, AFailingStepEndsStartUpSilentlyThere) {
  for (int failing = 1; failing <= 9; ++failing) {
    SCOPED_TRACE("failing step " + std::to_string(failing));
    Startup().before_step = [failing](int step) {
      if (step == failing) throw EInvalidOperation("injected");
    };
    testing::internal::CaptureStderr();
    StartModule();
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "") << "nothing is reported";
    EXPECT_EQ(ModuleComponent() != nullptr, failing > 1);
    EXPECT_EQ(static_cast<bool>(HostServer), failing > 2);
    EXPECT_EQ(FindPythonEngine() != nullptr, failing > 3);
    EXPECT_EQ(ModuleObjectExists(), failing > 6) << "the import fails before step 6 ends";
    EXPECT_EQ(dm != nullptr, failing > 7);
    EXPECT_EQ(managers_made_, 0);
    EXPECT_TRUE(host_->services.empty()) << "no manager is registered";

    UnloadModule();
    EXPECT_FALSE(HostServer);
    EXPECT_EQ(dm, nullptr);
    EXPECT_EQ(FindPythonEngine(), nullptr);
    EXPECT_EQ(RunPython("import sys; sys.modules.pop('dudoreri', None)"), "");
  }
}

TEST_F(StartupTest, StepEightRunsTheModuleInformationHookBeforeTheManager) {
  std::vector<std::string> order;
  Startup().create_module_info = [&] { order.push_back("module info"); };
  Startup().create_manager = [&] {
    order.push_back("manager");
    return ComPtr<IUnknown>(MakeObject<FakeManager>());
  };
  StartModule();
  EXPECT_EQ(order, (std::vector<std::string>{"module info", "manager"}));
  ASSERT_FALSE(host_->calls.empty());
  EXPECT_EQ(host_->calls.back(), "RegisterService");
  EXPECT_EQ(host_->services.size(), 1u);
}

// The real steps: the data module declares the register, the module-information object
// registers itself, and the host receives a register manager; the Python functions answer
// through them.
TEST_F(StartupTest, TheRealStepsHandTheRegisterAndItsManagerToTheHost) {
  Startup() = DefaultStartupHooks();
  StartModule();
  ASSERT_EQ(host_->services.size(), 1u);
  ComPtr<IVodarManager> manager = host_->services[0].TryAs<IVodarManager>();
  ASSERT_TRUE(manager);
  EXPECT_EQ(host_->registered_modules.size(), 1u);
  EXPECT_EQ(host_->tables.size(), 4u);
  // This host has no database manager: the module's version falls back, a check fails with
  // the connection's error as dudoreri.Error, and showing does nothing without the host's
  // package.
  EXPECT_EQ(RunPython(R"(
import dudoreri
info = dudoreri.module_info()
assert info == {'name': 'VODAR', 'caption': 'Объекты интеллектуальной собственности',
                'version': '1.0.0.0'}, info
for call in (dudoreri.check_code, dudoreri.check_omit):
    try:
        call('8517')
        raise AssertionError('no error')
    except dudoreri.Error as e:
        assert str(e), 'a message'
assert dudoreri.show_code('8517') is None
)"),
            "");
  bool found = true;
  EXPECT_ANY_THROW(manager->CheckCode(u"8517", &found));
  EXPECT_FALSE(found);
  EXPECT_EQ(manager->ShowCode(u"8517"), S_OK);

  UnloadModule();
  // The host may keep the manager past unload: it then fails cleanly.
  EXPECT_THROW(manager->CheckCode(u"8517", &found), EInvalidOperation);
  manager = nullptr;
}

// A host that answers Server_QueryInterface without a server: start-up completes, detached.
TEST_F(StartupTest, AHostWithoutServerLeavesTheModuleDetached) {
  const struct {
    const char* name;
    void (*answer)();
  } cases[] = {
      {"failure", [] { FakeServerExport::Fail(E_FAIL); }},
      {"empty object", [] { FakeServerExport::Empty(); }},
      {"no IKVTServer", [] { FakeServerExport::Answer(MakeObject<FakeManager>()); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    c.answer();
    StartModule();
    EXPECT_EQ(FakeServerExport::Calls().size(), 1u);
    EXPECT_FALSE(HostServer);
    EXPECT_NE(dm, nullptr);
    EXPECT_EQ(managers_made_, 0) << "the manager is made only for a host server";
    EXPECT_EQ(RunPython("import dudoreri; assert dudoreri.host_attached() is False"), "");
    UnloadModule();
    EXPECT_EQ(RunPython("import sys; sys.modules.pop('dudoreri', None)"), "");
  }
}

TEST_F(StartupTest, AnEngineTheLibraryHoldsAlreadyIsUsedAndLeftAlone) {
  PythonEngine engine;
  engine.LoadDll();
  StartModule();
  EXPECT_FALSE(ModuleCreatedEngine());
  EXPECT_TRUE(ModuleObjectExists());
  UnloadModule();
  EXPECT_EQ(FindPythonEngine(), &engine);
}

TEST_F(StartupTest, AnEngineThatIsNotBoundFailsStepThree) {
  PythonEngine engine;  // never bound
  StartModule();
  EXPECT_TRUE(HostServer) << "steps 1 and 2 ran";
  EXPECT_FALSE(ModuleObjectExists());
  EXPECT_EQ(dm, nullptr);
  UnloadModule();
  EXPECT_EQ(FindPythonEngine(), &engine);
}

}  // namespace
