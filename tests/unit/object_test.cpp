// Counted objects (Implements, ImplementsMore, MakeObject) and non-counting components:
// counts through construction and destruction, identity, the interface tables.
#include "platform/com/object.h"

#include <gtest/gtest.h>

#include <stdexcept>

#include "platform/com/guid.h"
#include "platform/rtl/component.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/counting.h"

namespace {

class Pair : public Implements<IFakeA, IFakeB> {
 public:
  int32_t A() override { return 10; }
  int32_t B() override { return 20; }
};

// A class derived from an implementation base that answers one interface more.
class Base : public Implements<IFakeA> {
 public:
  int32_t A() override { return 30; }
};
class More : public ImplementsMore<Base, IFakeB> {
 public:
  int32_t B() override { return 40; }
};

// An interface whose base interface is answered through it.
class Extended : public Implements<IFakeDerived, IFakeB> {
 public:
  int32_t A() override { return 50; }
  int32_t Derived() override { return 60; }
  int32_t B() override { return 70; }
};

// A component answering interfaces without counting references.
class Comp : public NonCounting<Component, IFakeA, IFakeB> {
 public:
  using NonCounting::NonCounting;
  int32_t A() override { return 80; }
  int32_t B() override { return 90; }
};

// Where an object under construction hands a reference to itself to `holder`.
enum class HandOut { None, Constructor, AfterConstruction, ConstructorTemporary };

ComPtr<IFakeA> holder;

class SelfSharing : public Implements<IFakeA> {
 public:
  explicit SelfSharing(HandOut where) : where_(where) {
    if (where == HandOut::Constructor) holder = this;
    if (where == HandOut::ConstructorTemporary) ComPtr<IFakeA> temporary(this);
    count_in_constructor = RefCount();
  }
  int32_t A() override { return 1; }
  static inline int32_t count_in_constructor = 0;

 protected:
  void AfterConstruction() override {
    if (where_ == HandOut::AfterConstruction) holder = this;
  }

 private:
  HandOut where_;
};

TEST(InterfacedObject, CountsOneWhileConstructingAndHandsThatReferenceToTheCaller) {
  struct Case {
    HandOut where;
    int32_t count_after_make;  // MakeObject's reference plus the holder's
  };
  constexpr Case kCases[] = {
      {HandOut::None, 1},
      {HandOut::Constructor, 2},
      {HandOut::AfterConstruction, 2},
      {HandOut::ConstructorTemporary, 1},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(static_cast<int>(c.where));
    LiveObjectsCheck live;
    int64_t before = InterfacedObject::LiveObjects();
    {
      ComPtr<SelfSharing> made = MakeObject<SelfSharing>(c.where);
      EXPECT_EQ(SelfSharing::count_in_constructor, c.where == HandOut::Constructor ? 2 : 1);
      EXPECT_EQ(made->RefCount(), c.count_after_make);
    }
    // The object lives exactly as long as someone holds it.
    EXPECT_EQ(InterfacedObject::LiveObjects(), before + (holder ? 1 : 0));
    holder = nullptr;
  }
}

class FailingAfterConstruction : public Implements<IFakeA> {
 public:
  int32_t A() override { return 1; }

 protected:
  void AfterConstruction() override { throw std::runtime_error("after construction"); }
};

class FailingConstructor : public Implements<IFakeA> {
 public:
  FailingConstructor() { throw std::runtime_error("constructor"); }
  int32_t A() override { return 1; }
};

TEST(InterfacedObject, AFailedConstructionFreesTheObject) {
  LiveObjectsCheck live;
  EXPECT_THROW(MakeObject<FailingAfterConstruction>(), std::runtime_error);
  EXPECT_THROW(MakeObject<FailingConstructor>(), std::runtime_error);
}

// Destructor that hands the dying object to an observer, which takes and gives back a
// reference: the object must not be freed a second time.
class NotifiesOnDestruction : public Implements<IFakeA> {
 public:
  ~NotifiesOnDestruction() override {
    ComPtr<IFakeA> self(this);
    seen = self->A();
  }
  int32_t A() override { return 7; }
  static inline int32_t seen = 0;
};

TEST(InterfacedObject, ReferencesTakenDuringDestructionDoNotFreeItTwice) {
  LiveObjectsCheck live;
  MakeObject<NotifiesOnDestruction>();
  EXPECT_EQ(NotifiesOnDestruction::seen, 7);
}

class Stacked : public Implements<IFakeA> {
 public:
  int32_t A() override { return 1; }
};

TEST(InterfacedObjectDeathTest, DestroyedWhileReferencedStops) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_DEATH(
      {
        ComPtr<IFakeA> keep;
        {
          Stacked s;  // not made by MakeObject, and a reference outlives it
          keep = &s;
        }
      },
      "destroyed while references are held");
}

// QueryInterface through every interface pointer of an object: IUnknown answers one
// pointer, the object's identity; every interface of the class is answered; a foreign
// one is refused with a null result.
void ExpectIdentityAndTable(std::initializer_list<std::pair<IUnknown*, const char*>> views,
                            std::initializer_list<GUID> answered) {
  IUnknown* identity = nullptr;
  for (auto [view, name] : views) {
    SCOPED_TRACE(name);
    ComPtr<IUnknown> unk;
    ASSERT_EQ(view->QueryInterface(IUnknown::iid, unk.PutVoid()), S_OK);
    if (identity == nullptr) identity = unk.Get();
    EXPECT_EQ(unk.Get(), identity);
    for (const GUID& iid : answered) {
      ComPtr<IUnknown> got;
      EXPECT_EQ(view->QueryInterface(iid, got.PutVoid()), S_OK) << GUIDToString(iid);
      EXPECT_TRUE(got);
    }
    void* never = reinterpret_cast<void*>(1);
    EXPECT_EQ(view->QueryInterface(IFakeNever::iid, &never), E_NOINTERFACE);
    EXPECT_EQ(never, nullptr);
    EXPECT_EQ(view->QueryInterface(IFakeA::iid, nullptr), E_POINTER);
  }
}

TEST(InterfacedObject, IdentityAndInterfaceTables) {
  LiveObjectsCheck live;
  {
    ComPtr<Pair> pair = MakeObject<Pair>();
    ExpectIdentityAndTable({{static_cast<IFakeA*>(pair.Get()), "Pair as A"},
                            {static_cast<IFakeB*>(pair.Get()), "Pair as B"}},
                           {IFakeA::iid, IFakeB::iid});
    EXPECT_EQ(pair->RefCount(), 1) << "every answered query was released";
    EXPECT_EQ(pair.As<IFakeB>()->B(), 20);

    ComPtr<More> more = MakeObject<More>();
    ExpectIdentityAndTable({{static_cast<IFakeA*>(more.Get()), "More as A"},
                            {static_cast<IFakeB*>(more.Get()), "More as B"}},
                           {IFakeA::iid, IFakeB::iid});
    EXPECT_EQ(more.As<IFakeA>()->A(), 30);
    EXPECT_EQ(more.As<IFakeB>()->B(), 40);
    EXPECT_EQ(more->RefCount(), 1);

    ComPtr<Extended> derived = MakeObject<Extended>();
    ExpectIdentityAndTable({{static_cast<IFakeDerived*>(derived.Get()), "Extended as Derived"},
                            {static_cast<IFakeB*>(derived.Get()), "Extended as B"}},
                           {IFakeDerived::iid, IFakeA::iid, IFakeB::iid});
    // The base interface is answered by the derived one's pointer.
    ComPtr<IFakeA> base = derived.As<IFakeA>();
    EXPECT_EQ(static_cast<void*>(base.Get()),
              static_cast<void*>(static_cast<IFakeDerived*>(derived.Get())));
    EXPECT_EQ(base->A(), 50);
  }
}

TEST(NonCounting, AnswersInterfacesWithoutCountingAndLivesWithItsOwner) {
  LiveObjectsCheck live;
  Component owner;
  Comp* comp = new Comp(&owner);
  ExpectIdentityAndTable(
      {{static_cast<IFakeA*>(comp), "Comp as A"}, {static_cast<IFakeB*>(comp), "Comp as B"}},
      {IFakeA::iid, IFakeB::iid});
  IFakeA* a = comp;
  EXPECT_EQ(a->AddRef(), kNonCountingRefs);
  EXPECT_EQ(a->Release(), kNonCountingRefs);
  EXPECT_EQ(a->Release(), kNonCountingRefs) << "no release ever frees it";
  {
    ComPtr<IFakeB> b = ComPtr<IFakeA>(a).As<IFakeB>();
    EXPECT_EQ(b->B(), 90);
  }
  EXPECT_EQ(owner.ComponentCount(), 1);
  EXPECT_EQ(comp->A(), 80);
}

}  // namespace
