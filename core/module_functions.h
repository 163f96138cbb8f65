// The module's Python contents: the functions the object wrapper registers in "dudoreri",
// and the C++ functions behind them. Until the register, its manager and the module
// information exist, those raise EInvalidOperation, which Python sees as dudoreri.Error.
#pragma once

#include <vector>

#include "platform/com/widestring.h"
#include "platform/python/pyembed.h"

// check_code(code) -> bool: whether the code concerns the register or the order-1532 list.
bool ModuleCheckCode(const WideString& code);
// check_omit(code) -> bool: the order-1532 list alone.
bool ModuleCheckOmit(const WideString& code);
// show_code(code): has the host's Python package show the register entries for the code.
void ModuleShowCode(const WideString& code);

struct ModuleDescription {
  WideString name, caption, version;
};
// module_info() -> {"name", "caption", "version"}.
ModuleDescription ModuleDescribe();

// The table the object wrapper registers: check_code, check_omit, show_code, module_info,
// and host_attached() -> bool (whether HostServer is set, for diagnostics).
std::vector<PyFunction> ModulePythonFunctions();
