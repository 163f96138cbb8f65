#include "tests/fakes/fake_querymanager.h"

ComPtr<IKVTTableinfo> FakeQueryManager::OpenSQL(const WideString& database, const WideString& sql,
                                                IKVTParams* params, bool unidirectional, bool flag,
                                                Variant& table_def) {
  std::vector<SeenParam> seen;
  if (params) {
    for (int32_t i = 0, n = params->GetCount(); i < n; ++i) {
      ComPtr<IKVTParam> p = params->GetItem(i);
      seen.push_back({p->GetName(), p->GetDataType(), p->GetValue()});
    }
  }
  seen_params.push_back(std::move(seen));
  seen_table_defs.push_back(table_def.IsEmpty() ? nullptr : table_def.ToUnknown().Get());
  if (during) during(params);
  ComPtr<IKVTTableinfo> answer =
      FakeOpenSQLManager::OpenSQL(database, sql, params, unidirectional, flag, table_def);
  if (description && table_def.IsEmpty())
    table_def = Variant(ComPtr<IUnknown>(static_cast<IUnknown*>(description.Get())));
  return answer;
}
