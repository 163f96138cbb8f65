#include "platform/com/interfacelist.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/com/object.h"
#include "platform/rtl/exceptions.h"

namespace {

struct IThing : IUnknown {
  static constexpr GUID iid = "{5C1D7E0A-2B3F-4A6C-9D8E-1F2A3B4C5D6E}"_guid;

 protected:
  ~IThing() = default;
};

class Thing : public Implements<IThing> {};

class InterfaceListTest : public testing::Test {
 protected:
  void TearDown() override { EXPECT_EQ(InterfacedObject::LiveObjects(), live_); }
  int64_t live_ = InterfacedObject::LiveObjects();
};

TEST_F(InterfaceListTest, HoldsOneReferencePerEntryAndHandsThemBack) {
  auto a = MakeObject<Thing>(), b = MakeObject<Thing>();
  {
    InterfaceList list;
    EXPECT_EQ(list.Add(a.Get()), 0);
    EXPECT_EQ(list.Add(b.Get()), 1);
    EXPECT_EQ(list.Add(a.Get()), 2);
    EXPECT_EQ(a->RefCount(), 3);
    EXPECT_EQ(list.IndexOf(a.Get()), 0);
    EXPECT_EQ(list.IndexOf(nullptr), -1);

    ComPtr<IUnknown> first = list.Extract(0);
    EXPECT_EQ(first.Get(), static_cast<IUnknown*>(a.Get()));
    EXPECT_EQ(list.Count(), 2);
    EXPECT_EQ(list.Get(0).Get(), static_cast<IUnknown*>(b.Get()));
    list.Delete(0);
    EXPECT_EQ(b->RefCount(), 1);

    auto all = list.TakeAll();
    EXPECT_EQ(all.size(), 1u);
    EXPECT_EQ(list.Count(), 0);
    list.Add(b.Get());
  }  // the list's destructor releases what it still holds
  EXPECT_EQ(a->RefCount(), 1);
  EXPECT_EQ(b->RefCount(), 1);
}

TEST_F(InterfaceListTest, IndexOutsideTheListRaises) {
  InterfaceList list;
  EXPECT_THROW(list.Get(0), EListError);
  EXPECT_THROW((void)list.Extract(-1), EListError);
  list.Add(MakeObject<Thing>().Get());
  EXPECT_THROW(list.Delete(1), EListError);
  list.Clear();
  EXPECT_EQ(list.Count(), 0);
}

TEST_F(InterfaceListTest, LockIsReentrantAndExcludesOtherThreads) {
  InterfaceList list;
  auto thing = MakeObject<Thing>();
  std::atomic<bool> added{false};
  std::thread other;
  {
    std::lock_guard outer(list);
    list.Add(thing.Get());  // the list's own operations take the lock again
    other = std::thread([&] {
      list.Add(thing.Get());
      added = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(added.load()) << "another thread got in while the lock was held";
    EXPECT_EQ(list.Count(), 1);
  }
  other.join();
  EXPECT_EQ(list.Count(), 2);
}

}  // namespace
