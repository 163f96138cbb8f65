// The host's commands that report what modules registered. Each writes its report to `out`
// and its errors to stderr, and answers the process's exit code.
//
//   info    for each module of the host's module list: name, caption, version, update
//           setting, and the version status it publishes (PublishVersionStatus(0)). A call
//           into the module that fails shows its error in place of the value.
//   tables  for each registered table: full name, database, table and provider name,
//           fields (name, type code, size, label) and indexes (name, fields, options).
#pragma once

#include <cstdio>

class THostServer;

int RunInfo(THostServer& server, std::FILE* out);
int RunTables(THostServer& server, std::FILE* out);
