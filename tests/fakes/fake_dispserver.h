// Server objects and activation scopes for connection tests.
//
//   FakeDispServer      answers IDispatch (and IKVTDatabaseInfo when asked to), records
//                       every late-bound call; `on_invoke` lets a test answer one
//   FakeDirectAppServer answers IAppServer itself
//   ScopedComClass      a class in the COM class table for the scope's lifetime
//   ScopedComputer      a computer in the remote-activation table for the scope
//   ScopedLocalComputerName  this computer's name for the scope
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "hostintf/kvt_dbmanagerintf.h"
#include "platform/com/activation.h"
#include "platform/com/dispatch.h"
#include "platform/com/object.h"
#include "platform/db/appserver.h"

class FakeDispServer : public Implements<IDispatch, IKVTDatabaseInfo> {
 public:
  struct Call {
    DISPID id;
    uint16_t flags;
    uint32_t named;
    std::vector<Variant> args;  // first to last, by-reference ones followed
  };
  using InvokeHandler =
      std::function<HRESULT(DISPID id, DISPPARAMS* params, Variant* result, EXCEPINFO* excep)>;

  FakeDispServer() { ++alive; }
  // A new reference to the object's identity.
  ComPtr<IUnknown> Unknown() { return ComPtr<IUnknown>(static_cast<IDispatch*>(this)); }

  bool database_info = false;  // whether IKVTDatabaseInfo is answered
  std::vector<Call> calls;
  // Answers a call after it is recorded; without a handler: S_OK, result = the id.
  InvokeHandler on_invoke;
  // Runs in the destructor (to see what else is alive at that moment).
  std::function<void()> on_destroy;
  static inline int alive = 0;  // FakeDispServer objects alive

  HRESULT GetTypeInfoCount(uint32_t* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(const GUID&, const WideString*, uint32_t, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID id, const GUID& iid, LCID lcid, uint16_t flags, DISPPARAMS* params,
                 Variant* result, EXCEPINFO* excep, uint32_t* arg_err) override;
  WideString GetDriverName() override { return u"BDE"; }

 protected:
  ~FakeDispServer() override {
    --alive;
    if (on_destroy) on_destroy();
  }
  bool FindInterface(const GUID& iid, void** obj) noexcept override {
    if (iid == IKVTDatabaseInfo::iid && !database_info) return false;
    return Implements::FindInterface(iid, obj);
  }
};

class FakeDirectAppServer : public Implements<IAppServer> {
 public:
  HRESULT GetTypeInfoCount(uint32_t* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT GetTypeInfo(uint32_t, LCID, ITypeInfo** info) override {
    *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT GetIDsOfNames(const GUID&, const WideString*, uint32_t, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT Invoke(DISPID, const GUID&, LCID, uint16_t, DISPPARAMS*, Variant*, EXCEPINFO*,
                 uint32_t*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT AS_ApplyUpdates(const WideString&, const Variant&, int32_t, int32_t*, Variant*,
                          Variant* result) override;
  HRESULT AS_GetRecords(const WideString&, int32_t, int32_t*, int32_t, const WideString&, Variant*,
                        Variant*, Variant* result) override;
  HRESULT AS_DataRequest(const WideString&, const Variant&, Variant* result) override;
  HRESULT AS_GetProviderNames(Variant* result) override;
  HRESULT AS_GetParams(const WideString&, Variant*, Variant* result) override;
  HRESULT AS_RowRequest(const WideString&, const Variant&, int32_t, Variant*,
                        Variant* result) override;
  HRESULT AS_Execute(const WideString&, const WideString&, Variant*, Variant*) override;
};

class ScopedComClass {
 public:
  explicit ScopedComClass(ComClassInfo info) : clsid_(info.clsid) { RegisterComClass(info); }
  ~ScopedComClass() { UnregisterComClass(clsid_); }
  ScopedComClass(const ScopedComClass&) = delete;
  ScopedComClass& operator=(const ScopedComClass&) = delete;

 private:
  CLSID clsid_;
};

// This computer's name for the scope.
class ScopedLocalComputerName {
 public:
  explicit ScopedLocalComputerName(const std::string& name) : saved_(LocalComputerName()) {
    SetLocalComputerName(name);
  }
  ~ScopedLocalComputerName() { SetLocalComputerName(saved_); }
  ScopedLocalComputerName(const ScopedLocalComputerName&) = delete;
  ScopedLocalComputerName& operator=(const ScopedLocalComputerName&) = delete;

 private:
  std::string saved_;
};

class ScopedComputer {
 public:
  explicit ScopedComputer(std::string name, bool reachable = true) : name_(std::move(name)) {
    RegisterComputer(name_, reachable);
  }
  ~ScopedComputer() { UnregisterComputer(name_); }
  ScopedComputer(const ScopedComputer&) = delete;
  ScopedComputer& operator=(const ScopedComputer&) = delete;
  void Serve(const CLSID& clsid, ClassFactory factory) {
    RegisterComputerClass(name_, clsid, std::move(factory));
  }

 private:
  std::string name_;
};
