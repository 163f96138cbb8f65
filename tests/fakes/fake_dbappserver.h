// A FakeAppServer that also tells which database driver is behind it (IKVTDatabaseInfo),
// as a host's server object does.
#pragma once

#include "hostintf/kvt_dbmanagerintf.h"
#include "tests/fakes/fake_appserver.h"

class FakeDatabaseAppServer : public ImplementsMore<FakeAppServer, IKVTDatabaseInfo> {
 public:
  WideString GetDriverName() override { return WideString::FromUtf8(driver); }
  // The IUnknown to hand out from a host's CreateServerObject.
  ComPtr<IUnknown> Unknown() { return ComPtr<IUnknown>(static_cast<IDispatch*>(this)); }

  std::string driver = "BDE";
};
