#include "tests/fakes/fake_opensql.h"

#include "platform/rtl/exceptions.h"

ComPtr<IKVTTableinfo> FakeOpenSQLManager::OpenSQL(const WideString& database, const WideString& sql,
                                                  IKVTParams* params, bool unidirectional,
                                                  bool flag, Variant& table_def) {
  calls.push_back({database, sql, params != nullptr, unidirectional, flag, table_def.IsEmpty()});
  if (error) throw EDatabaseError(*error);
  return answer;
}
