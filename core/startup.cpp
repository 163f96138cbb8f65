#include "core/startup.h"

#include <utility>
#include <vector>

#include "core/module_functions.h"
#include "core/vodar_manager.h"
#include "dataaccess/kvt_event.h"
#include "hostintf/kvt_serverintf.h"
#include "moduleinfo/vodar_moduleinfo.h"
#include "platform/os/os.h"
#include "platform/python/pyembed.h"
#include "register/vodar_data.h"

namespace {

// The module-wide state of a start-up. Plain data: it is torn down by UnloadModule, never by
// a destructor of its own, so its order against other static objects does not matter.
struct ModuleState {
  bool started = false;
  PythonModule* module = nullptr;
  PythonEngine* engine = nullptr;
  bool engine_created = false;
  PyObjectWrapper* wrapper = nullptr;
};
ModuleState g_state;

// Runs the unload order at process exit. Created by the first start-up, so it is destroyed
// before the static objects that existed earlier (HostServer among them).
struct UnloadAtExit {
  UnloadAtExit() = default;
  UnloadAtExit(const UnloadAtExit&) = delete;
  UnloadAtExit& operator=(const UnloadAtExit&) = delete;
  ~UnloadAtExit() { UnloadModule(); }
};

}  // namespace

StartupHooks DefaultStartupHooks() {
  StartupHooks hooks;
  hooks.create_module_info = [] { CreateVodarInfo(); };
  hooks.create_manager = [] { return ComPtr<IUnknown>(MakeObject<TVodarManager>()); };
  return hooks;
}

namespace {

void Step(const StartupHooks& hooks, int step) {
  if (hooks.before_step) hooks.before_step(step);
}

}  // namespace

StartupHooks& Startup() {
  static StartupHooks hooks = DefaultStartupHooks();
  return hooks;
}

HRESULT AcquireHostServer() {
  auto query =
      reinterpret_cast<TServerQueryInterface>(FindMainProgramSymbol(kServerQueryInterfaceName));
  if (query == nullptr) return E_NOINTERFACE;
  HostServer = nullptr;
  return query(IKVTServer::iid, HostServer.PutVoid());
}

void StartModule() noexcept {
  static UnloadAtExit unload_at_exit;
  ModuleState& s = g_state;
  if (s.started) return;
  s.started = true;
  const StartupHooks& hooks = Startup();
  try {
    Step(hooks, 1);
    s.module = new PythonModule(nullptr);
    s.module->SetModuleName("dudoreri");

    Step(hooks, 2);
    AcquireHostServer();

    Step(hooks, 3);
    if (FindPythonEngine() != nullptr) {
      s.engine = &GetPythonEngine();  // raises when it is not bound to an interpreter
    } else {
      s.engine = new PythonEngine(nullptr);
      s.engine_created = true;
      // The host must survive whatever goes wrong here: no message, no ending the process.
      s.engine->SetFatalMessage(false);
      s.engine->SetFatalAbort(false);
      s.engine->LoadDll();
    }

    Step(hooks, 4);
    s.module->SetEngine(s.engine);

    Step(hooks, 5);
    s.wrapper = new PyObjectWrapper(nullptr);
    s.wrapper->SetEngine(s.module->Engine());
    s.wrapper->SetModule(s.module);
    std::vector<PyFunction> functions = ModulePythonFunctions();
    s.wrapper->AddFunctions(functions);
    s.wrapper->Initialize();

    Step(hooks, 6);
    s.module->Initialize();

    Step(hooks, 7);
    dm = DataModule::Create<Tdm>();

    Step(hooks, 8);
    if (hooks.create_module_info) hooks.create_module_info();

    Step(hooks, 9);
    if (HostServer && hooks.create_manager) {
      ComPtr<IUnknown> manager = hooks.create_manager();
      if (manager) HostServer->RegisterService(manager.Get());
    }
  } catch (...) {
    // Start-up ends silently at the failing step; the import fails only when the module
    // object does not exist.
  }
}

void UnloadModule() noexcept {
  ModuleState& s = g_state;
  // 1. The module component (it lets go of the module object only while the interpreter
  //    lives), then the data module.
  delete std::exchange(s.module, nullptr);
  delete std::exchange(dm, nullptr);
  // 2. The engine, only if start-up created it; it never finalises the interpreter.
  if (s.engine_created) delete s.engine;
  s.engine = nullptr;
  s.engine_created = false;
  // 3. The object wrapper: its Python functions raise an error from now on.
  delete std::exchange(s.wrapper, nullptr);
  // 4. The host server, last.
  HostServer = nullptr;
  s.started = false;
}

PythonModule* ModuleComponent() {
  return g_state.module;
}

bool ModuleCreatedEngine() {
  return g_state.engine_created;
}
