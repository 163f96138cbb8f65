// Fault injection at the host boundary: a host whose Nth call fails.
//
// Every call the module makes into the host's objects (the server and its services, the
// database manager, the result sets it answers, the application server objects it creates,
// version status items, event parameters) counts once on one FaultPlan. Armed with N and a
// kind of fault, the Nth call fails that way; a test runs an operation for N = 1, 2, ...
// until a run makes fewer than N calls, and checks every run for a clean end and balanced
// reference counts (SQLite's fault-injection loop, at a COM boundary).
//
//   FaultWorld world;                        // a host with every service, all counted
//   world.plan->Arm(n, Fault::kRaise);
//   ... module code ...
//   world.plan->Fired()                      // whether call n happened
//   world.plan->FailedCall()                 // "AddTable", "QueryInterface IKVTConfig", ...
//
// What each kind of fault means, per kind of call:
//
//   call                       kError          kNotOffered        kEmpty            kRaise
//   QueryInterface             E_FAIL, none    E_NOINTERFACE      S_OK, no object   E_UNEXPECTED
//   operation with a status    E_FAIL          E_NOTIMPL          S_OK, nothing     raises
//   ... and an out-object      E_FAIL, none    E_NOINTERFACE/...  S_OK, no object   raises
//   answer (text, object)      empty answer    empty answer       empty answer      raises
//
// An application server's "empty answer" to AS_GetRecords is a packet with the provider's
// columns and no row; to its other calls an empty result.
//
// QueryInterface is noexcept by contract on both sides (the module's ComPtr calls it from
// noexcept code), so a "raising" host answers it with an unexpected failure instead.
// Calls of IUnknown identity (QueryInterface for IUnknown), AddRef and Release are never
// counted or failed.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "hostintf/kvt_dbmanagerintf.h"
#include "platform/rtl/exceptions.h"
#include "tests/fakes/fake_appserver.h"
#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_opensql.h"

enum class Fault { kError, kNotOffered, kEmpty, kRaise };
inline constexpr Fault kAllFaults[] = {Fault::kError, Fault::kNotOffered, Fault::kEmpty,
                                       Fault::kRaise};
const char* FaultName(Fault fault);

// What a host raises when told to (a platform error, as a host built on the platform would
// raise).
KVT_DECLARE_EXCEPTION(EHostFault, Exception);

class FaultPlan {
 public:
  // The `n`th counted call from now on fails with `fault` (counting restarts at 0).
  void Arm(int n, Fault fault);
  // Counts on without failing anything.
  void Disarm();

  // Counts one call named `call`; answers the fault when it is the call to fail.
  std::optional<Fault> Hit(std::string call);
  // For a call that was told to raise: raises EHostFault naming the call.
  [[noreturn]] void Raise() const;

  int Calls() const { return calls_; }
  bool Fired() const { return fired_; }
  Fault Kind() const { return fault_; }
  const std::string& FailedCall() const { return failed_call_; }
  const std::vector<std::string>& Trail() const { return trail_; }

  // Called when the call to fail comes, before it fails (to note where it happened).
  std::function<void()> on_fire;

 private:
  int fail_at_ = 0;
  Fault fault_ = Fault::kError;
  int calls_ = 0;
  bool fired_ = false;
  std::string failed_call_;
  std::vector<std::string> trail_;
};

using FaultPlanPtr = std::shared_ptr<FaultPlan>;

// The host server with every service of FakeHost; its QueryInterface and every operation
// the module calls count on the plan.
class FaultyHost : public FakeHost {
 public:
  explicit FaultyHost(FaultPlanPtr plan) : plan_(std::move(plan)) {}

  HRESULT QueryInterface(const GUID& iid, void** obj) override;
  HRESULT RegisterService(IUnknown* obj) override;
  HRESULT Subscribe(const WideString& name, IKVTEventSink* sink) override;
  HRESULT CreateServerObject(const GUID& class_id, IUnknown** obj) override;
  WideString ReadValue(const WideString& path, const WideString& name,
                       const WideString& default_value) override;
  HRESULT WriteValue(const WideString& path, const WideString& name,
                     const WideString& value) override;
  HRESULT SetDriver(const WideString& database, const WideString& driver) override;
  HRESULT SetParam(const WideString& database, const WideString& key,
                   const WideString& value) override;
  HRESULT AddConnection(IKVTAlias* connection) override;
  HRESULT AddTable(const WideString& database, IKVTTableDef* table) override;
  HRESULT RegisterModule(IModuleInfo* info) override;
  HRESULT Add(IModuleInfo* info) override;
  HRESULT GetItem(const WideString& name, IVersionStatusItem** item) override;
  HRESULT LogError(const WideString& text) override;

 private:
  // The status a plain operation answers under `fault` (kRaise raises).
  HRESULT Failed(Fault fault) const;

  FaultPlanPtr plan_;
};

// A result set description whose answers count.
class FaultyTableinfo : public FakeOpenSQLResult {
 public:
  explicit FaultyTableinfo(FaultPlanPtr plan) : plan_(std::move(plan)) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override;
  WideString GetServerGUID() override;
  WideString GetProviderName() override;
  WideString GetTableName() override;

 private:
  WideString Answer(const char* call, const WideString& value);
  FaultPlanPtr plan_;
};

// A database manager whose OpenSQL counts and answers a FaultyTableinfo naming the
// provider that `provider_for` picks for the statement ("" answers no result set).
class FaultyDBManager : public FakeOpenSQLManager {
 public:
  explicit FaultyDBManager(FaultPlanPtr plan) : plan_(std::move(plan)) {}
  // (The host answers IDBManager2 by handing on its own counted QueryInterface.)
  ComPtr<IKVTTableinfo> OpenSQL(const WideString& database, const WideString& sql,
                                IKVTParams* params, bool unidirectional, bool flag,
                                Variant& table_def) override;

  std::function<std::u16string(const std::string& sql)> provider_for;
  WideString server_guid;  // what the answered result sets name as their server

 private:
  FaultPlanPtr plan_;
};

// An application server whose QueryInterface, Invoke and IAppServer calls count.
class FaultyAppServer : public FakeAppServer {
 public:
  explicit FaultyAppServer(FaultPlanPtr plan) : plan_(std::move(plan)) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override;
  HRESULT Invoke(DISPID id, const GUID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                 Variant* result, EXCEPINFO* excep, uint32_t* arg_err) override;
  HRESULT AS_GetRecords(const WideString& provider, int32_t count, int32_t* recs_out,
                        int32_t options, const WideString& command_text, Variant* params,
                        Variant* owner_data, Variant* result) override;
  HRESULT AS_ApplyUpdates(const WideString& provider, const Variant& delta, int32_t max_errors,
                          int32_t* error_count, Variant* owner_data, Variant* result) override;

 private:
  FaultPlanPtr plan_;
};

// An event parameter that answers IKVTEventContext; its calls count.
class FaultyEventContext : public Implements<IKVTEventContext> {
 public:
  explicit FaultyEventContext(FaultPlanPtr plan) : plan_(std::move(plan)) {}
  HRESULT QueryInterface(const GUID& iid, void** obj) override;
  HRESULT GetValue(int32_t* value) override;
  HRESULT SetValue(int32_t value) override;

  int32_t value = 42;
  std::vector<int32_t> set_values;
  // GetValue always raises "the event parameter failed" (without counting), so that the
  // firing's error report to the host can be failed in turn.
  bool broken = false;

 private:
  FaultPlanPtr plan_;
};

// A whole host for fault injection: the server with every service, a database manager that
// serves the register's statements, and an application server with the tables behind
// them, all counting on one plan.
//
//   providers: "version" (one row, VERSION "2022.5.1.3"), "yes" and "no" (one row, ex 1 or
//   0). Statements on vodar_version go to "version"; on vodar_g33 to `register_match`'s
//   answer; on omit1532 to `omit_match`'s.
struct FaultWorld {
  FaultWorld();
  ~FaultWorld();
  FaultWorld(const FaultWorld&) = delete;
  FaultWorld& operator=(const FaultWorld&) = delete;

  static constexpr char16_t kVersion[] = u"2022.5.1.3";

  FaultPlanPtr plan = std::make_shared<FaultPlan>();
  ComPtr<FaultyHost> host = MakeObject<FaultyHost>(plan);
  ComPtr<FaultyDBManager> manager = MakeObject<FaultyDBManager>(plan);
  ComPtr<FaultyAppServer> server = MakeObject<FaultyAppServer>(plan);
  bool register_match = false;
  bool omit_match = false;
};
