#include "platform/com/dispinvoke.h"

#include <algorithm>

#include "platform/rtl/exceptions.h"

Variant DispatchMethod(IDispatch* disp, DISPID id, std::vector<Variant> args) {
  if (disp == nullptr) throw EOleSysError(E_POINTER);
  std::reverse(args.begin(), args.end());
  DISPPARAMS params;
  params.rgvarg = args.empty() ? nullptr : args.data();
  params.cArgs = static_cast<uint32_t>(args.size());
  Variant result;
  EXCEPINFO excep;
  uint32_t arg_err = 0;
  HRESULT hr = disp->Invoke(id, GUID_NULL, 0, DISPATCH_METHOD, &params, &result, &excep, &arg_err);
  if (hr == DISP_E_EXCEPTION) {
    HRESULT code = FAILED(excep.scode) ? excep.scode : DISP_E_EXCEPTION;
    throw EOleException(excep.bstrDescription.ToUtf8(), code, excep.bstrSource.ToUtf8(),
                        excep.bstrHelpFile.ToUtf8());
  }
  if (FAILED(hr)) throw EOleSysError(hr);
  return result;
}

Variant* DispatchArg(DISPPARAMS* params, uint32_t index) {
  if (params == nullptr || index >= params->cArgs || params->rgvarg == nullptr) return nullptr;
  return &params->rgvarg[params->cArgs - 1 - index].Deref();
}
