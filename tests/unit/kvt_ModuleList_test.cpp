#include "moduleinfo/kvt_ModuleList.h"

#include <gtest/gtest.h>

#include "dataaccess/kvt_event.h"
#include "moduleinfo/kvt_ModuleInfoImpl.h"
#include "tests/fakes/fake_host.h"

namespace {

// A module description with a fixed name that registers nowhere.
class NamedInfo : public TModuleInfo {
 public:
  explicit NamedInfo(std::u16string name) : name_(std::move(name)) {}
  WideString GetName() override { return name_; }

 protected:
  void AfterConstruction() override {}

 private:
  std::u16string name_;
};

ComPtr<NamedInfo> Info(std::u16string name) {
  return MakeObject<NamedInfo>(std::move(name));
}

IModuleInfo* AsInfo(const ComPtr<NamedInfo>& info) {
  return info.Get();
}

class ModuleListTest : public testing::Test {
 protected:
  void SetUp() override { HostServer = host_->Server(); }
  void TearDown() override {
    list_ = nullptr;
    HostServer = nullptr;
    host_->ReleaseAll();
    host_ = nullptr;
    EXPECT_EQ(InterfacedObject::LiveObjects(), live_);
  }

  // The entries' names in list order, read through an enumerator.
  std::vector<std::u16string> Listed() {
    std::vector<std::u16string> names;
    ComPtr<IEnumModuleInfo> e;
    if (list_->GetEnumerator(e.Put()) != S_OK) return names;
    ComPtr<IModuleInfo> info;
    while (e->Next(info.Put()) == S_OK) names.push_back(info->GetName().str());
    return names;
  }
  size_t Subscriptions() { return host_->sinks.count(u"STOPSERVER"); }

  int64_t live_ = InterfacedObject::LiveObjects();
  ComPtr<FakeHost> host_ = MakeObject<FakeHost>();
  ComPtr<TModuleInfoList> list_ = MakeObject<TModuleInfoList>();
};

using Names = std::vector<std::u16string>;

TEST_F(ModuleListTest, AddReplacesAnEntryOfTheSameNameAndMovesItToTheEnd) {
  auto a = Info(u"A"), b = Info(u"B"), c = Info(u"C"), b2 = Info(u"B");
  for (auto& i : {a, b, c, b2}) EXPECT_EQ(list_->Add(i.Get()), S_OK);
  EXPECT_EQ(Listed(), (Names{u"A", u"C", u"B"}));
  ComPtr<IModuleInfo> found;
  ASSERT_EQ(list_->Find(u"B", found.Put()), S_OK);
  EXPECT_EQ(found.Get(), AsInfo(b2));
  found = nullptr;
  EXPECT_EQ(b->RefCount(), 1) << "the replaced entry was released";

  list_->Add(a.Get());  // the same object again: still once, now at the end
  EXPECT_EQ(Listed(), (Names{u"C", u"B", u"A"}));
}

TEST_F(ModuleListTest, NamesAreComparedExactly) {
  auto upper = Info(u"VODAR"), lower = Info(u"vodar"), cyr = Info(u"ВОДАР"),
       cyr_lower = Info(u"водар");
  for (auto& i : {upper, lower, cyr, cyr_lower}) list_->Add(i.Get());
  EXPECT_EQ(Listed(), (Names{u"VODAR", u"vodar", u"ВОДАР", u"водар"}));

  ComPtr<IModuleInfo> found;
  EXPECT_EQ(list_->Find(u"vodar", found.Put()), S_OK);
  EXPECT_EQ(found.Get(), AsInfo(lower));
  EXPECT_EQ(list_->Find(u"Vodar", found.Put()), S_FALSE);
  EXPECT_FALSE(found);
  EXPECT_EQ(list_->Find(u"", found.Put()), S_FALSE);
}

TEST_F(ModuleListTest, FindOfAnUnknownNameClearsTheResult) {
  auto a = Info(u"A");
  list_->Add(a.Get());
  IModuleInfo* out = AsInfo(a);  // a stale value the call must overwrite
  EXPECT_EQ(list_->Find(u"Z", &out), S_FALSE);
  EXPECT_EQ(out, nullptr);
}

TEST_F(ModuleListTest, RemoveDropsTheVeryReferenceOnly) {
  auto a = Info(u"A"), b = Info(u"B"), c = Info(u"C"), other_b = Info(u"B");
  for (auto& i : {a, b, c}) list_->Add(i.Get());
  EXPECT_EQ(list_->Remove(other_b.Get()), S_OK);
  EXPECT_EQ(list_->Remove(nullptr), S_OK);
  EXPECT_EQ(Listed(), (Names{u"A", u"B", u"C"})) << "an equal name is not the same reference";
  EXPECT_EQ(list_->Remove(b.Get()), S_OK);
  EXPECT_EQ(Listed(), (Names{u"A", u"C"}));
  EXPECT_EQ(list_->Remove(b.Get()), S_OK);
  EXPECT_EQ(list_->Count(), 2);
}

TEST_F(ModuleListTest, EnumeratorOnAnEmptyListIsNotMade) {
  IEnumModuleInfo* untouched = reinterpret_cast<IEnumModuleInfo*>(0x1);
  EXPECT_EQ(list_->GetEnumerator(&untouched), S_FALSE);
  EXPECT_EQ(untouched, reinterpret_cast<IEnumModuleInfo*>(0x1));
}

TEST_F(ModuleListTest, EnumeratorReadsTheLiveList) {
  auto a = Info(u"A"), b = Info(u"B"), c = Info(u"C"), d = Info(u"D");
  for (auto& i : {a, b, c}) list_->Add(i.Get());
  ComPtr<IEnumModuleInfo> e;
  ASSERT_EQ(list_->GetEnumerator(e.Put()), S_OK);
  ComPtr<IModuleInfo> info;
  ASSERT_EQ(e->Next(info.Put()), S_OK);
  EXPECT_EQ(info.Get(), AsInfo(a));
  // Dropping an entry already handed out skips the one after the last handed out.
  list_->Remove(a.Get());
  ASSERT_EQ(e->Next(info.Put()), S_OK);
  EXPECT_EQ(info.Get(), AsInfo(c));
  // An entry appended after the enumerator was made is handed out too.
  list_->Add(d.Get());
  ASSERT_EQ(e->Next(info.Put()), S_OK);
  EXPECT_EQ(info.Get(), AsInfo(d));

  IModuleInfo* untouched = AsInfo(a);
  EXPECT_EQ(e->Next(&untouched), S_FALSE);
  EXPECT_EQ(untouched, AsInfo(a)) << "the end leaves the out value alone";
}

TEST_F(ModuleListTest, EnumeratorKeepsItsListAlive) {
  auto a = Info(u"A");
  list_->Add(a.Get());
  ComPtr<IEnumModuleInfo> e;
  ASSERT_EQ(list_->GetEnumerator(e.Put()), S_OK);
  list_ = nullptr;  // the enumerator's reference is the last one
  ComPtr<IModuleInfo> info;
  ASSERT_EQ(e->Next(info.Put()), S_OK);
  EXPECT_EQ(info.Get(), AsInfo(a));
  EXPECT_EQ(e->Next(info.Put()), S_FALSE);
  info = nullptr;
  e = nullptr;  // list and entries go with it
  EXPECT_EQ(a->RefCount(), 1);
}

TEST_F(ModuleListTest, SubscribesToStopServerWhenFilledFromEmpty) {
  EXPECT_EQ(list_->Add(nullptr), S_OK);
  EXPECT_EQ(Subscriptions(), 0u) << "an empty reference neither adds nor subscribes";
  EXPECT_EQ(list_->Count(), 0);

  auto a = Info(u"A"), b = Info(u"B");
  list_->Add(a.Get());
  list_->Add(b.Get());
  EXPECT_EQ(Subscriptions(), 1u);

  host_->Raise(u"STOPSERVER");
  EXPECT_EQ(list_->Count(), 0);
  EXPECT_EQ(a->RefCount(), 1) << "entries released by the event";

  list_->Add(b.Get());  // filled again: a new subscription
  EXPECT_EQ(Subscriptions(), 2u);
  host_->Raise(u"STOPSERVER");
  EXPECT_EQ(list_->Count(), 0);
}

TEST_F(ModuleListTest, StopServerAfterTheListIsGoneDoesNothing) {
  auto a = Info(u"A");
  list_->Add(a.Get());
  list_ = nullptr;  // the host's subscription does not keep the list
  EXPECT_EQ(a->RefCount(), 1);
  host_->Raise(u"STOPSERVER");
  EXPECT_EQ(Subscriptions(), 1u);
}

TEST_F(ModuleListTest, WithoutHostTheListWorksUnsubscribed) {
  HostServer = nullptr;
  auto a = Info(u"A");
  list_->Add(a.Get());
  EXPECT_EQ(Listed(), (Names{u"A"}));
  EXPECT_TRUE(host_->calls.empty());
  list_->Clear();
  EXPECT_EQ(list_->Count(), 0);
}

TEST(GlobalModuleList, ExistsFromTheStartAndIsEmpty) {
  ASSERT_TRUE(GlobalModuleList());
  ComPtr<IEnumModuleInfo> e;
  EXPECT_EQ(GlobalModuleList()->GetEnumerator(e.Put()), S_FALSE);
}

}  // namespace
