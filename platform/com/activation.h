// COM activation: the process-wide class table behind CoCreateInstance, ProgID and class
// identifier lookups, the task allocator, and the table of computers reachable for remote
// activation (CoCreateInstanceEx).
//
// Tests and hosts fill the tables:
//
//   RegisterComClass({clsid, "Vendor.Server", CLSCTX_LOCAL_SERVER, factory, {category}});
//   RegisterComputer("far");                    // reachable, no classes yet
//   RegisterComputerClass("far", clsid, factory);
//   SetComputerReachable("far", false);         // activation there: RPC_E_SERVER_UNAVAILABLE
//
// Registering a class also writes its registry keys below HKEY_CLASSES_ROOT (registry.h):
// CLSID\{clsid} with ProgID, the server kind and Implemented Categories\{category}, and
// <ProgID>\CLSID. The ProgID lookups read those keys, as the system's do.
//
// The component category manager (comcat.h) is registered from the start.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/com/comptr.h"
#include "platform/com/widestring.h"

// Class contexts: where a server may run.
constexpr DWORD CLSCTX_INPROC_SERVER = 0x1;
constexpr DWORD CLSCTX_INPROC_HANDLER = 0x2;
constexpr DWORD CLSCTX_LOCAL_SERVER = 0x4;
constexpr DWORD CLSCTX_REMOTE_SERVER = 0x10;
constexpr DWORD CLSCTX_SERVER = CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// Some of the interfaces asked of CoCreateInstanceEx were answered, not all.
constexpr HRESULT CO_S_NOTALLINTERFACES = 0x00080012;

// Makes a new object of a class. An empty answer or an exception fails the activation
// with CO_E_SERVER_EXEC_FAILURE (an EOleSysError keeps its own code).
using ClassFactory = std::function<ComPtr<IUnknown>()>;

struct ComClassInfo {
  CLSID clsid;
  std::string prog_id;                   // may be empty
  DWORD context = CLSCTX_INPROC_SERVER;  // CLSCTX_INPROC_SERVER or CLSCTX_LOCAL_SERVER
  ClassFactory factory;
  std::vector<GUID> implemented_categories;
};

// Registers (or replaces) a class on this computer, with its registry keys.
void RegisterComClass(const ComClassInfo& info);
// Removes a class, its registry keys and those of its ProgID; unknown classes are ignored.
void UnregisterComClass(const CLSID& clsid);

// Creates an object of `clsid` on this computer in one of the contexts `context` and asks
// it for `iid`. Answers S_OK; REGDB_E_CLASSNOTREG (no such class for those contexts),
// CLASS_E_NOAGGREGATION (`outer` given), E_NOINTERFACE (the object was made and released),
// or the failure of the class's factory.
HRESULT CoCreateInstance(const CLSID& clsid, IUnknown* outer, DWORD context, const IID& iid,
                         void** obj);

struct COSERVERINFO {
  DWORD dwReserved1 = 0;
  const char16_t* pwszName = nullptr;  // the computer; null or empty: this computer
  void* pAuthInfo = nullptr;
  DWORD dwReserved2 = 0;
};

struct MULTI_QI {
  const IID* pIID = nullptr;
  IUnknown* pItf = nullptr;  // receives an added reference, or null
  HRESULT hr = S_OK;
};

// Creates an object of `clsid` on the computer named in `server` and asks it for every
// interface in `results`. Without a name, or with this computer's name, the object is
// made here, the request widened to in-process and local servers. Another name must be
// in the computer table and reachable (RPC_E_SERVER_UNAVAILABLE otherwise); the class
// must be registered on it (REGDB_E_CLASSNOTREG). Answers S_OK, CO_S_NOTALLINTERFACES,
// E_NOINTERFACE when no interface was answered, or the activation's failure.
HRESULT CoCreateInstanceEx(const CLSID& clsid, IUnknown* outer, DWORD context, COSERVERINFO* server,
                           DWORD count, MULTI_QI* results);

// The class identifier registered for a ProgID; CO_E_CLASSSTRING (and *clsid all zero)
// when there is none.
HRESULT CLSIDFromProgID(const char16_t* prog_id, CLSID* clsid);
// The ProgID registered for a class: *prog_id receives task memory that the caller frees
// with CoTaskMemFree. REGDB_E_CLASSNOTREG (and *prog_id null) when there is none.
HRESULT ProgIDFromCLSID(const CLSID& clsid, char16_t** prog_id);

// The task allocator: memory handed across COM calls.
void* CoTaskMemAlloc(size_t size);
void CoTaskMemFree(void* p);  // null is allowed
// Allocations not yet freed (for leak checks in tests).
int64_t CoTaskMemOutstanding();

// This computer's name (the host name at first).
std::string LocalComputerName();
void SetLocalComputerName(const std::string& name);
// The computers that remote activation can reach. Names compare without regard to the
// case of Latin letters. Registering a known computer keeps its classes.
void RegisterComputer(const std::string& name, bool reachable = true);
void UnregisterComputer(const std::string& name);
void SetComputerReachable(const std::string& name, bool reachable);
// A class that the computer `computer` (registered first) serves.
void RegisterComputerClass(const std::string& computer, const CLSID& clsid, ClassFactory factory);

// The platform's helpers over the calls above; both raise EOleSysError on failure.
// An object of `clsid` made here, in-process or as a local server.
ComPtr<IUnknown> CreateComObject(const CLSID& clsid);
// An object of `clsid` made on `machine` (empty or this computer's name: made here).
ComPtr<IUnknown> CreateRemoteComObject(const WideString& machine, const CLSID& clsid);
