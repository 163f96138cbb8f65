// Stands in for the host executable's export Server_QueryInterface inside a unit-test
// executable, so that the module's real lookup (FindMainProgramSymbol) finds it. The test
// executable must export its symbols (CMake ENABLE_EXPORTS; see tests/CMakeLists.txt).
//
//   FakeServerExport::Answer(host->Server());   // hands out the host's IKVTServer
//   FakeServerExport::Fail(E_FAIL);             // answers a failure, no object
//   FakeServerExport::Empty();                  // answers S_OK but no object
//   ... FakeServerExport::Calls() ...           // the identifiers asked for, in order
//   FakeServerExport::Reset();                  // drops the server reference
#pragma once

#include <vector>

#include "hostintf/kvt_serverintf.h"
#include "platform/com/comptr.h"

struct FakeServerExport {
  static void Answer(ComPtr<IUnknown> server);
  static void Fail(HRESULT hr);
  static void Empty();
  static void Reset();
  static const std::vector<GUID>& Calls();
};
