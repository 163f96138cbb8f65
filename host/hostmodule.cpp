#include "host/hostmodule.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "host/server.h"

namespace {

PyObject* DatabaseParam(PyObject*, PyObject* args) {
  const char* database = nullptr;
  const char* key = nullptr;
  if (!PyArg_ParseTuple(args, "ss:database_param", &database, &key)) return nullptr;
  std::string value;
  if (THostServer* server = ExportedServer())
    value =
        server->DatabaseParam(WideString::FromUtf8(database), WideString::FromUtf8(key)).ToUtf8();
  return PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size()));
}

PyObject* RaiseEvent(PyObject*, PyObject* args) {
  const char* name = nullptr;
  if (!PyArg_ParseTuple(args, "s:raise_event", &name)) return nullptr;
  if (THostServer* server = ExportedServer()) server->RaiseEvent(WideString::FromUtf8(name).str());
  Py_RETURN_NONE;
}

PyMethodDef g_methods[] = {
    {"database_param", DatabaseParam, METH_VARARGS,
     "database_param(database, key) -> str\n\n"
     "The host's configured storage setting of a database, \"\" when none."},
    {"raise_event", RaiseEvent, METH_VARARGS,
     "raise_event(name)\n\n"
     "Notifies every module subscribed to the host event `name` (\"STOPSERVER\"), as the\n"
     "host does when it stops; for trying out how modules take it."},
    {nullptr, nullptr, 0, nullptr},
};

PyModuleDef g_module = {
    PyModuleDef_HEAD_INIT,
    "kvthost",
    "Services of the kvthost reference host.",
    -1,
    g_methods,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

PyObject* InitHostModule() {
  return PyModule_Create(&g_module);
}

}  // namespace

void RegisterHostModule() {
  PyImport_AppendInittab("kvthost", InitHostModule);
}
