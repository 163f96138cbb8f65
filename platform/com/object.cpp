#include "platform/com/object.h"

#include <cstdio>
#include <cstdlib>

#include "platform/rtl/exceptions.h"

namespace {
std::atomic<int64_t> g_live{0};
}

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

InterfacedObject::~InterfacedObject() { g_live.fetch_sub(1, std::memory_order_relaxed); }

int64_t InterfacedObject::LiveObjects() noexcept { return g_live.load(); }

ULONG InterfacedObject::AddRefImpl() noexcept {
  return static_cast<ULONG>(ref_.fetch_add(1, std::memory_order_relaxed) + 1);
}

ULONG InterfacedObject::ReleaseImpl() noexcept {
  int32_t left = ref_.fetch_sub(1, std::memory_order_acq_rel) - 1;
  if (left < 0) {
    // A release without a matching reference: the object is already gone or about to be
    // used after its death. Stop here rather than corrupt the heap.
    std::fprintf(stderr, "InterfacedObject: Release below zero\n");
    std::abort();
  }
  if (left == 0) delete this;
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
