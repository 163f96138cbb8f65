// IDispatch: late-bound calls by dispatch identifier.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/variant.h"

constexpr uint16_t DISPATCH_METHOD = 1;
constexpr uint16_t DISPATCH_PROPERTYGET = 2;
constexpr uint16_t DISPATCH_PROPERTYPUT = 4;

// Arguments in COM order: rgvarg[0] is the LAST argument. A by-reference argument is a
// Variant::ByRef pointing at the caller's variable; the callee writes through it.
struct DISPPARAMS {
  Variant* rgvarg = nullptr;
  DISPID* rgdispidNamedArgs = nullptr;
  uint32_t cArgs = 0;
  uint32_t cNamedArgs = 0;
};

struct EXCEPINFO {
  uint16_t wCode = 0;
  WideString bstrSource;
  WideString bstrDescription;
  WideString bstrHelpFile;
  uint32_t dwHelpContext = 0;
  HRESULT scode = S_OK;
};

struct ITypeInfo;

struct IDispatch : IUnknown {
  static constexpr GUID iid = "{00020400-0000-0000-C000-000000000046}"_guid;
  virtual HRESULT GetTypeInfoCount(uint32_t* count) = 0;
  virtual HRESULT GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) = 0;
  virtual HRESULT GetIDsOfNames(const GUID& iid, const WideString* names, uint32_t count, LCID lcid,
                                DISPID* ids) = 0;
  virtual HRESULT Invoke(DISPID id, const GUID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                         Variant* result, EXCEPINFO* excep, uint32_t* arg_err) = 0;

 protected:
  ~IDispatch() = default;
};
