// Counting fakes for the COM boundary: objects written by hand, as a peer on the other
// side of an interface would write them, that count every AddRef, Release and
// QueryInterface and how many of them are alive. A test asserts "balanced at scope exit"
// with them and so catches leaks and double releases without relying on the platform's
// own counting.
//
//   ComCounts counts;
//   {
//     ComPtr<IFakeA> p = ComPtr<IFakeA>::Adopt(CountingFake::New(counts));
//     ... code under test ...
//   }
//   EXPECT_TRUE(counts.Balanced());
//
// LiveObjectsCheck does the same for the platform's counted objects (InterfacedObject).
#pragma once

#include <gtest/gtest.h>

#include <cstdint>

#include "platform/com/object.h"

// Interfaces the fakes answer. IFakeDerived extends IFakeA; IFakeNever is answered by
// nobody.
struct IFakeA : IUnknown {
  static constexpr GUID iid = "{5B1C0D2E-3F40-4A51-9C62-7D8E9FA0B1C2}"_guid;
  virtual int32_t A() = 0;

 protected:
  ~IFakeA() = default;
};

struct IFakeB : IUnknown {
  static constexpr GUID iid = "{6C2D1E3F-4051-4B62-8D73-8E9FA0B1C2D3}"_guid;
  virtual int32_t B() = 0;

 protected:
  ~IFakeB() = default;
};

struct IFakeDerived : IFakeA {
  static constexpr GUID iid = "{7D3E2F40-5162-4C73-9E84-9FA0B1C2D3E4}"_guid;
  using BaseInterface = IFakeA;
  virtual int32_t Derived() = 0;

 protected:
  ~IFakeDerived() = default;
};

struct IFakeNever : IUnknown {
  static constexpr GUID iid = "{8E4F3051-6273-4D84-AF95-A0B1C2D3E4F5}"_guid;
};

// Tallies of the fakes a test makes.
struct ComCounts {
  int created = 0;
  int destroyed = 0;
  int add_refs = 0;
  int releases = 0;
  int queries = 0;   // every QueryInterface call
  int answered = 0;  // the calls that handed out an interface

  int Live() const { return created - destroyed; }
  // Every reference handed out (by creation, AddRef or an answered query) was given back
  // and every fake is gone.
  bool Balanced() const { return Live() == 0 && releases == created + add_refs + answered; }
};

// A COM object that answers IUnknown, IFakeA and IFakeB and counts every call. It is
// created with one reference, owned by the caller, and deletes itself on its last Release.
// Its Release answers the count left, and a Release below zero fails the test instead of
// touching freed memory (the fake is then leaked on purpose).
class CountingFake final : public IFakeA, public IFakeB {
 public:
  static CountingFake* New(ComCounts& counts) { return new CountingFake(counts); }

  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    ++counts_.queries;
    if (obj == nullptr) return E_POINTER;
    *obj = nullptr;
    if (iid == IUnknown::iid || iid == IFakeA::iid)
      *obj = static_cast<IFakeA*>(this);
    else if (iid == IFakeB::iid)
      *obj = static_cast<IFakeB*>(this);
    else
      return E_NOINTERFACE;
    ++counts_.answered;
    ++refs_;
    return S_OK;
  }
  ULONG AddRef() override {
    ++counts_.add_refs;
    return static_cast<ULONG>(++refs_);
  }
  ULONG Release() override {
    ++counts_.releases;
    if (refs_ <= 0) {
      ADD_FAILURE() << "CountingFake: Release without a reference";
      return 0;
    }
    int32_t left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }
  int32_t A() override { return 1; }
  int32_t B() override { return 2; }

  int32_t Refs() const { return refs_; }

 private:
  explicit CountingFake(ComCounts& counts) : counts_(counts) { ++counts_.created; }
  ~CountingFake() { ++counts_.destroyed; }

  ComCounts& counts_;
  int32_t refs_ = 1;
};

// Expects, at the end of its scope, as many counted platform objects alive as at its
// start.
class LiveObjectsCheck {
 public:
  LiveObjectsCheck() : before_(InterfacedObject::LiveObjects()) {}
  ~LiveObjectsCheck() {
    EXPECT_EQ(InterfacedObject::LiveObjects(), before_) << "counted objects leaked or freed twice";
  }
  LiveObjectsCheck(const LiveObjectsCheck&) = delete;
  LiveObjectsCheck& operator=(const LiveObjectsCheck&) = delete;

 private:
  int64_t before_;
};
