// Per-thread COM error information and the error translation of COM methods.
#pragma once

#include <exception>

#include "platform/com/object.h"
#include "platform/com/widestring.h"

struct ISupportErrorInfo : IUnknown {
  static constexpr GUID iid = "{DF0B3D60-548F-101B-8E65-08002B2BD119}"_guid;
  // S_OK when the interface `iid` reports errors through error information.
  virtual HRESULT InterfaceSupportsErrorInfo(const GUID& iid) = 0;

 protected:
  ~ISupportErrorInfo() = default;
};

// The error information of the calling thread.
struct ErrorInfo {
  GUID guid;
  WideString source;
  WideString description;
  WideString help_file;
  uint32_t help_context = 0;
};
void SetErrorInfo(const ErrorInfo& info);
void ClearErrorInfo();
// Takes the thread's error information (it is cleared); false when there is none.
bool GetErrorInfo(ErrorInfo* info);

// The platform's error translation for COM methods: turns the exception `e`, raised
// inside a method of interface `iid`, into a failure code and the thread's error
// information (the message as description, with `source` and `help_file`). An
// EOleSysError keeps its own failure code; any other error gives E_UNEXPECTED.
HRESULT HandleSafeCallException(const std::exception_ptr& e, const GUID& iid,
                                const WideString& source, const WideString& help_file);

// Raises an error for a failed COM call: EOleException with the thread's error
// information when there is some, EOleSysError otherwise.
[[noreturn]] void RaiseComError(HRESULT hr);
// OleCheck: raises for a failure code, passes success codes through.
inline HRESULT OleCheck(HRESULT hr) {
  if (FAILED(hr)) RaiseComError(hr);
  return hr;
}
