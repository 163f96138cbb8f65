// The data-access interfaces shared by the host and the module: connections, table
// definitions with their field and index descriptions, table notifications, query
// parameters, and the register manager.
//
// Operations whose result is an interface answer a counted ComPtr; setters answer a
// status (0). Errors leave an operation as an exception unless noted.
#pragma once

#include "platform/com/comptr.h"
#include "platform/com/stream.h"
#include "platform/com/variant.h"

// A database connection of a module, as the host sees it (does not count references).
struct IKVTAlias : IUnknown {
  static constexpr GUID iid = "{C07AE3A4-7BDF-4B41-9CFB-C204C78DD60F}"_guid;
  virtual WideString GetDatabasename() = 0;
  virtual HRESULT SetDatabasename(const WideString& name) = 0;
  virtual WideString GetParamText() = 0;
  virtual HRESULT SetParamText(const WideString& text) = 0;
  virtual WideString GetServerGUID() = 0;
  // Raises the platform's COM error for malformed GUID text.
  virtual HRESULT SetServerGUID(const WideString& guid) = 0;
  virtual WideString GetDriverType() = 0;

 protected:
  ~IKVTAlias() = default;
};

// One column of a table definition.
struct IKVTFieldInfo : IUnknown {
  static constexpr GUID iid = "{97FD07FA-0B4D-417F-8894-EE8B9D255C63}"_guid;
  virtual WideString GetFieldName() = 0;
  virtual int32_t GetDataType() = 0;  // field-type code (14 auto-increment, 35 GUID, ...)
  virtual int32_t GetSize() = 0;
  virtual int32_t GetRequired() = 0;   // 1 when required, else 0
  virtual int32_t GetFieldKind() = 0;  // 0 = data field
  virtual WideString GetDisplayLabel() = 0;

 protected:
  ~IKVTFieldInfo() = default;
};

// One index of a table definition. Options: primary 1, unique 2, descending 4,
// case-insensitive 8, text flag 64.
struct IKVTIndexInfo : IUnknown {
  static constexpr GUID iid = "{FBB09B67-C64C-45E4-A8B9-21CA807271BD}"_guid;
  virtual WideString GetName() = 0;
  virtual WideString GetFields() = 0;  // field names separated by ";"
  virtual int32_t GetOptions() = 0;

 protected:
  ~IKVTIndexInfo() = default;
};

// Answered by a field description whose values the server assigns.
struct IKVTAutoIncrement : IUnknown {
  static constexpr GUID iid = "{7F98CF7B-8E0E-4A1F-9325-F9949B0B89AA}"_guid;

 protected:
  ~IKVTAutoIncrement() = default;
};

// Update methods (TUpdateMethod ordinals).
enum TUpdateMethod : uint8_t {
  umReplace = 0,
  umAppend = 1,
  umAppendAndReplace = 2,
  umDelete = 3,
  umNone = 4,
  umBySecodIndex = 5,
};

// A table's description.
struct IKVTTableDef : IUnknown {
  static constexpr GUID iid = "{72AC2526-CEF2-404B-AA07-71080C3ABAA6}"_guid;
  virtual WideString GetFullname() = 0;
  virtual HRESULT SetFullname(const WideString& name) = 0;
  virtual WideString GetTableName() = 0;
  virtual HRESULT SetTableName(const WideString& name) = 0;
  virtual int32_t GetFieldCount() = 0;
  virtual ComPtr<IKVTFieldInfo> GetField(int32_t index) = 0;  // a new description each call
  virtual int32_t GetIndexCount() = 0;
  virtual ComPtr<IKVTIndexInfo> GetIndex(int32_t index) = 0;  // a new description each call
  virtual WideString GetProviderName() = 0;
  virtual HRESULT SetProviderName(const WideString& name) = 0;
  virtual int32_t GetUpdateType() = 0;  // TUpdateMethod ordinal

 protected:
  ~IKVTTableDef() = default;
};

// Notifications from the host to a table. The UnsupportedN slots belong to the host's
// protocol; a table that does not take part answers E_FAIL after clearing any output.
struct IKVTTableNotify : IUnknown {
  static constexpr GUID iid = "{603BD9A5-AFD6-49EC-BD47-91F5D18459AA}"_guid;
  virtual HRESULT Unsupported1(const Variant& arg) = 0;
  virtual HRESULT Unsupported2(const Variant& arg1, const Variant& arg2, const Variant& arg3) = 0;
  virtual HRESULT Unsupported3() = 0;
  virtual HRESULT RefreshData() = 0;
  virtual HRESULT NotifyDataUpdate() = 0;
  virtual HRESULT NotifyValCheck(Variant* result) = 0;
  virtual HRESULT Unsupported7(Variant* result) = 0;
  virtual HRESULT Unsupported8(Variant* result) = 0;

 protected:
  ~IKVTTableNotify() = default;
};

struct IKVTUpdateMethod : IUnknown {
  static constexpr GUID iid = "{EE624287-1AE4-48D7-ABF9-0AC753B5B680}"_guid;
  virtual int32_t GetUpdateType() = 0;
  virtual HRESULT SetUpdateType(int32_t value) = 0;

 protected:
  ~IKVTUpdateMethod() = default;
};

struct IKVTTableAux : IUnknown {
  static constexpr GUID iid = "{57A2B59E-7106-4E74-B3EF-CF53D31EC0BD}"_guid;
  virtual int32_t GetTag() = 0;

 protected:
  ~IKVTTableAux() = default;
};

// One query parameter, read and written live.
struct IKVTParam : IUnknown {
  static constexpr GUID iid = "{9DA5B6CE-95ED-484B-983E-CE7B878726D8}"_guid;
  virtual int32_t GetDataType() = 0;
  virtual void SetDataType(int32_t value) = 0;
  virtual int32_t GetPrecision() = 0;
  virtual void SetPrecision(int32_t value) = 0;
  virtual int32_t GetNumericScale() = 0;
  virtual void SetNumericScale(int32_t value) = 0;
  virtual WideString GetName() = 0;
  virtual void SetName(const WideString& value) = 0;
  virtual int32_t GetParamType() = 0;
  virtual void SetParamType(int32_t value) = 0;
  virtual int32_t GetSize() = 0;
  virtual void SetSize(int32_t value) = 0;
  virtual Variant GetValue() = 0;
  virtual void SetValue(const Variant& value) = 0;

 protected:
  ~IKVTParam() = default;
};

// A parameter's value as bytes.
struct IKVTParamStream : IUnknown {
  static constexpr GUID iid = "{0F5DB2D3-D669-4FDF-A9E2-FADB0660E041}"_guid;
  // A new stream holding the value as single-byte text, positioned after its last byte.
  virtual ComPtr<IStream> GetAsStream() = 0;
  // Makes the stream's whole content the value (data type 15, binary large object).
  virtual void LoadFromStream(IStream* stream) = 0;

 protected:
  ~IKVTParamStream() = default;
};

struct IKVTParams : IUnknown {
  static constexpr GUID iid = "{159C4E14-2FC2-429B-94D7-2C30E61D821C}"_guid;
  virtual int32_t GetCount() = 0;
  // A new wrapper over the entry; raises EListError outside the list.
  virtual ComPtr<IKVTParam> GetItem(int32_t index) = 0;

 protected:
  ~IKVTParams() = default;
};
