// The interpreter the host embeds: the distribution's CPython 3, started with PyConfig.
//
// Start() initialises it with the module's folder (the host's own) and the host's Python
// package folder (<host folder>/python) first on sys.path; ImportModule() imports
// "dudoreri", which attaches the module to this host. After start-up the host releases the
// interpreter lock; Run*() and Finalize() take it back as they need it.
#pragma once

#include <string>
#include <vector>

#include "host/cmdline.h"

struct _ts;

class PythonRuntime {
 public:
  PythonRuntime() = default;
  ~PythonRuntime();  // finalises the interpreter if Finalize() did not
  PythonRuntime(const PythonRuntime&) = delete;
  PythonRuntime& operator=(const PythonRuntime&) = delete;

  // Initialises the interpreter with `argv` as sys.argv. False, with *error set, on failure.
  bool Start(const std::vector<std::string>& argv, std::string* error);
  // Imports "dudoreri". False, with *error set to the interpreter's one-line message.
  bool ImportModule(std::string* error);
  // Imports the host's package "qor.modules.vodar" when it is there; a package that is there
  // but fails to import is reported on stderr.
  void ImportHostPackage();
  // Lets other threads run Python (after start-up).
  void ReleaseLock();
  // Runs the program of a "python" command in __main__ and answers its exit code.
  int RunPython(const CommandLine& cl);
  // Shuts the interpreter down. Answers false when flushing its output failed.
  bool Finalize();

 private:
  bool started_ = false;
  _ts* saved_ = nullptr;  // the main thread's state while the lock is released
};
