// IUnknown and the identifier lookup every interface carries.
#pragma once

#include "platform/com/types.h"

// Every interface derives from IUnknown and declares `static constexpr GUID iid`. An
// interface that extends another one (IAppServer extends IDispatch) names it as
// `using BaseInterface = ...` so that QueryInterface for the base finds it too.
struct IUnknown {
  static constexpr GUID iid = "{00000000-0000-0000-C000-000000000046}"_guid;

  // Hands out an added reference in *obj (S_OK), or sets *obj to null (E_NOINTERFACE).
  virtual HRESULT QueryInterface(const GUID& iid, void** obj) = 0;
  virtual ULONG AddRef() = 0;
  virtual ULONG Release() = 0;

 protected:
  ~IUnknown() = default;  // objects die by Release, never by delete through an interface
};
using IInterface = IUnknown;

template <class I>
inline constexpr const GUID& IID_OF = I::iid;

// The answer of AddRef/Release of a component that does not count references.
inline constexpr ULONG kNonCountingRefs = static_cast<ULONG>(-1);

namespace com_detail {
template <class I>
constexpr bool Answers(const GUID& iid) {
  if (iid == I::iid) return true;
  if constexpr (requires { typename I::BaseInterface; })
    return Answers<typename I::BaseInterface>(iid);
  else
    return false;
}

// Looks iid up in the interface list Is... of `self`; on a match stores the interface
// pointer in *obj (no reference added) and answers true.
template <class Self, class First, class... Rest>
bool FindInterface(Self* self, const GUID& iid, void** obj) {
  if (Answers<First>(iid)) {
    *obj = static_cast<First*>(self);
    return true;
  }
  if constexpr (sizeof...(Rest) > 0)
    return FindInterface<Self, Rest...>(self, iid, obj);
  else
    return false;
}
}  // namespace com_detail
