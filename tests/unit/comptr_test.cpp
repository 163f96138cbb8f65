// ComPtr against a hand-written counting fake: every operation leaves the counts balanced.
#include "platform/com/comptr.h"

#include <gtest/gtest.h>

#include <utility>

#include "platform/rtl/exceptions.h"
#include "tests/fakes/counting.h"

namespace {

// A fresh fake, adopted: the pointer holds its only reference.
ComPtr<IFakeA> NewFake(ComCounts& counts) {
  return ComPtr<IFakeA>::Adopt(CountingFake::New(counts));
}

int32_t Refs(const ComPtr<IFakeA>& p) {
  return static_cast<CountingFake*>(p.Get())->Refs();
}

TEST(ComPtr, CopyAddsAReferenceAndMoveHandsItOver) {
  ComCounts counts;
  {
    ComPtr<IFakeA> a = NewFake(counts);
    EXPECT_EQ(Refs(a), 1);

    ComPtr<IFakeA> copy(a);
    EXPECT_EQ(Refs(a), 2);
    ComPtr<IFakeA> assigned;
    assigned = a;
    EXPECT_EQ(Refs(a), 3);
    assigned = assigned;  // self-assignment keeps the reference
    EXPECT_EQ(Refs(a), 3);

    ComPtr<IFakeA> moved(std::move(copy));
    EXPECT_FALSE(copy);
    EXPECT_EQ(Refs(a), 3);
    ComPtr<IFakeA> move_assigned;
    move_assigned = std::move(moved);
    EXPECT_FALSE(moved);
    EXPECT_EQ(Refs(a), 3);

    ComPtr<IUnknown> widened(a);  // converting copy
    EXPECT_EQ(Refs(a), 4);
    ComPtr<IUnknown> widened_move(std::move(move_assigned));
    EXPECT_EQ(Refs(a), 4);

    widened = nullptr;
    widened_move.Reset();
    assigned = nullptr;
    EXPECT_EQ(Refs(a), 1);
  }
  EXPECT_EQ(counts.Live(), 0);
  EXPECT_TRUE(counts.Balanced());
}

TEST(ComPtr, AssigningAnotherObjectReleasesThePreviousOne) {
  ComCounts counts;
  {
    ComPtr<IFakeA> a = NewFake(counts);
    ComPtr<IFakeA> b = NewFake(counts);
    ComPtr<IFakeA> p = a;
    p = b;  // copy-assign over a held reference
    EXPECT_EQ(Refs(a), 1);
    EXPECT_EQ(Refs(b), 2);
    p = std::move(a);  // move-assign over a held reference
    EXPECT_EQ(Refs(b), 1);
    EXPECT_EQ(Refs(p), 1);
    p = b.Get();  // a raw pointer is borrowed
    EXPECT_EQ(Refs(b), 2);
    EXPECT_EQ(counts.Live(), 1);
  }
  EXPECT_TRUE(counts.Balanced());
}

TEST(ComPtr, PutReleasesWhatItHeldBeforeReceiving) {
  ComCounts counts;
  {
    ComPtr<IFakeA> source = NewFake(counts);
    ComPtr<IFakeA> p = NewFake(counts);
    // An out-parameter call: the callee hands out an added reference.
    HRESULT hr = source->QueryInterface(IFakeA::iid, p.PutVoid());
    EXPECT_EQ(hr, S_OK);
    EXPECT_EQ(counts.Live(), 1) << "the previous object was released by Put";
    EXPECT_EQ(p.Get(), source.Get());
    EXPECT_EQ(Refs(source), 2);
  }
  EXPECT_TRUE(counts.Balanced());
}

TEST(ComPtr, AttachAdoptsAndDetachHandsOver) {
  ComCounts counts;
  {
    ComPtr<IFakeA> p = NewFake(counts);
    IFakeA* raw = p.Detach();
    EXPECT_FALSE(p);
    EXPECT_EQ(static_cast<CountingFake*>(raw)->Refs(), 1) << "Detach does not release";

    ComPtr<IFakeA> q = NewFake(counts);
    q.Attach(raw);  // adopts raw, releases the fake it held
    EXPECT_EQ(counts.Live(), 1);
    EXPECT_EQ(Refs(q), 1) << "Attach does not add a reference";
  }
  EXPECT_TRUE(counts.Balanced());
}

TEST(ComPtr, AsAndTryAsQueryTheObject) {
  ComCounts counts;
  {
    ComPtr<IFakeA> a = NewFake(counts);

    ComPtr<IFakeB> b = a.TryAs<IFakeB>();
    ASSERT_TRUE(b);
    EXPECT_EQ(b->B(), 2);
    EXPECT_EQ(Refs(a), 2);
    EXPECT_EQ(a.As<IFakeB>().Get(), b.Get());

    EXPECT_FALSE(a.TryAs<IFakeNever>());
    EXPECT_EQ(Refs(a), 2) << "a refused query adds nothing";
    try {
      (void)a.As<IFakeNever>();
      ADD_FAILURE() << "As<> of an interface not answered must raise";
    } catch (const EIntfCastError& e) {
      EXPECT_EQ(e.Message(), "Interface not supported");
    }

    ComPtr<IFakeB> out = b;
    EXPECT_EQ(a.QueryInterface(out), S_OK);
    ComPtr<IFakeNever> never;
    EXPECT_EQ(a.QueryInterface(never), E_NOINTERFACE);
    EXPECT_FALSE(never);

    ComPtr<IFakeA> empty;
    EXPECT_FALSE(empty.TryAs<IFakeB>());
    EXPECT_THROW((void)empty.As<IFakeB>(), EIntfCastError);
    EXPECT_EQ(empty.QueryInterface(out), E_POINTER);
    EXPECT_FALSE(out) << "a failed query empties the target";
  }
  EXPECT_TRUE(counts.Balanced());
  EXPECT_GT(counts.queries, 0);
}

TEST(ComPtr, SameObjectComparesIdentities) {
  ComCounts counts;
  {
    ComPtr<IFakeA> a = NewFake(counts);
    ComPtr<IFakeA> other = NewFake(counts);
    ComPtr<IFakeB> b = a.As<IFakeB>();
    // Different interface pointers of one object.
    EXPECT_NE(static_cast<void*>(a.Get()), static_cast<void*>(b.Get()));
    EXPECT_TRUE(SameObject(a.Get(), b.Get()));
    EXPECT_FALSE(SameObject(a.Get(), other.Get()));
    EXPECT_FALSE(SameObject(a.Get(), nullptr));
    EXPECT_TRUE(SameObject(nullptr, nullptr));
  }
  EXPECT_TRUE(counts.Balanced());
}

}  // namespace
