// The host calling the register manager from threads other than the one that imported the
// module, while Python code runs on the importing thread: the module takes the interpreter
// lock itself. Run under ThreadSanitizer as well (label "concurrency").
#include <gtest/gtest.h>

#include <mutex>
#include <thread>
#include <vector>

#include "core/startup.h"
#include "core/vodar_managerintf.h"
#include "dataaccess/kvt_event.h"
#include "platform/com/object.h"
#include "tests/fakes/embedded_python.h"
#include "tests/fakes/fake_server_export.h"
#include "tests/fakes/fault_host.h"

namespace {

class ManagerThreadsTest : public testing::Test {
 protected:
  void SetUp() override {
    EnsurePython();
    live_ = InterfacedObject::LiveObjects();
    world_ = std::make_unique<FaultWorld>();
    world_->register_match = true;
    world_->omit_match = true;
    FakeServerExport::Answer(world_->host->Server());
    StartModule();  // on this thread, as the interpreter's import runs it
    for (const ComPtr<IUnknown>& service : world_->host->services)
      if (auto manager = service.TryAs<IVodarManager>()) manager_ = manager;
    ASSERT_TRUE(manager_);
    ASSERT_EQ(RunPython(R"(
import sys, threading, types
shown = []
for name in ('qor', 'qor.modules', 'qor.modules.vodar', 'qor.modules.vodar.manager'):
    sys.modules[name] = types.ModuleType(name)
def showcode(code, now, omitted):
    shown.append((code, omitted, threading.get_ident() != threading.main_thread().ident))
sys.modules['qor.modules.vodar.manager'].showcode = showcode
)"),
              "");
  }
  void TearDown() override {
    EXPECT_EQ(RunPython("import sys\nfor name in ('qor.modules.vodar.manager', "
                        "'qor.modules.vodar', 'qor.modules', 'qor', 'dudoreri'):\n"
                        "    sys.modules.pop(name, None)"),
              "");
    manager_ = nullptr;
    UnloadModule();
    FakeServerExport::Reset();
    world_.reset();
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_) << "counted objects leaked";
  }

  int64_t live_ = 0;
  std::unique_ptr<FaultWorld> world_;
  ComPtr<IVodarManager> manager_;
};

TEST_F(ManagerThreadsTest, AnotherThreadWhilePythonRunsOnTheImportingOne) {
  constexpr int kCalls = 20;
  std::thread host([&] {
    for (int i = 0; i < kCalls; ++i) {
      bool found = false;
      EXPECT_EQ(manager_->CheckCode(u"8517", &found), S_OK);
      EXPECT_TRUE(found);
      EXPECT_EQ(manager_->ShowCode(u"8517"), S_OK);
    }
  });
  // Meanwhile the importing thread runs Python, taking and leaving the interpreter lock.
  for (int i = 0; i < 2 * kCalls; ++i) EXPECT_EQ(RunPython("total = sum(range(2000))"), "");
  host.join();
  EXPECT_EQ(RunPython("assert shown == [('8517', True, True)] * 20, shown"), "");
}

TEST_F(ManagerThreadsTest, EachCallOnAThreadOfItsOwn) {
  // The host does not overlap its calls, but makes each on whatever thread it likes.
  std::mutex host_lock;
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i)
    threads.emplace_back([&] {
      std::lock_guard lock(host_lock);
      bool found = false;
      EXPECT_EQ(manager_->CheckCode(u"8517", &found), S_OK);
      EXPECT_TRUE(found);
      EXPECT_EQ(manager_->ShowCode(u"0401"), S_OK);
    });
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(RunPython("assert shown == [('0401', True, True)] * 8, shown"), "");
}

}  // namespace
