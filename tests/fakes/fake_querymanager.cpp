#include "tests/fakes/fake_querymanager.h"

#include "platform/rtl/exceptions.h"

ComPtr<FakeTableDescription> FakeTableDescription::Make(std::vector<Column> columns,
                                                        std::vector<std::string> indexes) {
  auto d = MakeObject<FakeTableDescription>();
  d->columns = std::move(columns);
  d->indexes = std::move(indexes);
  return d;
}

ComPtr<IKVTFieldInfo> FakeTableDescription::GetField(int32_t index) {
  if (index < 0 || index >= GetFieldCount()) throw EListError::IndexOutOfBounds(index);
  const Column& c = columns[static_cast<size_t>(index)];
  return MakeObject<FakeFieldDescription>(c.name, c.type, c.size);
}

ComPtr<IKVTIndexInfo> FakeTableDescription::GetIndex(int32_t index) {
  if (index < 0 || index >= GetIndexCount()) throw EListError::IndexOutOfBounds(index);
  return MakeObject<FakeIndexDescription>(indexes[static_cast<size_t>(index)]);
}

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
