// The host's application-server object: what IKVTServer2::CreateServerObject hands out for
// CLSID_KvtHostAppServer. Every object serves the providers of the host's data service.
//
// It answers IAppServer (and so IDispatch), ISupportErrorInfo and IKVTDatabaseInfo
// (driver "SQLITE"). Invoke calls the IAppServer methods by their dispatch identifiers
// (20000000 .. 20000006) with the arguments in COM order; by-reference arguments receive
// the out values. Errors become result codes with the thread's error information (through
// Invoke: DISP_E_EXCEPTION with the error in EXCEPINFO).
//
//   AS_GetRecords    a data packet (platform/db/packet.h). A result provider hands out its
//                    rows from where the last call stopped (grReset starts again); Count -1
//                    means all that remain, 0 only the columns. A table provider reads its
//                    table anew: all rows, or the first Count; parameters that name a
//                    column select the rows whose column equals the value.
//   AS_ApplyUpdates  applies a delta packet in one transaction: inserts, modifies and
//                    deletes by key (the delta's pfInKey columns, else the table's primary
//                    key, else every pfInWhere column). A change that fails is refused with
//                    SQLite's message (kKeyViolation for a duplicate key) and undone alone;
//                    more refusals than MaxErrors (when it is not negative) undo everything.
//                    A read-only database refuses every change and nothing is written. A
//                    result provider applies to its one origin table.
//   AS_GetProviderNames  the declared table providers and the live results.
//   AS_GetParams     no provider has parameters: an empty answer.
//   AS_DataRequest, AS_RowRequest, AS_Execute  not offered: E_NOTIMPL, with error info.
#pragma once

#include <memory>

#include "host/dataservice.h"
#include "hostintf/kvt_dbmanagerintf.h"
#include "platform/com/errorinfo.h"
#include "platform/db/appserver.h"

class TAppServerObject : public Implements<IAppServer, ISupportErrorInfo, IKVTDatabaseInfo> {
 public:
  explicit TAppServerObject(std::shared_ptr<DataService> service) : service_(std::move(service)) {}

  // --- ISupportErrorInfo: S_OK for IAppServer.
  HRESULT InterfaceSupportsErrorInfo(const GUID& iid) override;
  // --- IKVTDatabaseInfo
  WideString GetDriverName() override { return u"SQLITE"; }
  // --- IDispatch
  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t index, LCID lcid, ITypeInfo** info) override;
  // The method names ("AS_GetRecords", ...) answer their dispatch identifiers.
  HRESULT GetIDsOfNames(const GUID& iid, const WideString* names, uint32_t count, LCID lcid,
                        DISPID* ids) override;
  HRESULT Invoke(DISPID id, const GUID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                 Variant* result, EXCEPINFO* excep, uint32_t* arg_err) override;
  // --- IAppServer
  HRESULT AS_ApplyUpdates(const WideString& provider, const Variant& delta, int32_t max_errors,
                          int32_t* error_count, Variant* owner_data, Variant* result) override;
  HRESULT AS_GetRecords(const WideString& provider, int32_t count, int32_t* recs_out,
                        int32_t options, const WideString& command_text, Variant* params,
                        Variant* owner_data, Variant* result) override;
  HRESULT AS_DataRequest(const WideString& provider, const Variant& data, Variant* result) override;
  HRESULT AS_GetProviderNames(Variant* result) override;
  HRESULT AS_GetParams(const WideString& provider, Variant* owner_data, Variant* result) override;
  HRESULT AS_RowRequest(const WideString& provider, const Variant& row, int32_t request_type,
                        Variant* owner_data, Variant* result) override;
  HRESULT AS_Execute(const WideString& provider, const WideString& command_text, Variant* params,
                     Variant* owner_data) override;

 private:
  std::shared_ptr<DataService> service_;
};
