#include "tests/fakes/fake_dispserver.h"

HRESULT FakeDispServer::Invoke(DISPID id, const GUID&, LCID, uint16_t flags, DISPPARAMS* params,
                               Variant* result, EXCEPINFO* excep, uint32_t*) {
  Call call{id, flags, params ? params->cNamedArgs : 0, {}};
  if (params)
    for (uint32_t i = params->cArgs; i-- > 0;) call.args.push_back(params->rgvarg[i].Deref());
  calls.push_back(std::move(call));
  if (on_invoke) return on_invoke(id, params, result, excep);
  if (result) *result = Variant(static_cast<int32_t>(id));
  return S_OK;
}

HRESULT FakeDirectAppServer::AS_ApplyUpdates(const WideString&, const Variant&, int32_t, int32_t*,
                                             Variant*, Variant* result) {
  result->Clear();
  return S_OK;
}

HRESULT FakeDirectAppServer::AS_GetRecords(const WideString&, int32_t, int32_t*, int32_t,
                                           const WideString&, Variant*, Variant*, Variant* result) {
  result->Clear();
  return S_OK;
}

HRESULT FakeDirectAppServer::AS_DataRequest(const WideString&, const Variant&, Variant* result) {
  result->Clear();
  return S_OK;
}

HRESULT FakeDirectAppServer::AS_GetProviderNames(Variant* result) {
  *result = Variant::Array({Variant(u"prov")}, 0, varOleStr);
  return S_OK;
}

HRESULT FakeDirectAppServer::AS_GetParams(const WideString&, Variant*, Variant* result) {
  result->Clear();
  return S_OK;
}

HRESULT FakeDirectAppServer::AS_RowRequest(const WideString&, const Variant&, int32_t, Variant*,
                                           Variant* result) {
  result->Clear();
  return S_OK;
}

HRESULT FakeDirectAppServer::AS_Execute(const WideString&, const WideString&, Variant*, Variant*) {
  return S_OK;
}
