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

}  // namespace
