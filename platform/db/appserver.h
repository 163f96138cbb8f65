// IAppServer: the published interface of an application server. Data sets fetch packets
// from its providers and send their change logs back to them. It is a dual interface:
// the same methods are reachable through IDispatch::Invoke by dispatch identifier.
//
// Every method empties/sets its result variant and answers a result code; errors inside
// a server become failure codes with the thread's error information.
#pragma once

#include "platform/com/dispatch.h"

enum AppServerDispId : DISPID {
  kDispApplyUpdates = 20000000,
  kDispGetRecords = 20000001,
  kDispDataRequest = 20000002,
  kDispGetProviderNames = 20000003,
  kDispGetParams = 20000004,
  kDispRowRequest = 20000005,
  kDispExecute = 20000006,
};

struct IAppServer : IDispatch {
  static constexpr GUID iid = "{1AEFCC20-7A24-11D2-98B0-C69BEB4B5B6D}"_guid;
  using BaseInterface = IDispatch;

  // Applies a delta packet; *error_count receives the number of refused changes and
  // *result the refused changes (see platform/db/packet.h).
  virtual HRESULT AS_ApplyUpdates(const WideString& provider, const Variant& delta,
                                  int32_t max_errors, int32_t* error_count, Variant* owner_data,
                                  Variant* result) = 0;
  // A data packet of up to `count` rows (-1: all); *recs_out receives how many.
  virtual HRESULT AS_GetRecords(const WideString& provider, int32_t count, int32_t* recs_out,
                                int32_t options, const WideString& command_text, Variant* params,
                                Variant* owner_data, Variant* result) = 0;
  virtual HRESULT AS_DataRequest(const WideString& provider, const Variant& data,
                                 Variant* result) = 0;
  // A variant array of the provider names.
  virtual HRESULT AS_GetProviderNames(Variant* result) = 0;
  virtual HRESULT AS_GetParams(const WideString& provider, Variant* owner_data,
                               Variant* result) = 0;
  virtual HRESULT AS_RowRequest(const WideString& provider, const Variant& row,
                                int32_t request_type, Variant* owner_data, Variant* result) = 0;
  virtual HRESULT AS_Execute(const WideString& provider, const WideString& command_text,
                             Variant* params, Variant* owner_data) = 0;

 protected:
  ~IAppServer() = default;
};

// Options of AS_GetRecords.
constexpr int32_t grMetaData = 1;
constexpr int32_t grReset = 2;
