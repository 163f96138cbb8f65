// Fault injection at the host boundary: every host call the module makes on a path fails in
// turn, in each of the four ways a host can fail (tests/fakes/fault_host.h). Each run must
// end the way the module promises (an error reaching the caller, a step skipped, start-up
// stopped silently), without a crash, and with every counted object released once the host
// lets go.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <iostream>
#include <set>
#include <string>
#include <vector>

#include "core/startup.h"
#include "core/vodar_managerintf.h"
#include "dataaccess/kvt_event.h"
#include "moduleinfo/kvt_ModuleInfoImpl.h"
#include "platform/com/object.h"
#include "platform/rtl/application.h"
#include "platform/rtl/exceptions.h"
#include "register/vodar_data.h"
#include "tests/fakes/embedded_python.h"
#include "tests/fakes/fake_server_export.h"
#include "tests/fakes/fault_host.h"

namespace {

const std::u16string kFallbackVersion = u"1.0.0.0";
const std::u16string kNoVersion = u"Версия не установлена";

bool Starts(const std::string& s, std::string_view prefix) {
  return s.rfind(prefix, 0) == 0;
}

class FaultInjectionTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsurePython();
    live_ = InterfacedObject::LiveObjects();
    saved_handler_ = Application::SetExceptionHandler(
        [this](const std::exception_ptr& e) { shown_.push_back(ExceptionMessage(e)); });
  }
  void TearDown() override {
    Application::SetExceptionHandler(saved_handler_);
    Startup().before_step = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  }

  // Starts the module against `world` (the plan counting, not failing, unless armed).
  void Start(FaultWorld& world) {
    FakeServerExport::Answer(world.host->Server());
    StartModule();
  }
  // Unloads the module, lets the host go and checks that nothing counted is left.
  void Stop(FaultWorld& world) {
    UnloadModule();
    FakeServerExport::Reset();
    world.host->ReleaseAll();
    EXPECT_EQ(RunPython("import sys; sys.modules.pop('dudoreri', None)"), "");
  }

  // Runs `one_run(n, fault)` for every call N of a clean run of the path and every kind of
  // fault; `calls` counts the host calls of the path in a clean run (`clean_run`).
  // Answers that number, and reports it.
  int ForEachFault(const char* path, const std::function<int()>& clean_run,
                   const std::function<void(int, Fault)>& one_run) {
    const int calls = clean_run();
    EXPECT_GT(calls, 0) << path << " makes no host call";
    for (Fault fault : kAllFaults)
      for (int n = 1; n <= calls; ++n) {
        SCOPED_TRACE(std::string(path) + ": call " + std::to_string(n) + " fails (" +
                     FaultName(fault) + ")");
        one_run(n, fault);
        if (HasFatalFailure()) return calls;
      }
    std::cout << "[ faults   ] " << path << ": " << calls << " host calls x 4 kinds of fault\n";
    RecordProperty(path, calls);
    return calls;
  }

  int64_t live_ = 0;
  Application::Handler saved_handler_;
  std::vector<std::string> shown_;  // what reached the application's exception handler
};

// --- Start-up with every host service

TEST_F(FaultInjectionTest, StartUp) {
  // Which start-up step is running (the plan's calls are attributed to it).
  int step = 0;
  std::vector<int> steps_of_calls;
  Startup().before_step = [&](int s) { step = s; };
  const bool makes_manager = static_cast<bool>(Startup().create_manager);

  auto clean = [&] {
    FaultWorld world;
    world.plan->Disarm();
    shown_.clear();
    Start(world);
    EXPECT_TRUE(shown_.empty());
    EXPECT_EQ(world.host->registered_modules.size(), 1u);
    const int calls = world.plan->Calls();
    Stop(world);
    return calls;
  };

  ForEachFault("start-up", clean, [&](int n, Fault fault) {
    shown_.clear();
    int failed_step = 0;
    {
      FaultWorld world;
      world.plan->Arm(n, fault);
      world.plan->on_fire = [&] { failed_step = step; };
      Start(world);
      EXPECT_TRUE(world.plan->Fired());
      const std::string& call = world.plan->FailedCall();
      SCOPED_TRACE("failed call: " + call + " in step " + std::to_string(failed_step));
      const bool raised = fault == Fault::kRaise && !Starts(call, "QueryInterface");

      // Only the data module's set-up hands its error to the application's handler; a
      // host that refuses or answers nothing is not an error anywhere.
      if (raised && failed_step == 7) {
        EXPECT_EQ(shown_, std::vector<std::string>{"the host failed in " + call});
      } else {
        EXPECT_TRUE(shown_.empty()) << (shown_.empty() ? "" : shown_[0]);
      }
      // A failed Server_QueryInterface leaves the module detached; otherwise it is attached.
      const bool attached = !(failed_step == 2);
      EXPECT_EQ(static_cast<bool>(HostServer), attached);
      // The module object always exists: no host call comes before step 6 but step 2's.
      EXPECT_EQ(RunPython("import dudoreri"), "");
      // The module information registers itself unless that very call failed or start-up
      // ended before it.
      const bool info_expected =
          attached && call != "QueryInterface IModuleRegistrar" && call != "RegisterModule";
      EXPECT_EQ(world.host->registered_modules.size(), info_expected ? 1u : 0u);
      // The manager is handed over last: not when start-up ended before step 9 on an
      // error, nor when the hand-over itself failed.
      const bool manager_expected =
          makes_manager && attached && !(raised && failed_step >= 8) && call != "RegisterService";
      EXPECT_EQ(world.host->services.size(), manager_expected ? 1u : 0u);
      Stop(world);
    }
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  });
}

// --- Module information

TEST_F(FaultInjectionTest, ModuleInformation) {
  FaultWorld world;
  Start(world);
  ASSERT_EQ(world.host->registered_modules.size(), 1u);
  ComPtr<IModuleInfo> info = world.host->registered_modules[0];
  auto update = info.As<IModuleUpdateSetting>();
  int64_t live = 0;  // objects alive after a clean run (the host keeps what it made)

  struct Operation {
    const char* path;
    std::function<void()> run;
  };
  std::u16string version;
  HRESULT status = S_OK;
  bool flag = false;
  const Operation operations[] = {
      {"GetVersion", [&] { version = info->GetVersion().str(); }},
      {"PublishVersionStatus", [&] { status = info->PublishVersionStatus(7); }},
      {"GetUpdate", [&] { flag = update->GetUpdate(); }},
      {"SetUpdate", [&] { update->SetUpdate(false); }},
  };
  for (const Operation& op : operations) {
    auto clean = [&] {
      world.plan->Disarm();
      op.run();
      live = InterfacedObject::LiveObjects();
      op.run();
      EXPECT_EQ(InterfacedObject::LiveObjects(), live);
      if (std::string(op.path) == "GetVersion") {
        EXPECT_EQ(version, FaultWorld::kVersion);
      }
      return world.plan->Calls() / 2;
    };
    ForEachFault(op.path, clean, [&](int n, Fault fault) {
      world.plan->Arm(n, fault);
      version.clear();
      std::string error;
      try {
        op.run();
      } catch (const Exception& e) {
        error = e.Message();
      }
      ASSERT_TRUE(world.plan->Fired());
      const std::string& call = world.plan->FailedCall();
      SCOPED_TRACE("failed call: " + call + (error.empty() ? "" : ", error: " + error));
      EXPECT_EQ(InterfacedObject::LiveObjects(), live) << "counted objects leaked";
      const bool raised = fault == Fault::kRaise && !Starts(call, "QueryInterface") &&
                          !Starts(call, "server object QueryInterface");
      // Errors of the host are not caught: they reach the caller unchanged.
      if (raised) {
        EXPECT_EQ(error, "the host failed in " + call);
      }
      if (!error.empty()) return;
      if (std::string(op.path) == "GetVersion") {
        // Without the database manager or its answer: the fallback.
        const auto& trail = world.plan->Trail();
        const bool first_query =
            std::find(trail.begin(), trail.end(), call) - trail.begin() == n - 1;
        if ((first_query && call == "QueryInterface IDBManager2") || call == "OpenSQL") {
          EXPECT_EQ(version, kFallbackVersion);
        } else {
          EXPECT_TRUE(version == FaultWorld::kVersion || version == kNoVersion)
              << WideString(version).ToUtf8();
        }
      }
      if (std::string(op.path) == "PublishVersionStatus") {
        EXPECT_EQ(status, S_OK);
      }
    });
  }
  info = nullptr;
  update = nullptr;
  Stop(world);
}

// --- The register: CheckCode, ShowCode, the alias connect, STOPSERVER

// The register manager the module handed to the host.
ComPtr<IVodarManager> ManagerOf(FaultWorld& world) {
  for (const ComPtr<IUnknown>& service : world.host->services)
    if (auto manager = service.TryAs<IVodarManager>()) return manager;
  return {};
}

// Closes the register's connection, so that the next check connects again.
void Disconnect() {
  if (dm != nullptr) dm->vodar_conn->Close();
}

TEST_F(FaultInjectionTest, CheckCode) {
  for (bool match : {false, true}) {
    SCOPED_TRACE(match ? "a code the register holds" : "a code the register does not hold");
    FaultWorld world;
    world.register_match = match;
    Start(world);
    ComPtr<IVodarManager> manager = ManagerOf(world);
    ASSERT_TRUE(manager);
    int64_t live = 0;
    auto clean = [&] {
      world.plan->Disarm();
      bool found = !match;
      manager->CheckCode(u"8517", &found);
      EXPECT_EQ(found, match);
      Disconnect();
      live = InterfacedObject::LiveObjects();
      return world.plan->Calls();
    };
    ForEachFault(
        match ? "CheckCode (found)" : "CheckCode (not found)", clean, [&](int n, Fault fault) {
          world.plan->Arm(n, fault);
          bool found = !match;
          std::string error;
          try {
            manager->CheckCode(u"8517", &found);
          } catch (const Exception& e) {
            error = e.Message();
          }
          EXPECT_TRUE(world.plan->Fired());
          const std::string& call = world.plan->FailedCall();
          SCOPED_TRACE("failed call: " + call + (error.empty() ? "" : ", error: " + error));
          if (fault == Fault::kRaise && !Starts(call, "QueryInterface") &&
              !Starts(call, "server object QueryInterface")) {
            EXPECT_EQ(error, "the host failed in " + call);
          }
          // A host that fails never changes the answer: an error, or the right one.
          if (error.empty()) {
            EXPECT_EQ(found, match);
          }
          Disconnect();
          EXPECT_EQ(InterfacedObject::LiveObjects(), live) << "counted objects leaked";
        });
    manager = nullptr;
    Stop(world);
  }
}

TEST_F(FaultInjectionTest, ShowCode) {
  FaultWorld world;
  world.omit_match = true;
  Start(world);
  ComPtr<IVodarManager> manager = ManagerOf(world);
  ASSERT_TRUE(manager);
  // The host's package: showcode records what it receives.
  ASSERT_EQ(RunPython(R"(
import sys, types
shown = []
for name in ('qor', 'qor.modules', 'qor.modules.vodar', 'qor.modules.vodar.manager'):
    sys.modules[name] = types.ModuleType(name)
sys.modules['qor.modules.vodar.manager'].showcode = lambda code, now, omitted: shown.append((code, omitted))
)"),
            "");
  int64_t live = 0;
  auto clean = [&] {
    world.plan->Disarm();
    EXPECT_EQ(manager->ShowCode(u"0401"), S_OK);
    EXPECT_EQ(RunPython("assert shown.pop() == ('0401', True)"), "");
    Disconnect();
    live = InterfacedObject::LiveObjects();
    return world.plan->Calls();
  };
  ForEachFault("ShowCode", clean, [&](int n, Fault fault) {
    world.plan->Arm(n, fault);
    std::string error;
    try {
      EXPECT_EQ(manager->ShowCode(u"0401"), S_OK);
    } catch (const Exception& e) {
      error = e.Message();
    }
    const std::string& call = world.plan->FailedCall();
    SCOPED_TRACE("failed call: " + call + (error.empty() ? "" : ", error: " + error));
    if (fault == Fault::kRaise && !Starts(call, "QueryInterface") &&
        !Starts(call, "server object QueryInterface")) {
      EXPECT_EQ(error, "the host failed in " + call);
    }
    // showcode runs once with the right answer, or not at all when the check failed.
    EXPECT_EQ(RunPython(error.empty() ? "assert shown == [('0401', True)]" : "assert shown == []"),
              "");
    EXPECT_EQ(RunPython("shown.clear()"), "");
    Disconnect();
    EXPECT_EQ(InterfacedObject::LiveObjects(), live) << "counted objects leaked";
  });
  EXPECT_EQ(RunPython("import sys\nfor name in ('qor.modules.vodar.manager', 'qor.modules.vodar', "
                      "'qor.modules', 'qor'):\n    del sys.modules[name]"),
            "");
  manager = nullptr;
  Stop(world);
}

TEST_F(FaultInjectionTest, AliasConnect) {
  FaultWorld world;
  Start(world);
  ASSERT_NE(dm, nullptr);
  TKVTAlias& alias = *dm->vodar_conn;
  const int64_t live = InterfacedObject::LiveObjects();
  auto connect = [&] {
    alias.Open();
    return alias.GetServer();
  };
  auto clean = [&] {
    world.plan->Disarm();
    EXPECT_TRUE(connect());
    alias.Close();
    EXPECT_EQ(InterfacedObject::LiveObjects(), live);
    return world.plan->Calls();
  };
  ForEachFault("alias connect", clean, [&](int n, Fault fault) {
    world.plan->Arm(n, fault);
    std::string error;
    ComPtr<IAppServer> server;
    try {
      server = connect();
    } catch (const Exception& e) {
      error = e.Message();
    }
    const std::string& call = world.plan->FailedCall();
    SCOPED_TRACE("failed call: " + call + (error.empty() ? "" : ", error: " + error));
    if (fault == Fault::kRaise && call == "CreateServerObject") {
      EXPECT_EQ(error, "the host failed in " + call);
    }
    // Connected with a server to talk to, or an error and not connected.
    if (error.empty()) {
      EXPECT_TRUE(alias.Connected());
      EXPECT_TRUE(server);
    } else {
      EXPECT_FALSE(alias.Connected());
    }
    server = nullptr;
    alias.Close();
    EXPECT_EQ(InterfacedObject::LiveObjects(), live) << "counted objects leaked";
  });
  Stop(world);
}

TEST_F(FaultInjectionTest, StopServer) {
  auto clean = [&] {
    FaultWorld world;
    Start(world);
    auto context = MakeObject<FaultyEventContext>(world.plan);
    world.plan->Disarm();
    world.host->Raise(u"STOPSERVER", context.Get());
    EXPECT_FALSE(HostServer);
    EXPECT_EQ(context->set_values, std::vector<int32_t>{42});
    const int calls = world.plan->Calls();
    context = nullptr;
    Stop(world);
    return calls;
  };
  ForEachFault("STOPSERVER", clean, [&](int n, Fault fault) {
    {
      FaultWorld world;
      Start(world);
      // Connected, so that stopping has a connection to close.
      dm->vodar_conn->Open();
      auto context = MakeObject<FaultyEventContext>(world.plan);
      world.plan->Arm(n, fault);
      std::string error;
      try {
        world.host->Raise(u"STOPSERVER", context.Get());
      } catch (const Exception& e) {
        error = e.Message();
      }
      const std::string& call = world.plan->FailedCall();
      SCOPED_TRACE("failed call: " + call + (error.empty() ? "" : ", error: " + error));
      EXPECT_EQ(error, "") << "the host's notification answers without an error";
      if (fault == Fault::kRaise && call == "GetValue") {
        // The firing fails before the handler: logged with the host, nothing stopped.
        EXPECT_EQ(world.host->errors, std::vector<WideString>{u"the host failed in GetValue"});
        EXPECT_TRUE(HostServer);
      } else {
        // The handler ran: the connection is closed and detached, the host let go. A
        // failure after it has nobody to be reported to.
        EXPECT_TRUE(world.host->errors.empty());
        EXPECT_FALSE(HostServer);
        EXPECT_FALSE(dm->vodar_conn->Connected());
        EXPECT_EQ(dm->vodar_conn->DBManager(), nullptr);
      }
      context = nullptr;
      Stop(world);
    }
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  });
}

// A firing whose parameter fails: the module reports the error to the host's error log, and
// that report is failed in turn.
TEST_F(FaultInjectionTest, StopServerErrorReport) {
  auto fire = [&](FaultWorld& world) {
    auto context = MakeObject<FaultyEventContext>(world.plan);
    context->broken = true;
    std::string error;
    try {
      world.host->Raise(u"STOPSERVER", context.Get());
    } catch (const Exception& e) {
      error = e.Message();
    }
    return error;
  };
  auto clean = [&] {
    FaultWorld world;
    Start(world);
    world.plan->Disarm();
    EXPECT_EQ(fire(world), "");
    EXPECT_EQ(world.host->errors, std::vector<WideString>{u"the event parameter failed"});
    EXPECT_TRUE(HostServer) << "the handler did not run";
    const int calls = world.plan->Calls();
    Stop(world);
    return calls;
  };
  ForEachFault("STOPSERVER error report", clean, [&](int n, Fault fault) {
    {
      FaultWorld world;
      Start(world);
      world.plan->Arm(n, fault);
      const std::string error = fire(world);
      const std::string& call = world.plan->FailedCall();
      SCOPED_TRACE("failed call: " + call + (error.empty() ? "" : ", error: " + error));
      if (call == "QueryInterface IKVTErrorLog") {
        // The host must offer its error log to a firing that failed.
        EXPECT_EQ(error, "Interface not supported");
      } else if (call == "LogError") {
        EXPECT_EQ(error, fault == Fault::kRaise ? "the host failed in LogError" : "");
      }
      Stop(world);
    }
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  });
}

}  // namespace
