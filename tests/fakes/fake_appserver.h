// An in-memory application server for unit tests: named tables served as data packets,
// deltas applied by key, refusals and failures on demand, every call counted.
//
//   auto server = MakeObject<FakeAppServer>();
//   server->AddTable("items", {{"ID", ftInteger, 0, true, pfInUpdate | pfInWhere | pfInKey},
//                              {"NAME", ftString, 20}},
//                    {{Variant(1), Variant::Text("one")}});
//   FakeRemoteServer conn;  conn.SetServer(server);
//   ClientDataSet ds;  ds.SetRemoteServer(&conn);  ds.SetProviderName("items");  ds.Open();
//
// Rows are found by the original values of the delta's pfInKey columns (all pfInWhere
// columns when there is no key). GetRecords filters by the parameters that name a column
// (a null parameter matches no row).
#pragma once

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/com/object.h"
#include "platform/db/appserver.h"
#include "platform/db/connection.h"
#include "platform/db/packet.h"

class FakeAppServer : public Implements<IAppServer> {
 public:
  struct Table {
    std::vector<PacketColumn> columns;
    std::vector<std::vector<Variant>> rows;
  };
  struct Refusal {
    std::string message;
    int32_t error_code = 0;
  };
  enum Method { kGetRecords, kApplyUpdates };

  // Adds or replaces the table of a provider.
  void AddTable(const std::string& provider, std::vector<PacketColumn> columns,
                std::vector<std::vector<Variant>> rows = {});
  Table& GetTable(const std::string& provider);

  // The next `times` calls of `method` fail with `hr`, the message going to the thread's
  // error information (as a COM server reports errors).
  void FailNext(Method method, HRESULT hr, std::string message, int times = 1);
  // The next GetRecords / ApplyUpdates answers this variant as it is.
  void AnswerNextGetRecords(Variant packet) { next_packet_ = std::move(packet); }
  void AnswerNextApply(Variant result) { next_result_ = std::move(result); }
  // Asked for every change before it is applied; an answer refuses the change.
  std::function<std::optional<Refusal>(const DeltaChange&, const DeltaPacket&)> refuse;

  // What the server saw.
  int get_records_calls = 0;
  int apply_calls = 0;
  Params last_params;
  DeltaPacket last_delta;
  int32_t last_max_errors = 0;

  // --- IDispatch: Invoke serves AS_GetRecords, AS_ApplyUpdates and AS_GetProviderNames
  // by dispatch identifier; the rest is not implemented.
  HRESULT GetTypeInfoCount(uint32_t* count) override;
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT GetIDsOfNames(const GUID&, const WideString*, uint32_t, LCID, DISPID*) override {
    return E_NOTIMPL;
  }
  HRESULT Invoke(DISPID id, const GUID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                 Variant* result, EXCEPINFO* excep, uint32_t* arg_err) override;

  // --- IAppServer
  HRESULT AS_ApplyUpdates(const WideString& provider, const Variant& delta, int32_t max_errors,
                          int32_t* error_count, Variant* owner_data, Variant* result) override;
  HRESULT AS_GetRecords(const WideString& provider, int32_t count, int32_t* recs_out,
                        int32_t options, const WideString& command_text, Variant* params,
                        Variant* owner_data, Variant* result) override;
  HRESULT AS_DataRequest(const WideString&, const Variant&, Variant* result) override;
  HRESULT AS_GetProviderNames(Variant* result) override;
  HRESULT AS_GetParams(const WideString&, Variant*, Variant* result) override;
  HRESULT AS_RowRequest(const WideString&, const Variant&, int32_t, Variant*,
                        Variant* result) override;
  HRESULT AS_Execute(const WideString&, const WideString&, Variant*, Variant*) override;

 private:
  bool TakeFailure(Method method, HRESULT& hr);
  std::optional<Refusal> Apply(Table& table, const DeltaPacket& delta, const DeltaChange& change);

  std::map<std::string, Table> tables_;
  struct Failure {
    HRESULT hr;
    std::string message;
    int times;
  };
  std::map<Method, Failure> failures_;
  std::optional<Variant> next_packet_, next_result_;
};

// A remote-server connection whose application server is a FakeAppServer (or any
// dispatch object); counts connects and GetServer calls.
class FakeRemoteServer : public CustomRemoteServer {
 public:
  using CustomRemoteServer::CustomRemoteServer;
  ~FakeRemoteServer() override;
  void SetServer(ComPtr<IDispatch> server);
  ComPtr<IAppServer> GetServer() override;

  int connects = 0;
  int get_server_calls = 0;

 protected:
  void DoConnect() override;

 private:
  ComPtr<IDispatch> server_;
};
