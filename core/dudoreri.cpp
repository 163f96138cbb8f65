// The module's entry points: the one the host's start-up calls by name (initkvtinpro) and
// the interpreter's init function of each Python version, which forwards to it.
#include "core/startup.h"
#include "platform/os/os.h"
#include "platform/python/pyembed_capi.h"

#define KVT_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

// Loading the library points PYTHONHOME at the host executable's folder (with its trailing
// "/"), not at this library's folder.
[[maybe_unused]] const bool kPythonHomeSet =
    SetEnvironmentVariable("PYTHONHOME", ExecutableFolder());

// A new reference to the module object; without one, the import fails with ImportError.
PyObject* ModuleObjectOrError() {
  PythonModule* component = ModuleComponent();
  PyObject* module = component != nullptr ? NewModuleReference(*component) : nullptr;
  if (module == nullptr && !PyErr_Occurred())
    PyErr_SetString(PyExc_ImportError, "the module dudoreri could not be started");
  return module;
}

}  // namespace

KVT_EXPORT void initkvtinpro() {
  StartModule();
}

#if KVT_PYTHON_MAJOR >= 3
KVT_EXPORT PyObject* PyInit_dudoreri() {
  initkvtinpro();
  return ModuleObjectOrError();
}
#else
KVT_EXPORT void initdudoreri() {
  initkvtinpro();
  Py_XDECREF(ModuleObjectOrError());
}
#endif
