// ComPtr<T>: the owner of one counted interface reference.
//
//   ComPtr<T> p(raw);            borrows: adds a reference
//   p.Attach(raw);               adopts a reference the caller already owns
//   T* raw = p.Detach();         hands the reference over to the caller
//   QueryX(IID, (void**)p.Put()) releases what p held, then receives a new reference
//   p.As<U>() / p.TryAs<U>()     QueryInterface: raises EIntfCastError / answers empty
#pragma once

#include <cstddef>
#include <type_traits>
#include <utility>

#include "platform/com/unknown.h"

[[noreturn]] void ThrowIntfCastError();

template <class T>
class ComPtr {
 public:
  ComPtr() noexcept = default;
  ComPtr(std::nullptr_t) noexcept {}
  ComPtr(T* p) noexcept : p_(p) { AddRefIf(); }  // borrow
  ComPtr(const ComPtr& o) noexcept : p_(o.p_) { AddRefIf(); }
  ComPtr(ComPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
    requires std::is_convertible_v<U*, T*>
  ComPtr(const ComPtr<U>& o) noexcept : p_(o.Get()) {
    AddRefIf();
  }
  template <class U>
    requires std::is_convertible_v<U*, T*>
  ComPtr(ComPtr<U>&& o) noexcept : p_(o.Detach()) {}
  ~ComPtr() { ReleaseIf(); }

  ComPtr& operator=(const ComPtr& o) noexcept {
    ComPtr(o).Swap(*this);
    return *this;
  }
  ComPtr& operator=(ComPtr&& o) noexcept {
    ComPtr(std::move(o)).Swap(*this);
    return *this;
  }
  ComPtr& operator=(T* p) noexcept {
    ComPtr(p).Swap(*this);
    return *this;
  }
  ComPtr& operator=(std::nullptr_t) noexcept {
    Reset();
    return *this;
  }

  // A pointer that adopts an already counted reference (no AddRef).
  static ComPtr Adopt(T* p) noexcept {
    ComPtr r;
    r.p_ = p;
    return r;
  }
  // Adopts an already counted reference (no AddRef); releases the previous one.
  void Attach(T* p) noexcept {
    T* old = std::exchange(p_, p);
    if (old) old->Release();
  }
  // Gives up ownership without releasing.
  [[nodiscard]] T* Detach() noexcept { return std::exchange(p_, nullptr); }
  // For out-parameters: releases the current reference and answers the slot to fill.
  T** Put() noexcept {
    Reset();
    return &p_;
  }
  void** PutVoid() noexcept { return reinterpret_cast<void**>(Put()); }
  void Reset() noexcept {
    T* old = std::exchange(p_, nullptr);
    if (old) old->Release();
  }
  void Swap(ComPtr& o) noexcept { std::swap(p_, o.p_); }

  T* Get() const noexcept { return p_; }
  T* operator->() const noexcept { return p_; }
  T& operator*() const noexcept { return *p_; }
  explicit operator bool() const noexcept { return p_ != nullptr; }

  // QueryInterface for U; empty when not answered (or when this is empty).
  template <class U>
  ComPtr<U> TryAs() const noexcept {
    ComPtr<U> r;
    if (p_) p_->QueryInterface(U::iid, r.PutVoid());
    return r;
  }
  // QueryInterface for U; raises EIntfCastError ("Interface not supported") when not
  // answered or empty.
  template <class U>
  ComPtr<U> As() const {
    ComPtr<U> r = TryAs<U>();
    if (!r) ThrowIntfCastError();
    return r;
  }
  // QueryInterface into an existing pointer; answers the result code.
  template <class U>
  HRESULT QueryInterface(ComPtr<U>& out) const noexcept {
    if (!p_) {
      out.Reset();
      return E_POINTER;
    }
    return p_->QueryInterface(U::iid, out.PutVoid());
  }

  friend bool operator==(const ComPtr& a, const ComPtr& b) { return a.p_ == b.p_; }
  friend bool operator==(const ComPtr& a, std::nullptr_t) { return a.p_ == nullptr; }

 private:
  void AddRefIf() noexcept {
    if (p_) p_->AddRef();
  }
  void ReleaseIf() noexcept {
    if (p_) p_->Release();
  }
  T* p_ = nullptr;
};

// Identity of two references to one COM object: compares their IUnknown answers.
bool SameObject(IUnknown* a, IUnknown* b);
