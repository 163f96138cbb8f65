#include "platform/com/object.h"

#include <cstdio>
#include <cstdlib>

#include "platform/rtl/exceptions.h"

namespace {
std::atomic<int64_t> g_live{0};

// The count while the last Release deletes the object: references taken and given back
// by its destructor move the count around this value and never reach zero again.
constexpr int32_t kDestroying = 1 << 30;

[[noreturn]] void Fatal(const char* what, int32_t count) {
  std::fprintf(stderr, "InterfacedObject: %s (count %d)\n", what, static_cast<int>(count));
  std::abort();
}
}  // namespace

void ThrowIntfCastError() { throw EIntfCastError(); }

bool SameObject(IUnknown* a, IUnknown* b) {
  if (a == b) return true;
  if (a == nullptr || b == nullptr) return false;
  ComPtr<IUnknown> ua, ub;
  a->QueryInterface(IUnknown::iid, ua.PutVoid());
  b->QueryInterface(IUnknown::iid, ub.PutVoid());
  return ua && ua == ub;
}

InterfacedObject::InterfacedObject() noexcept : ref_(1) {
  g_live.fetch_add(1, std::memory_order_relaxed);
}

InterfacedObject::~InterfacedObject() {
  g_live.fetch_sub(1, std::memory_order_relaxed);
  // Destroyed by its last Release, or with only the construction's count (a constructor
  // that failed, an object that was never handed out). Anything else leaves holders with
  // a dangling pointer: someone deleted it by hand, or its destructor kept a reference.
  int32_t left = ref_.load(std::memory_order_relaxed);
  if (left != kDestroying && left != 1) Fatal("destroyed while references are held", left);
}

int64_t InterfacedObject::LiveObjects() noexcept { return g_live.load(); }

ULONG InterfacedObject::AddRefImpl() noexcept {
  return static_cast<ULONG>(ref_.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG InterfacedObject::ReleaseImpl() noexcept {
  int32_t left = ref_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left < 0) {
    // A release without a matching reference: the object is already gone or about to be
    // used after its death. Stop here rather than corrupt the heap.
    Fatal("Release below zero", left);
  }
  if (left == 0) {
    ref_.store(kDestroying, std::memory_order_relaxed);
    delete this;
  }
  return static_cast<ULONG>(left);
}

bool InterfacedObject::FindInterface(const GUID&, void**) noexcept { return false; }

HRESULT InterfacedObject::QueryInterfaceImpl(const GUID& iid, void** obj) noexcept {
  if (obj == nullptr) return E_POINTER;
  *obj = nullptr;
  void* found = nullptr;
  if (!FindInterface(iid, &found)) return E_NOINTERFACE;
  *obj = found;
  AddRefImpl();
  return S_OK;
}
