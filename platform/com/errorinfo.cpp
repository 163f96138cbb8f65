#include "platform/com/errorinfo.h"

#include <optional>

#include "platform/rtl/exceptions.h"

namespace {
thread_local std::optional<ErrorInfo> t_error;
}

void SetErrorInfo(const ErrorInfo& info) { t_error = info; }
void ClearErrorInfo() { t_error.reset(); }

bool GetErrorInfo(ErrorInfo* info) {
  if (!t_error) return false;
  if (info) *info = *t_error;
  t_error.reset();
  return true;
}

HRESULT HandleSafeCallException(const std::exception_ptr& e, const GUID& iid,
                                const WideString& source, const WideString& help_file) {
  HRESULT code = E_UNEXPECTED;
  std::string message = ExceptionMessage(e);
  try {
    if (e) std::rethrow_exception(e);
  } catch (const EOleSysError& ex) {
    code = FAILED(ex.ErrorCode()) ? ex.ErrorCode() : E_UNEXPECTED;
  } catch (...) {
  }
  ErrorInfo info;
  info.guid = iid;
  info.source = source;
  info.description = WideString::FromUtf8(message);
  info.help_file = help_file;
  SetErrorInfo(info);
  return code;
}

void RaiseComError(HRESULT hr) {
  ErrorInfo info;
  if (GetErrorInfo(&info) && !info.description.empty())
    throw EOleException(info.description.ToUtf8(), hr, info.source.ToUtf8(), info.help_file.ToUtf8());
  throw EOleSysError(hr);
}
