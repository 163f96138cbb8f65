// The module-information object of the register module: "VODAR", its caption and the
// version of the register's data.
#pragma once

#include <string>

#include "hostintf/kvt_dbmanagerintf.h"
#include "hostintf/kvt_serverintf.h"
#include "moduleinfo/kvt_ModuleInfoImpl.h"

class TVodarInfo : public TBASEInfo {
 public:
  TVodarInfo() = default;

  static constexpr char kModuleName[] = "VODAR";
  static constexpr char16_t kCaption[] = u"Объекты интеллектуальной собственности";
  static constexpr char16_t kStatusCaption[] = u"Объекты ИС";

  // "VODAR", followed by "_TEST" while the marker file ".test" stands beside the host
  // executable; looked up on every call.
  WideString GetName() override;
  WideString GetCaption() override;
  // The version of the register's data, read from the database on every call.
  WideString GetVersion() override;
  // "Объекты ИС: <short version>" to the host's version status item of GetName().
  HRESULT PublishVersionStatus(int32_t param) override;

 protected:
  ~TVodarInfo() override;
  // Hands the object to the host's IModuleRegistrar, then runs the base steps (the host's
  // module list, the configuration): the registrar receives it before the list does.
  void AfterConstruction() override;
};

// What the module's information object answers for its name and version, without making
// one (making one registers it with the host).
WideString VodarModuleName();
WideString VodarDataVersion();

// Creates the module's information object and leaves it to the host; answers True.
bool CreateVodarInfo();

// The version text of the register database `database_name` (UTF-8):
//   "1.0.0.0" when there is no host server, no IDBManager2, or OpenSQL answers nothing;
//   "Версия не установлена" when the answer's first value is empty;
//   otherwise that value. Errors of the host and of reading the answer reach the caller.
WideString ReadDatabaseVersion(const std::string& database_name);

// Reads the text of the first field of the first row of the result set `info` through a
// client table attached to it (no connection component, `server` as the host's
// IKVTServer2, no table description); the table is freed also on error. Answers "" when
// the result has no row.
std::string ReadFirstValueOfResult(const ComPtr<IKVTTableinfo>& info,
                                   const ComPtr<IKVTServer2>& server);
