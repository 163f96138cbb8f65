// What a host's database manager sees of a client query, for unit tests: a manager that
// records the parameters it receives through IKVTParams and the description the caller
// put into the variable, and puts a prepared description of the result back.
//
//   auto manager = MakeObject<FakeQueryManager>();
//   manager->answer = result;                       // as FakeOpenSQLManager
//   auto def = MakeObject<FakeTableDef>();          // tests/fakes/fake_tabledef.h
//   def->AddField("ex", ftInteger);
//   manager->description = def;
//   host->AddService(IDBManager2::iid, manager);
#pragma once

#include <functional>
#include <vector>

#include "hostintf/kvt_TLB.h"
#include "tests/fakes/fake_opensql.h"

class FakeQueryManager : public FakeOpenSQLManager {
 public:
  // One parameter as OpenSQL read it through IKVTParams.
  struct SeenParam {
    WideString name;
    int32_t data_type;
    Variant value;
  };
  // Records the parameters and what the variable held, runs `during`, then records the
  // call and answers or raises as FakeOpenSQLManager does; when answering, puts
  // `description` into a variable that is still empty.
  ComPtr<IKVTTableinfo> OpenSQL(const WideString& database, const WideString& sql,
                                IKVTParams* params, bool unidirectional, bool flag,
                                Variant& table_def) override;

  ComPtr<IKVTTableDef> description;
  std::function<void(IKVTParams*)> during;
  std::vector<std::vector<SeenParam>> seen_params;  // per call
  std::vector<IUnknown*> seen_table_defs;           // per call; null when empty (not counted)
};
