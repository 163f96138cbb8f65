#include "host/pyruntime.h"

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <cstdio>
#include <fstream>
#include <iostream>
#include <iterator>
#include <utility>

#include "host/hostmodule.h"
#include "host/trace.h"
#include "platform/os/os.h"

namespace {

// The pending Python error as one line: "ModuleNotFoundError: No module named 'x'". Clears it.
std::string FetchErrorLine() {
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  if (type == nullptr) return "unknown error";
  PyErr_NormalizeException(&type, &value, &tb);
  std::string line = reinterpret_cast<PyTypeObject*>(type)->tp_name;
  if (value != nullptr) {
    if (PyObject* s = PyObject_Str(value)) {
      if (const char* text = PyUnicode_AsUTF8(s); text != nullptr && *text != '\0')
        line += std::string(": ") + text;
      Py_DECREF(s);
    }
    PyErr_Clear();
  }
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
  for (char& c : line)
    if (c == '\n' || c == '\r') c = ' ';
  return line;
}

// Inserts `path` into sys.path at `index`.
bool InsertPath(Py_ssize_t index, const std::string& path) {
  PyObject* sys_path = PySys_GetObject("path");  // borrowed
  if (sys_path == nullptr || !PyList_Check(sys_path)) return false;
  PyObject* item = PyUnicode_DecodeFSDefault(path.c_str());
  if (item == nullptr) return false;
  int rc = PyList_Insert(sys_path, index, item);
  Py_DECREF(item);
  return rc == 0;
}

// The exit code of a pending SystemExit (which it clears), as the interpreter computes it.
int HandleSystemExit() {
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  int rc = 0;
  PyObject* code = value != nullptr ? PyObject_GetAttrString(value, "code") : nullptr;
  PyErr_Clear();
  if (code == nullptr || code == Py_None) {
    rc = 0;
  } else if (PyLong_Check(code)) {
    rc = static_cast<int>(PyLong_AsLong(code));
  } else {
    // sys.exit("message"): the message goes to stderr, the exit code is 1.
    PyObject_Print(code, stderr, Py_PRINT_RAW);
    std::fputc('\n', stderr);
    rc = 1;
  }
  PyErr_Clear();
  Py_XDECREF(code);
  Py_XDECREF(type);
  Py_XDECREF(value);
  Py_XDECREF(tb);
  return rc;
}

// Runs `source` as the __main__ program; answers the exit code.
int RunMain(const std::string& source, const std::string& filename) {
  PyObject* main_module = PyImport_AddModule("__main__");  // borrowed
  if (main_module == nullptr) {
    PyErr_Print();
    return 1;
  }
  PyObject* globals = PyModule_GetDict(main_module);  // borrowed
  if (filename != "<string>" && filename != "<stdin>") {
    PyObject* file = PyUnicode_DecodeFSDefault(filename.c_str());
    if (file != nullptr) {
      PyDict_SetItemString(globals, "__file__", file);
      Py_DECREF(file);
    }
  }
  PyObject* code = Py_CompileString(source.c_str(), filename.c_str(), Py_file_input);
  PyObject* result = code != nullptr ? PyEval_EvalCode(code, globals, globals) : nullptr;
  Py_XDECREF(code);
  if (result != nullptr) {
    Py_DECREF(result);
    return 0;
  }
  if (PyErr_ExceptionMatches(PyExc_SystemExit)) return HandleSystemExit();
  PyErr_Print();
  return 1;
}

}  // namespace

PythonRuntime::~PythonRuntime() {
  Finalize();
}

bool PythonRuntime::Start(const std::vector<std::string>& argv, std::string* error) {
  RegisterHostModule();
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.parse_argv = 0;  // sys.argv is exactly what the command gives
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  PyStatus status =
      PyConfig_SetBytesArgv(&config, static_cast<Py_ssize_t>(args.size()), args.data());
  if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status)) {
    *error = status.err_msg != nullptr ? status.err_msg : "initialisation failed";
    return false;
  }
  started_ = true;
  // The module's folder (this host's own) first, then the host's Python package.
  std::string folder = ExecutableFolder();
  std::string module_folder =
      folder.empty() ? std::string(".") : folder.substr(0, folder.size() - 1);
  if (!InsertPath(0, module_folder) || !InsertPath(1, folder + "python")) {
    *error = FetchErrorLine();
    return false;
  }
  return true;
}

bool PythonRuntime::ImportModule(std::string* error) {
  PyObject* module = PyImport_ImportModule("dudoreri");
  if (module == nullptr) {
    *error = FetchErrorLine();
    return false;
  }
  Py_DECREF(module);
  return true;
}

void PythonRuntime::ImportHostPackage() {
  static constexpr const char kPackage[] = "qor.modules.vodar";
  PyObject* module = PyImport_ImportModule(kPackage);
  if (module != nullptr) {
    Py_DECREF(module);
    return;
  }
  // Absent altogether (the package or one of its parents): nothing to import.
  if (PyErr_ExceptionMatches(PyExc_ModuleNotFoundError)) {
    PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
    PyErr_Fetch(&type, &value, &tb);
    PyErr_NormalizeException(&type, &value, &tb);
    PyObject* name = value != nullptr ? PyObject_GetAttrString(value, "name") : nullptr;
    PyErr_Clear();
    const char* missing = name != nullptr && PyUnicode_Check(name) ? PyUnicode_AsUTF8(name) : "";
    std::string m = missing != nullptr ? missing : "";
    Py_XDECREF(name);
    bool absent = m == "qor" || m == "qor.modules" || m == kPackage;
    if (absent) {
      Py_XDECREF(type);
      Py_XDECREF(value);
      Py_XDECREF(tb);
      return;
    }
    PyErr_Restore(type, value, tb);
  }
  std::fprintf(stderr, "kvthost: warning: the host package %s cannot be imported: %s\n", kPackage,
               FetchErrorLine().c_str());
}

void PythonRuntime::ReleaseLock() {
  if (started_ && saved_ == nullptr) saved_ = PyEval_SaveThread();
}

int PythonRuntime::RunPython(const CommandLine& cl) {
  std::string source, filename;
  switch (cl.source) {
    case CommandLine::Source::Text:
      source = cl.program;
      filename = "<string>";
      break;
    case CommandLine::Source::File: {
      std::ifstream in(cl.program, std::ios::binary);
      if (!in) {
        std::fprintf(stderr, "kvthost: python: cannot open file '%s'\n", cl.program.c_str());
        return 2;
      }
      source.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      filename = cl.program;
      break;
    }
    case CommandLine::Source::Stdin:
      source.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
      filename = "<stdin>";
      break;
  }
  PyGILState_STATE gil = PyGILState_Ensure();
  // As the interpreter does: the script's folder, or the current folder, comes first.
  std::string first;
  if (cl.source == CommandLine::Source::File) {
    size_t slash = cl.program.rfind('/');
    first = slash == std::string::npos ? std::string() : cl.program.substr(0, slash);
  }
  InsertPath(0, first);
  int rc = RunMain(source, filename);
  PyGILState_Release(gil);
  return rc;
}

bool PythonRuntime::Finalize() {
  if (!started_) return true;
  started_ = false;
  if (saved_ != nullptr) PyEval_RestoreThread(std::exchange(saved_, nullptr));
  bool flushed = Py_FinalizeEx() == 0;
  Trace("Python finalised");
  return flushed;
}
