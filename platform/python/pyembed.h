// The Python embedding layer: binds a library to the interpreter that is already running in
// the process, creates its module object, fills it with functions served by C++ handlers,
// imports modules and calls their functions.
//
// This header does not include Python.h: the code that uses it is compiled once for every
// Python version. No Python object appears here; PyHandle holds one opaquely and PyValue
// carries the values that cross between C++ and Python.
//
// Every operation that touches the interpreter takes the interpreter lock itself
// (PyGILState_Ensure/Release), so it may be called from any thread, with or without the
// lock. Python errors arrive as EPythonError whose message is the interpreter's
// ("AttributeError: module 'x' has no attribute 'y'"). Nothing here ever touches a Python
// object once the interpreter has been finalised: such references are dropped unreleased
// (the interpreter has reclaimed them already).
//
//   PythonEngine* engine = FindPythonEngine();      // the one this library holds, or null
//   auto module = std::make_unique<PythonModule>();  // "dudoreri"
//   module->SetModuleName("dudoreri");
//   module->SetEngine(engine);
//   wrapper.SetModule(module.get()); wrapper.AddFunctions(table); wrapper.Initialize();
//   module->Initialize();                            // creates the module object
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/com/widestring.h"
#include "platform/rtl/component.h"
#include "platform/rtl/datetime.h"

namespace pyembed_detail {
struct Access;
}

// One counted reference to a Python object, or none. Copying adds a reference; the last
// owner releases it (under the interpreter lock, and only while the interpreter lives).
class PyHandle {
 public:
  PyHandle() noexcept = default;
  PyHandle(const PyHandle& o);
  PyHandle(PyHandle&& o) noexcept : obj_(std::exchange(o.obj_, nullptr)) {}
  PyHandle& operator=(PyHandle o) noexcept {
    std::swap(obj_, o.obj_);
    return *this;
  }
  ~PyHandle();
  explicit operator bool() const noexcept { return obj_ != nullptr; }
  void Reset();

 private:
  friend struct pyembed_detail::Access;
  void* obj_ = nullptr;
};

// A value crossing between C++ and Python: None, bool, int, float, text (str; from Python
// also a byte string, read as UTF-8), a local date-time (datetime.datetime from an OLE
// date), a list, or a dict with text keys (kept in insertion order).
class PyValue {
 public:
  enum class Kind { None, Bool, Int, Float, Text, Bytes, DateTime, List, Dict };
  using Item = std::pair<std::string, PyValue>;

  PyValue() = default;
  static PyValue Bool(bool v);
  static PyValue Int(int64_t v);
  static PyValue Float(double v);
  static PyValue Text(WideString v);
  static PyValue Utf8(std::string_view v) { return Text(WideString::FromUtf8(v)); }
  static PyValue Bytes(std::string v);
  static PyValue DateTime(TDateTime v);
  static PyValue List(std::vector<PyValue> items);
  static PyValue Dict(std::vector<Item> items);

  Kind kind() const { return kind_; }
  bool IsNone() const { return kind_ == Kind::None; }
  // Readers raise EPythonError "TypeError: ..." when the value is of another kind.
  bool AsBool() const;
  int64_t AsInt() const;
  double AsFloat() const;     // also an int
  WideString AsText() const;  // also a byte string (UTF-8)
  const std::string& AsBytes() const;
  TDateTime AsDateTime() const;
  const std::vector<PyValue>& AsList() const;
  const std::vector<Item>& AsDict() const;
  // The entry `key` of a dict, or null.
  const PyValue* Find(std::string_view key) const;
  // The Python name of the kind ("str", "bool", ...), for messages.
  const char* TypeName() const;

 private:
  Kind kind_ = Kind::None;
  bool bool_ = false;
  int64_t int_ = 0;
  double float_ = 0;
  WideString text_;
  std::string bytes_;
  std::vector<PyValue> list_;
  std::vector<Item> dict_;
};

// The engine a library holds: bound to the interpreter already running in the process. It
// never initialises an interpreter and so never finalises one; destroying it leaves the
// interpreter running. At most one engine exists per library.
class PythonEngine : public Component {
 public:
  // Raises EPythonError when this library holds an engine already.
  explicit PythonEngine(Component* owner = nullptr);
  ~PythonEngine() override;

  // What a fatal error while binding does: show its message (on stderr) and end the
  // process. Both are on by default; a library that must never end its host turns them
  // off, and then binding raises EPythonError instead.
  void SetFatalMessage(bool on) { fatal_message_ = on; }
  void SetFatalAbort(bool on) { fatal_abort_ = on; }
  bool FatalMessage() const { return fatal_message_; }
  bool FatalAbort() const { return fatal_abort_; }

  // Binds the engine to the interpreter running in the process. Without one that is a
  // fatal error (see above).
  void LoadDll();
  // Bound, and the interpreter still runs.
  bool IsLoaded() const;

  // Imports a module by dotted name ("qor.modules.vodar.manager") and answers it (the
  // innermost module).
  PyHandle ImportModule(std::string_view dotted_name);
  // Calls module.function(*args) and answers its result.
  PyValue CallFunction(const PyHandle& module, std::string_view function,
                       const std::vector<PyValue>& args);
  // sys.modules.get(name, None) is not None, the name given as the interpreter's native
  // string; false when the engine is not bound.
  bool IsModuleLoaded(std::string_view name);
  // Runs Python statements in a fresh namespace (for tests and diagnostics).
  void ExecString(std::string_view code);

 private:
  bool loaded_ = false;
  bool fatal_message_ = true;
  bool fatal_abort_ = true;
};

// The engine this library holds, or null when none was created.
PythonEngine* FindPythonEngine() noexcept;
// The engine this library holds; raises EPythonError when none was created or when it is
// not bound to an interpreter.
PythonEngine& GetPythonEngine();

// Holds the interpreter lock for its scope (re-entrant; any thread). Raises EPythonError
// when no interpreter runs.
class PythonLock {
 public:
  PythonLock();
  ~PythonLock();
  PythonLock(const PythonLock&) = delete;
  PythonLock& operator=(const PythonLock&) = delete;

 private:
  int state_;
};

// A Python function served by a C++ handler. The handler receives the positional
// arguments (exactly `arg_count` of them) and answers the result; an exception it raises
// reaches Python as the module's Error (a RuntimeError) with the exception's message.
struct PyFunction {
  std::string name;
  std::string doc;
  int arg_count = 0;
  std::function<PyValue(const std::vector<PyValue>& args)> handler;
};

// The module component: creates a Python module object of the given name, with the objects
// and functions registered with it beforehand, and files it in sys.modules. It keeps a
// reference to the module object until it is destroyed.
class PythonModule : public Component {
 public:
  explicit PythonModule(Component* owner = nullptr);
  ~PythonModule() override;

  void SetModuleName(std::string name);
  const std::string& ModuleName() const { return module_name_; }
  void SetEngine(PythonEngine* engine);
  PythonEngine* Engine() const { return engine_; }

  // Registered before Initialize: a function served through the handler registry (see
  // PyObjectWrapper) and named objects.
  void AddFunction(std::string name, std::string doc, uint64_t handler_id);
  void AddObject(std::string name, PyHandle object);

  // Creates the module object, fills it and files it in sys.modules. Raises EPythonError
  // (and files nothing) when any part fails, or when already initialised.
  void Initialize();
  bool IsInitialized() const { return static_cast<bool>(module_); }
  // The module object (empty before Initialize).
  const PyHandle& Module() const { return module_; }

 protected:
  void Notification(Component* component, Operation operation) override;

 private:
  struct PendingFunction {
    std::string name, doc;
    uint64_t id;
  };
  std::string module_name_;
  PythonEngine* engine_ = nullptr;
  std::vector<PendingFunction> functions_;
  std::vector<std::pair<std::string, PyHandle>> objects_;
  PyHandle module_;
};

// The object wrapper: registers a module's Python contents with its module component, that
// is the exception type Error and the functions of a handler table. The handlers stay
// callable while the wrapper exists; afterwards the Python functions raise Error ("... is no
// longer available") instead of calling into freed code.
class PyObjectWrapper : public Component {
 public:
  explicit PyObjectWrapper(Component* owner = nullptr);
  ~PyObjectWrapper() override;

  void SetEngine(PythonEngine* engine);
  PythonEngine* Engine() const { return engine_; }
  void SetModule(PythonModule* module);
  void AddFunctions(std::span<const PyFunction> functions);
  // Registers Error and the functions with the module component. Raises EPythonError
  // without an engine or module, or when the module is initialised already.
  void Initialize();

 protected:
  void Notification(Component* component, Operation operation) override;

 private:
  PythonEngine* engine_ = nullptr;
  PythonModule* module_ = nullptr;
  std::vector<PyFunction> functions_;
  std::vector<uint64_t> ids_;  // registered handlers, withdrawn on destruction
  PyHandle error_;             // the module's Error type
};
