// The module's Python contents: the functions the object wrapper registers in "dudoreri",
// and the C++ functions behind them. Their errors reach Python as dudoreri.Error with the
// error's message; without the register data module (before start-up step 7 or after
// unload) they raise EInvalidOperation "The register is not available".
#pragma once

#include <vector>

#include "platform/com/widestring.h"
#include "platform/python/pyembed.h"

// check_code(code) -> bool: whether the code concerns the register or the order-1532 list.
bool ModuleCheckCode(const WideString& code);
// check_omit(code) -> bool: the order-1532 list alone.
bool ModuleCheckOmit(const WideString& code);
// show_code(code): has the host's Python package show the register entries for the code
// (what the manager's ShowCode does).
void ModuleShowCode(const WideString& code);

struct ModuleDescription {
  WideString name, caption, version;
};
// module_info() -> {"name", "caption", "version"}: what the module-information object
// answers (the version read from the register on every call).
ModuleDescription ModuleDescribe();

// The table the object wrapper registers: check_code, check_omit, show_code, module_info,
// and host_attached() -> bool (whether HostServer is set, for diagnostics).
std::vector<PyFunction> ModulePythonFunctions();
