// The register manager in process: a real interpreter bound through the module's engine, a
// data module over a fake host's checks, and stand-ins for the host's Python package.
#include "core/vodar_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "dataaccess/kvt_event.h"
#include "platform/python/pyembed.h"
#include "platform/rtl/exceptions.h"
#include "register/vodar_data.h"
#include "tests/fakes/counting.h"
#include "tests/fakes/embedded_python.h"
#include "tests/fakes/fake_register.h"

namespace {

// Files stand-ins for the host's package in sys.modules: "qor.modules.vodar" and its
// "manager", whose showcode records its arguments in manager.calls.
const char kInstallPackage[] = R"(
import sys, types
for name in ('qor', 'qor.modules', 'qor.modules.vodar', 'qor.modules.vodar.manager'):
    sys.modules[name] = types.ModuleType(name)
manager = sys.modules['qor.modules.vodar.manager']
manager.calls = []
manager.showcode = lambda code, now, omitted: manager.calls.append((code, now, omitted))
)";

const char kRemovePackage[] = R"(
import sys
for name in ('qor', 'qor.modules', 'qor.modules.vodar', 'qor.modules.vodar.manager'):
    sys.modules.pop(name, None)
)";

class ManagerTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsurePython();
    engine_ = std::make_unique<PythonEngine>();
    engine_->LoadDll();
    HostServer = register_.host->Server();
    dm = DataModule::Create<Tdm>();
    ASSERT_EQ(RunPython(kInstallPackage), "");
  }
  void TearDown() override {
    EXPECT_EQ(RunPython(kRemovePackage), "");
    delete std::exchange(dm, nullptr);
    HostServer = nullptr;
    engine_.reset();
  }

  // Runs ShowCode on a thread of its own, which does not hold the interpreter lock (as a
  // host thread calling in would not); answers the error's message, "" on success.
  std::string ShowCodeOnAnotherThread(const std::u16string& code) {
    std::string error;
    std::thread caller([&] {
      try {
        EXPECT_EQ(manager_->ShowCode(WideString(code)), S_OK);
      } catch (...) {
        error = ExceptionMessage(std::current_exception());
      }
    });
    caller.join();
    return error;
  }

  LiveObjectsCheck live_;
  FakeRegisterHost register_;
  std::unique_ptr<PythonEngine> engine_;
  ComPtr<TVodarManager> manager_ = MakeObject<TVodarManager>();
};

TEST_F(ManagerTest, CheckCodeAnswersTheRegistersCombinedCheck) {
  const struct {
    bool in_register, in_omit, found;
  } cases[] = {{false, false, false}, {true, false, true}, {false, true, true}};
  for (const auto& c : cases) {
    register_.manager->register_match = c.in_register;
    register_.manager->omit_match = c.in_omit;
    bool found = !c.found;
    EXPECT_EQ(manager_->CheckCode(u"8517120000", &found), S_OK);
    EXPECT_EQ(found, c.found);
  }
  EXPECT_EQ(manager_->CheckCode(u"8517", nullptr), E_POINTER);
}

TEST_F(ManagerTest, ShowCodePassesTheCodeTheMomentAndTheExceptionListAnswer) {
  for (bool omitted : {true, false}) {
    SCOPED_TRACE(omitted);
    register_.manager->omit_match = omitted;
    register_.manager->register_match = true;  // not consulted
    register_.manager->calls.clear();
    ASSERT_EQ(ShowCodeOnAnotherThread(u"8517 Ж"), "");
    ASSERT_EQ(register_.manager->calls.size(), 1u) << "only the exception list is asked";
    EXPECT_NE(register_.manager->calls[0].sql.ToUtf8().find("FROM omit1532"), std::string::npos);
    EXPECT_EQ(RunPython(std::string(R"(
import datetime, sys
calls = sys.modules['qor.modules.vodar.manager'].calls
assert len(calls) == 1, calls
code, now, omitted = calls.pop()
assert type(code) is str and code == '8517 Ж', repr(code)
assert type(now) is datetime.datetime, repr(now)
assert abs((datetime.datetime.now() - now).total_seconds()) < 60, now
assert omitted is )") + (omitted ? "True" : "False") +
                        ", omitted\n"),
              "");
  }
}

TEST_F(ManagerTest, ShowCodeDoesNothingWhileTheHostPackageIsNotLoaded) {
  const char* const cases[] = {
      "import sys; del sys.modules['qor.modules.vodar']",
      "import sys; sys.modules['qor.modules.vodar'] = None",
  };
  for (const char* setup : cases) {
    SCOPED_TRACE(setup);
    ASSERT_EQ(RunPython(kInstallPackage), "");
    ASSERT_EQ(RunPython(setup), "");
    EXPECT_FALSE(TVodarManager::IsModuleLoaded("qor.modules.vodar"));
    EXPECT_EQ(ShowCodeOnAnotherThread(u"8517"), "");
    EXPECT_TRUE(register_.manager->calls.empty()) << "no query runs";
    EXPECT_EQ(RunPython("import sys\n"
                        "assert sys.modules['qor.modules.vodar.manager'].calls == []\n"),
              "");
  }
  EXPECT_TRUE(TVodarManager::IsModuleLoaded("sys"));
}

TEST_F(ManagerTest, ErrorsOfThePackageReachTheCallerWithTheInterpretersMessage) {
  const struct {
    const char* setup;
    const char* message;
  } cases[] = {
      {"import sys; del sys.modules['qor.modules.vodar.manager'].showcode",
       "AttributeError: module 'qor.modules.vodar.manager' has no attribute 'showcode'"},
      {"import sys\n"
       "def fail(code, now, omitted): raise ValueError('cannot show ' + code)\n"
       "sys.modules['qor.modules.vodar.manager'].showcode = fail\n",
       "ValueError: cannot show 8517"},
      {"import sys; sys.modules['qor.modules.vodar.manager'].showcode = lambda code: None",
       "TypeError: <lambda>() takes 1 positional argument but 3 were given"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.setup);
    ASSERT_EQ(RunPython(kInstallPackage), "");
    ASSERT_EQ(RunPython(c.setup), "");
    EXPECT_EQ(ShowCodeOnAnotherThread(u"8517"), c.message);
  }
}

TEST_F(ManagerTest, ADatabaseErrorOfTheCheckReachesTheCallerBeforeShowcodeRuns) {
  register_.manager->error = "no such table: omit1532";
  EXPECT_EQ(ShowCodeOnAnotherThread(u"8517"), "no such table: omit1532");
  EXPECT_EQ(RunPython("import sys\n"
                      "assert sys.modules['qor.modules.vodar.manager'].calls == []\n"),
            "");
}

TEST_F(ManagerTest, WithoutTheRegisterTheOperationsFailCleanly) {
  delete std::exchange(dm, nullptr);  // the module was unloaded; the host kept the manager
  bool found = true;
  EXPECT_THROW(manager_->CheckCode(u"8517", &found), EInvalidOperation);
  EXPECT_FALSE(found);
  EXPECT_EQ(ShowCodeOnAnotherThread(u"8517"), "The register is not available");
}

}  // namespace
