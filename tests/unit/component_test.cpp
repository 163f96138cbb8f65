// Component: ownership, free notification, the loading state of stored forms, data modules.
#include "platform/rtl/component.h"

#include <gtest/gtest.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "platform/rtl/application.h"
#include "platform/rtl/exceptions.h"

namespace {

using Log = std::vector<std::string>;

// A component that writes what happens to it into a log.
class Probe : public Component {
 public:
  Probe(Component* owner, const std::string& name, Log& log) : Component(owner), log_(log) {
    SetName(name);
  }
  ~Probe() override { log_.push_back("free " + Name()); }

  void Loaded() override {
    Component::Loaded();
    log_.push_back("loaded " + Name());
    if (free_on_loaded) delete std::exchange(free_on_loaded, nullptr);
    if (fail_on_loaded) throw std::runtime_error("loading " + Name());
  }

  bool fail_on_loaded = false;
  Component* free_on_loaded = nullptr;
  Component* free_on_notice = nullptr;

 protected:
  void Notification(Component* c, Operation op) override {
    if (op != Operation::Remove) return;
    log_.push_back(Name() + " heard " + c->Name() + " go");
    if (free_on_notice) delete std::exchange(free_on_notice, nullptr);
  }

 private:
  Log& log_;
};

TEST(Component, AnOwnerFreesItsChildrenLastCreatedFirst) {
  Log log;
  auto* owner = new Probe(nullptr, "owner", log);
  auto* a = new Probe(owner, "a", log);
  new Probe(owner, "b", log);
  new Probe(a, "a1", log);
  auto* c = new Probe(owner, "c", log);
  EXPECT_EQ(owner->ComponentCount(), 3);
  EXPECT_EQ(owner->FindComponent("B"), owner->Components()[1]) << "names compare without case";
  EXPECT_EQ(owner->FindComponent("a1"), nullptr) << "only direct children";

  delete c;  // a child freed by hand leaves its owner
  EXPECT_EQ(owner->ComponentCount(), 2);

  log.clear();
  delete owner;
  EXPECT_EQ(log, Log({"free owner", "free b", "free a", "free a1"}));
}

TEST(Component, FreeNotificationReachesTheWatcher) {
  Log log;
  {
    Component owner;
    auto* watched = new Probe(&owner, "watched", log);
    auto* watcher = new Probe(&owner, "watcher", log);
    auto* quiet = new Probe(&owner, "quiet", log);
    watcher->FreeNotification(watched);
    quiet->FreeNotification(watched);
    quiet->RemoveFreeNotification(watched);
    delete watched;
    EXPECT_EQ(log, Log({"free watched", "watcher heard watched go"}));

    // A watcher freed first leaves nothing behind in what it watched.
    auto* target = new Probe(&owner, "target", log);
    watcher->FreeNotification(target);
    delete watcher;
    log.clear();
    delete target;
    EXPECT_EQ(log, Log({"free target"}));
  }
}

TEST(Component, AWatcherFreedByAnotherWatchersNotificationIsNotCalled) {
  Log log;
  auto* watched = new Probe(nullptr, "watched", log);
  auto* second = new Probe(nullptr, "second", log);
  auto* first = new Probe(nullptr, "first", log);
  second->FreeNotification(watched);
  first->FreeNotification(watched);
  first->free_on_notice = second;
  delete watched;
  EXPECT_EQ(log, Log({"free watched", "first heard watched go", "free second"}));
  delete first;
}

TEST(FormLoading, ComponentsCreatedInsideAreLoadingUntilFinish) {
  Log log;
  Component owner;
  auto* before = new Probe(&owner, "before", log);
  Probe* x;
  Probe* y;
  {
    FormLoading form;
    EXPECT_EQ(FormLoading::Current(), &form);
    x = new Probe(&owner, "x", log);
    y = new Probe(x, "y", log);
    EXPECT_TRUE(x->IsLoading());
    EXPECT_TRUE(y->IsReading());
    EXPECT_FALSE(before->IsLoading());
    EXPECT_TRUE(log.empty());
    form.Finish();
    EXPECT_EQ(FormLoading::Current(), nullptr);
    EXPECT_FALSE(x->IsLoading());
    EXPECT_FALSE(y->IsLoading());
    EXPECT_EQ(log, Log({"loaded x", "loaded y"})) << "creation order";
  }
  EXPECT_EQ(log.size(), 2u) << "the end of the scope adds nothing";
  EXPECT_FALSE((new Probe(&owner, "after", log))->IsLoading());
}

TEST(FormLoading, AScopeLeftByAnErrorLeavesNobodyLoading) {
  Log log;
  Component owner;
  Probe* x = nullptr;
  try {
    FormLoading form;
    x = new Probe(&owner, "x", log);
    throw std::runtime_error("building the form failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_FALSE(x->IsLoading());
  EXPECT_TRUE(log.empty()) << "Loaded() steps do not run for a form that failed";
  EXPECT_EQ(FormLoading::Current(), nullptr);
}

TEST(FormLoading, EveryComponentGetsItsStepAndTheFirstErrorIsRaised) {
  Log log;
  Component owner;
  FormLoading form;
  auto* a = new Probe(&owner, "a", log);
  auto* b = new Probe(&owner, "b", log);
  new Probe(&owner, "c", log);
  a->fail_on_loaded = true;
  b->fail_on_loaded = true;
  try {
    form.Finish();
    ADD_FAILURE() << "no error";
  } catch (const std::runtime_error& e) {
    EXPECT_STREQ(e.what(), "loading a");
  }
  EXPECT_EQ(log, Log({"loaded a", "loaded b", "loaded c"}));
}

TEST(FormLoading, ComponentsFreedWhileTheFormIsOpenAreDropped) {
  Log log;
  Component owner;
  FormLoading outer;
  auto* early = new Probe(&owner, "early", log);
  auto* freed_by_step = new Probe(&owner, "freed by step", log);
  new Probe(&owner, "last", log);
  early->free_on_loaded = freed_by_step;
  {
    FormLoading inner;
    auto* gone = new Probe(&owner, "gone", log);
    delete gone;
    // A component of the outer form freed while the inner one is open.
    delete owner.FindComponent("last");
    inner.Finish();
  }
  outer.Finish();
  EXPECT_EQ(log, Log({"free gone", "free last", "loaded early", "free freed by step"}));
}

class TestModule : public DataModule {
 public:
  TestModule(Log& log, bool fail) : DataModule(nullptr), log_(log), fail_(fail) {
    FormLoading form;
    table = new Probe(this, "table", log);
    form.Finish();
  }
  Probe* table;

 protected:
  void OnCreate() override {
    log_.push_back(std::string("OnCreate, table loading: ") + (table->IsLoading() ? "yes" : "no"));
    if (fail_) throw EDatabaseError("cannot open");
  }

 private:
  Log& log_;
  bool fail_;
};

TEST(DataModule, CreateRunsTheCreationHandlerAfterTheForm) {
  Log log;
  std::unique_ptr<TestModule> dm(DataModule::Create<TestModule>(log, false));
  EXPECT_EQ(log, Log({"loaded table", "OnCreate, table loading: no"}));
}

TEST(DataModule, AnErrorInTheCreationHandlerGoesToTheApplicationHandler) {
  Log log;
  std::vector<std::string> shown;
  Application::Handler previous = Application::SetExceptionHandler(
      [&](const std::exception_ptr& e) { shown.push_back(ExceptionMessage(e)); });
  std::unique_ptr<TestModule> dm(DataModule::Create<TestModule>(log, true));
  Application::SetExceptionHandler(previous);
  ASSERT_NE(dm, nullptr) << "the data module exists all the same";
  EXPECT_EQ(shown, std::vector<std::string>({"cannot open"}));
  EXPECT_EQ(dm->ComponentCount(), 1);
}

}  // namespace
