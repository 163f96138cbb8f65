// A host that serves the register's commodity-code checks to an in-process data module:
// a FakeHost whose database manager answers the register's statement ("FROM vodar_g33")
// and the exception list's with one row whose "ex" is 1 or 0 as the test says, through an
// application server that the alias connection reaches with CreateServerObject.
//
//   FakeRegisterHost r;
//   HostServer = r.host->Server();
//   std::unique_ptr<Tdm> form(DataModule::Create<Tdm>());
//   r.manager->omit_match = true;
//   form->CheckOmit(u"8517");        // true; r.manager->calls holds the statement
#pragma once

#include "tests/fakes/fake_appserver.h"
#include "tests/fakes/fake_host.h"
#include "tests/fakes/fake_querymanager.h"

class FakeCheckManager : public FakeQueryManager {
 public:
  bool register_match = false;
  bool omit_match = false;

  // Answers provider "yes" or "no" by the statement's table, then records as the base does.
  ComPtr<IKVTTableinfo> OpenSQL(const WideString& database, const WideString& sql,
                                IKVTParams* params, bool unidirectional, bool flag,
                                Variant& table_def) override;
};

struct FakeRegisterHost {
  FakeRegisterHost();
  ~FakeRegisterHost();
  FakeRegisterHost(const FakeRegisterHost&) = delete;
  FakeRegisterHost& operator=(const FakeRegisterHost&) = delete;

  ComPtr<FakeHost> host = MakeObject<FakeHost>();
  ComPtr<FakeCheckManager> manager = MakeObject<FakeCheckManager>();
  ComPtr<FakeAppServer> server = MakeObject<FakeAppServer>();
};
