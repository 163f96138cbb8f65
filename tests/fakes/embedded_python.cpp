#include "tests/fakes/embedded_python.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdlib>

namespace {
PyThreadState* g_saved = nullptr;

void FinalizePython() {
  if (!Py_IsInitialized()) return;
  if (g_saved != nullptr) PyEval_RestoreThread(g_saved);
  g_saved = nullptr;
  Py_FinalizeEx();
}

std::string FetchError() {
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  std::string text = type ? reinterpret_cast<PyTypeObject*>(type)->tp_name : "error";
  if (value != nullptr) {
    if (PyObject* s = PyObject_Str(value)) {
      if (const char* u = PyUnicode_AsUTF8(s)) text += std::string(": ") + u;
      Py_DECREF(s);
    }
  }
  PyErr_Clear();
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
  return text;
}
}  // namespace

void EnsurePython() {
  if (Py_IsInitialized()) return;
  Py_InitializeEx(0);
  g_saved = PyEval_SaveThread();
  std::atexit(FinalizePython);
}

bool PythonRunning() {
  return Py_IsInitialized() != 0;
}

std::string RunPython(const std::string& code) {
  PyGILState_STATE gil = PyGILState_Ensure();
  std::string error;
  PyObject* globals = PyModule_GetDict(PyImport_AddModule("__main__"));
  PyObject* result = PyRun_String(code.c_str(), Py_file_input, globals, globals);
  if (result == nullptr)
    error = FetchError();
  else
    Py_DECREF(result);
  PyGILState_Release(gil);
  return error;
}
