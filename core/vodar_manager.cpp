#include "core/vodar_manager.h"

#include "platform/python/pyembed.h"
#include "platform/rtl/datetime.h"
#include "platform/rtl/exceptions.h"
#include "register/vodar_data.h"

namespace {

// The register's data module; raises once the module has been unloaded (the host may hold
// the manager longer than the module lives).
Tdm& Register() {
  if (dm == nullptr) throw EInvalidOperation("The register is not available");
  return *dm;
}

// The engine start-up bound to the running interpreter; raises without one.
PythonEngine& ModuleEngine() {
  PythonEngine* engine = FindPythonEngine();
  if (engine == nullptr) throw EPythonError("The module has no Python engine");
  return *engine;
}

}  // namespace

TVodarManager::~TVodarManager() = default;

HRESULT TVodarManager::ShowCode(const WideString& code) {
  PythonEngine& engine = ModuleEngine();
  if (!engine.IsLoaded()) return S_OK;
  // The whole sequence under one hold of the interpreter lock: the host may call from a
  // thread that does not hold it, and the package must not change between the steps.
  PythonLock lock;
  if (!engine.IsModuleLoaded(kHostPackage)) return S_OK;
  PyHandle manager = engine.ImportModule(kHostManagerModule);
  const bool omitted = Register().CheckOmit(code);
  engine.CallFunction(manager, "showcode",
                      {PyValue::Text(code), PyValue::DateTime(Now()), PyValue::Bool(omitted)});
  return S_OK;
}

HRESULT TVodarManager::CheckCode(const WideString& code, bool* found) {
  if (found == nullptr) return E_POINTER;
  *found = false;
  *found = Register().CheckCode(code);
  return S_OK;
}

bool TVodarManager::IsModuleLoaded(std::string_view name) {
  PythonEngine& engine = ModuleEngine();
  return engine.IsLoaded() && engine.IsModuleLoaded(name);
}
