// The host's database manager and the result sets it prepares.
#pragma once

#include "platform/com/comptr.h"
#include "platform/com/variant.h"

struct IKVTParams;

// A result set the host has prepared: which provider on which application server serves it.
struct IKVTTableinfo : IUnknown {
  static constexpr GUID iid = "{47616D1E-F451-4C2B-8FF7-463EB0712D84}"_guid;
  virtual WideString GetDatabaseName() = 0;
  // 2: the braced class identifier of the application server.
  virtual WideString GetServerGUID() = 0;
  // 3
  virtual WideString GetProviderName() = 0;
  virtual int32_t GetRecordCount() = 0;
  virtual WideString GetSQL() = 0;
  // 6
  virtual WideString GetTableName() = 0;

 protected:
  ~IKVTTableinfo() = default;
};

// What a server object tells of the database behind it.
struct IKVTDatabaseInfo : IUnknown {
  static constexpr GUID iid = "{0FBB945A-984F-4078-B04B-F9ADC3860A2F}"_guid;
  virtual WideString GetDriverName() = 0;

 protected:
  ~IKVTDatabaseInfo() = default;
};

struct IDBManager2 : IUnknown {
  static constexpr GUID iid = "{4B83D772-AA33-476A-89A3-956F602FEF98}"_guid;
  virtual HRESULT Reserved1() = 0;
  virtual HRESULT Reserved2() = 0;
  virtual HRESULT Reserved3() = 0;
  virtual HRESULT Reserved4() = 0;
  virtual HRESULT Reserved5() = 0;
  // 6: runs `sql` on `database` with `params` (may be null) and answers the result set,
  // or null. `table_def` holds the caller's IKVTTableDef (as IUnknown) or is empty; when
  // it is empty the host may put a description of the result's columns into it. Errors
  // (an unknown database, an SQL error) are raised.
  virtual ComPtr<IKVTTableinfo> OpenSQL(const WideString& database, const WideString& sql,
                                        IKVTParams* params, bool unidirectional, bool flag,
                                        Variant& table_def) = 0;
  virtual HRESULT Reserved7() = 0;
  virtual HRESULT Reserved8() = 0;
  virtual HRESULT Reserved9() = 0;
  virtual HRESULT Reserved10() = 0;
  virtual HRESULT Reserved11() = 0;
  virtual HRESULT Reserved12() = 0;
  virtual HRESULT Reserved13() = 0;
  virtual HRESULT Reserved14() = 0;
  virtual HRESULT Reserved15() = 0;
  virtual HRESULT Reserved16() = 0;
  virtual HRESULT Reserved17() = 0;
  virtual HRESULT Reserved18() = 0;

 protected:
  ~IDBManager2() = default;
};
