// Reference-counted objects that implement interfaces.
//
//   class TThing : public Implements<IThing, IOther> { ... };
//   ComPtr<TThing> t = MakeObject<TThing>(args...);
//
// The count is one while the constructor and AfterConstruction() run, so an object that
// hands itself out from either survives; MakeObject then gives that reference to the
// caller. The object is deleted by its last Release(). Destructors are protected: nobody
// deletes a counted object by hand. References taken and given back while the object is
// being destroyed (a destructor that hands itself to an observer) do not free it twice.
// Debug checks stop the process on a Release below zero and on an object destroyed while
// references to it are still held.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

#include "platform/com/comptr.h"

class InterfacedObject {
 public:
  InterfacedObject(const InterfacedObject&) = delete;
  InterfacedObject& operator=(const InterfacedObject&) = delete;

  ULONG AddRefImpl() noexcept;
  ULONG ReleaseImpl() noexcept;  // deletes the object when the count reaches zero
  int32_t RefCount() const noexcept { return ref_.load(std::memory_order_relaxed); }

  // Number of counted objects alive in the process (for leak checks in tests).
  static int64_t LiveObjects() noexcept;

 protected:
  InterfacedObject() noexcept;
  virtual ~InterfacedObject();

  // Runs once, right after the most derived constructor, while the count is still one.
  virtual void AfterConstruction() {}
  // The interface table: stores an uncounted interface pointer in *obj and answers true.
  virtual bool FindInterface(const GUID& iid, void** obj) noexcept;
  HRESULT QueryInterfaceImpl(const GUID& iid, void** obj) noexcept;

 private:
  template <class T, class... A>
  friend ComPtr<T> MakeObject(A&&... args);
  std::atomic<int32_t> ref_;
};

// The implementation base: InterfacedObject answering the interfaces Is... (and each
// one's BaseInterface chain), IUnknown being the first of them.
template <class First, class... Is>
class Implements : public InterfacedObject, public First, public Is... {
 public:
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    return QueryInterfaceImpl(iid, obj);
  }
  ULONG AddRef() override { return AddRefImpl(); }
  ULONG Release() override { return ReleaseImpl(); }

 protected:
  using InterfacedObject::InterfacedObject;
  bool FindInterface(const GUID& iid, void** obj) noexcept override {
    if (iid == IUnknown::iid) {  // the object's identity: always the first interface
      *obj = static_cast<IUnknown*>(static_cast<First*>(this));
      return true;
    }
    return com_detail::FindInterface<Implements, First, Is...>(this, iid, obj);
  }
};

// A class derived from an implementation base that answers further interfaces Is...
template <class Base, class... Is>
class ImplementsMore : public Base, public Is... {
 public:
  using Base::Base;
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    return this->QueryInterfaceImpl(iid, obj);
  }
  ULONG AddRef() override { return this->AddRefImpl(); }
  ULONG Release() override { return this->ReleaseImpl(); }

 protected:
  bool FindInterface(const GUID& iid, void** obj) noexcept override {
    return Base::FindInterface(iid, obj) ||
           com_detail::FindInterface<ImplementsMore, Is...>(this, iid, obj);
  }
};

// Creates a counted object; the caller receives its one reference.
template <class T, class... A>
ComPtr<T> MakeObject(A&&... args) {
  T* obj = new T(std::forward<A>(args)...);
  ComPtr<T> owner = ComPtr<T>::Adopt(obj);  // the constructor's count of one
  static_cast<InterfacedObject*>(obj)->AfterConstruction();
  return owner;
}

// Interfaces of a component that does not count references: AddRef and Release answer
// -1 and never free it; the component lives as long as its owner keeps it. Base must
// provide `virtual bool FindInterface(const GUID&, void**) noexcept` (Component does).
template <class Base, class First, class... Is>
class NonCounting : public Base, public First, public Is... {
 public:
  using Base::Base;
  HRESULT QueryInterface(const GUID& iid, void** obj) override {
    if (obj == nullptr) return E_POINTER;
    *obj = nullptr;
    return FindInterface(iid, obj) ? S_OK : E_NOINTERFACE;
  }
  ULONG AddRef() override { return kNonCountingRefs; }
  ULONG Release() override { return kNonCountingRefs; }

 protected:
  bool FindInterface(const GUID& iid, void** obj) noexcept override {
    if (Base::FindInterface(iid, obj)) return true;  // an inner level fixes the identity
    if (iid == IUnknown::iid) {
      *obj = static_cast<IUnknown*>(static_cast<First*>(this));
      return true;
    }
    return com_detail::FindInterface<NonCounting, First, Is...>(this, iid, obj);
  }
};
