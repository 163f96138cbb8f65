// The module's start-up (what initkvtinpro runs) and its unload order, and the seams through
// which the parts built on top of the entry join in.
//
// Start-up, in this order: 1 the Python module component "dudoreri"; 2 HostServer through
// the main program's Server_QueryInterface; 3 the embedding engine, bound to the running
// interpreter; 4 the module component attached to it; 5 the object wrapper, which registers
// the module's Python contents; 6 the module object; 7 the data module `dm`; 8 the
// module-information object; 9 with a host server, the manager handed to the host. An error
// at any step ends start-up silently there; what earlier steps made stays until unload.
//
// Unload, in this order: the module component, then `dm`; the engine if start-up created
// it; the object wrapper; HostServer last. Nothing of it touches a Python object once the
// interpreter has been finalised.
#pragma once

#include <functional>

#include "platform/com/comptr.h"
#include "platform/com/types.h"

class PythonModule;

struct StartupHooks {
  // Called with each step's number (1 to 9) before the step runs; an exception it raises
  // fails that step as an error of the step itself would (fault injection for tests).
  std::function<void(int step)> before_step;
  // Step 8: creates the module-information object, which registers itself with the host.
  // Empty: the step does nothing.
  std::function<void()> create_module_info;
  // Step 9, only while HostServer is set: makes the manager that is handed to the host with
  // RegisterService. Empty, or an empty answer: nothing is handed over.
  std::function<ComPtr<IUnknown>()> create_manager;
};

// The hooks start-up uses (the defaults name the real steps).
StartupHooks& Startup();
// The real steps: step 8 creates the module-information object, step 9 a TVodarManager.
StartupHooks DefaultStartupHooks();

// Runs start-up once; later calls do nothing until UnloadModule. Never raises.
void StartModule() noexcept;
// Runs the unload order now (also run at process exit after a start-up). Afterwards
// StartModule may run again.
void UnloadModule() noexcept;

// Fills HostServer through the main program's exported Server_QueryInterface; leaves it
// empty when the program exports none. Answers the function's status (E_NOINTERFACE
// without it); only a non-empty HostServer counts as success.
HRESULT AcquireHostServer();

// The module component of a start-up (null before start-up, after unload, or when step 1
// failed). Its module object exists once step 6 succeeded.
PythonModule* ModuleComponent();
// Whether start-up created the engine it uses (and so frees it at unload).
bool ModuleCreatedEngine();
