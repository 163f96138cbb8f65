// The host server and the services it offers to modules.
//
// Operations keep the host's slot order exactly; slots the module never calls are
// declared as ReservedN placeholders so that positions stay right. A host answers them
// with E_NOTIMPL.
#pragma once

#include "platform/com/unknown.h"
#include "platform/com/widestring.h"

struct IModuleInfo;
struct IKVTAlias;
struct IKVTTableDef;

// Exported by the host executable: hands out the host server for IKVTServer's iid.
using TServerQueryInterface = HRESULT (*)(const GUID& iid, void** obj);
inline constexpr const char kServerQueryInterfaceName[] = "Server_QueryInterface";

// A module's handler of a host event; the host holds it while subscribed.
struct IKVTEventSink : IUnknown {
  static constexpr GUID iid = "{246E7A18-429A-4028-8280-D263DF50878E}"_guid;
  // The event fired; `param` is the event's parameter or null. Answers 0.
  virtual HRESULT Notify(IUnknown* param) = 0;

 protected:
  ~IKVTEventSink() = default;
};

// A value pair an event parameter may carry.
struct IKVTEventContext : IUnknown {
  static constexpr GUID iid = "{29D7CFFE-EBD9-4783-AD36-4B7F93849053}"_guid;
  virtual HRESULT GetValue(int32_t* value) = 0;
  virtual HRESULT SetValue(int32_t value) = 0;

 protected:
  ~IKVTEventContext() = default;
};

struct IKVTServer : IUnknown {
  static constexpr GUID iid = "{90F3F42C-0F88-478D-A234-101D4F85F9CA}"_guid;
  virtual HRESULT Reserved1() = 0;
  virtual HRESULT Reserved2() = 0;
  virtual HRESULT Reserved3() = 0;
  virtual HRESULT Reserved4() = 0;
  virtual HRESULT Reserved5() = 0;
  virtual HRESULT Reserved6() = 0;
  virtual HRESULT Reserved7() = 0;
  virtual HRESULT Reserved8() = 0;
  virtual HRESULT Reserved9() = 0;
  virtual HRESULT Reserved10() = 0;
  // 11: the host keeps `obj` (adds a reference) as a service of the module.
  virtual HRESULT RegisterService(IUnknown* obj) = 0;
  // 12: the host keeps `sink` and notifies it whenever the event `name` fires.
  virtual HRESULT Subscribe(const WideString& name, IKVTEventSink* sink) = 0;
  virtual HRESULT Reserved13() = 0;

 protected:
  ~IKVTServer() = default;
};

struct IKVTServer2 : IUnknown {
  static constexpr GUID iid = "{364AB0D1-A24C-40B5-A735-3D8D0FD05503}"_guid;
  virtual HRESULT Reserved1() = 0;
  // 2: creates the host's server object registered under `class_id`; *obj receives an
  // added reference to it. The object answers IDispatch.
  virtual HRESULT CreateServerObject(const GUID& class_id, IUnknown** obj) = 0;

 protected:
  ~IKVTServer2() = default;
};

struct IKVTConfig : IUnknown {
  static constexpr GUID iid = "{AA93DA50-5AC7-424E-9C16-24D8B5F35468}"_guid;
  // The value `name` under the key `path`, or `default_value` when none is stored.
  virtual WideString ReadValue(const WideString& path, const WideString& name,
                               const WideString& default_value) = 0;
  virtual HRESULT WriteValue(const WideString& path, const WideString& name,
                             const WideString& value) = 0;
  virtual HRESULT Reserved3() = 0;
  virtual HRESULT Reserved4() = 0;
  virtual HRESULT Reserved5() = 0;
  virtual HRESULT Reserved6() = 0;

 protected:
  ~IKVTConfig() = default;
};

// Storage settings per database name.
struct IKVTDatabaseConfig : IUnknown {
  static constexpr GUID iid = "{5107686D-1372-45D4-BCC5-63D7B70FFE7F}"_guid;
  virtual int32_t GetDatabaseCount() = 0;
  virtual WideString GetDatabaseName(int32_t index) = 0;
  virtual HRESULT AddDatabase(const WideString& database) = 0;
  virtual HRESULT RemoveDatabase(const WideString& database) = 0;
  // 5
  virtual HRESULT SetDriver(const WideString& database, const WideString& driver) = 0;
  virtual WideString GetDriver(const WideString& database) = 0;
  virtual WideString GetParam(const WideString& database, const WideString& key) = 0;
  // 8
  virtual HRESULT SetParam(const WideString& database, const WideString& key,
                           const WideString& value) = 0;

 protected:
  ~IKVTDatabaseConfig() = default;
};

struct IKVTConnectionRegistry : IUnknown {
  static constexpr GUID iid = "{AA8D8F6B-4CAF-404D-A7F2-E892D0F802E1}"_guid;
  // The host keeps the connection (which does not count references) while the module
  // lives, and writes its ServerGUID.
  virtual HRESULT AddConnection(IKVTAlias* connection) = 0;

 protected:
  ~IKVTConnectionRegistry() = default;
};

struct IKVTTableRegistry : IUnknown {
  static constexpr GUID iid = "{09B8EAA1-9027-4CEA-9B6D-9A8909D10EBF}"_guid;
  // The host keeps the table definition (which does not count references).
  virtual HRESULT AddTable(const WideString& database, IKVTTableDef* table) = 0;

 protected:
  ~IKVTTableRegistry() = default;
};

struct IModuleRegistrar : IUnknown {
  static constexpr GUID iid = "{68A7125A-8B1E-4253-8865-1E1A3675BECF}"_guid;
  virtual HRESULT RegisterModule(IModuleInfo* info) = 0;

 protected:
  ~IModuleRegistrar() = default;
};

// A place in the host's window where a module shows a short text.
struct IVersionStatusItem : IUnknown {
  static constexpr GUID iid = "{3F6B2C1E-9A4D-4E7B-8C21-5D0A7E93B46F}"_guid;
  virtual HRESULT SetText(const WideString& text, int32_t param) = 0;

 protected:
  ~IVersionStatusItem() = default;
};

struct IVersionStatusService : IUnknown {
  static constexpr GUID iid = "{B3D13298-8073-4D2E-A4E5-1D905042C8ED}"_guid;
  // The item for a module name; answers 0 (with *item set) to go on.
  virtual HRESULT GetItem(const WideString& name, IVersionStatusItem** item) = 0;

 protected:
  ~IVersionStatusService() = default;
};

struct IKVTErrorLog : IUnknown {
  static constexpr GUID iid = "{175A4DB2-E14E-42A5-9233-87D2EDBD47A4}"_guid;
  virtual HRESULT LogMessage(const WideString& text) = 0;
  virtual HRESULT LogWarning(const WideString& text) = 0;
  // 3
  virtual HRESULT LogError(const WideString& text) = 0;

 protected:
  ~IKVTErrorLog() = default;
};
