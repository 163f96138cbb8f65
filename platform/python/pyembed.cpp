// The embedding layer on the CPython C API. Compiled once per Python version: for Python 3
// with the stable ABI (Py_LIMITED_API), for Python 2.7 with its own headers.
#include "platform/python/pyembed_capi.h"

#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>

#include "platform/rtl/exceptions.h"

using pyembed_detail::Access;

#if PY_MAJOR_VERSION >= 3
#define KVT_PY3 1
#else
#define KVT_PY3 0
#endif

namespace {

// --- The interpreter lock ---------------------------------------------------------

[[noreturn]] void ThrowNotRunning() {
  throw EPythonError("Python is not running in this process");
}

class Gil {
 public:
  Gil() {
    if (!Py_IsInitialized()) ThrowNotRunning();
    state_ = PyGILState_Ensure();
  }
  ~Gil() { PyGILState_Release(state_); }
  Gil(const Gil&) = delete;
  Gil& operator=(const Gil&) = delete;

 private:
  PyGILState_STATE state_;
};

// A reference owned for a scope (the layer's internal counterpart of PyHandle, used while
// the lock is held).
class Ref {
 public:
  explicit Ref(PyObject* o = nullptr) : o_(o) {}  // steals
  ~Ref() { Py_XDECREF(o_); }
  Ref(const Ref&) = delete;
  Ref& operator=(const Ref&) = delete;
  Ref& operator=(Ref&& o) noexcept {
    std::swap(o_, o.o_);
    return *this;
  }
  PyObject* get() const { return o_; }
  PyObject* release() { return std::exchange(o_, nullptr); }
  explicit operator bool() const { return o_ != nullptr; }

 private:
  PyObject* o_;
};

// --- Texts ------------------------------------------------------------------------

#if KVT_PY3
constexpr const char* kSurrogates = "surrogatepass";
#else
constexpr const char* kSurrogates = "strict";
#endif

// Bytes of a byte string (borrowed object).
std::string BytesOf(PyObject* b) {
  char* data = nullptr;
  Py_ssize_t size = 0;
  if (PyBytes_AsStringAndSize(b, &data, &size) != 0) return {};
  return std::string(data, static_cast<size_t>(size));
}

// A Unicode object as UTF-8; empty with the error cleared when it cannot be encoded.
std::string UnicodeToUtf8(PyObject* u) {
  Ref b(PyUnicode_AsEncodedString(u, "utf-8", "replace"));
  if (!b) {
    PyErr_Clear();
    return {};
  }
  return BytesOf(b.get());
}

PyObject* NewNativeString(std::string_view utf8) {
#if KVT_PY3
  return PyUnicode_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size()));
#else
  return PyString_FromStringAndSize(utf8.data(), static_cast<Py_ssize_t>(utf8.size()));
#endif
}

// str(o) as UTF-8, for messages; never raises.
std::string StrOf(PyObject* o) {
  Ref s(PyObject_Str(o));
#if !KVT_PY3
  if (!s) {  // a Unicode message that str() cannot encode
    PyErr_Clear();
    s = Ref(PyObject_Unicode(o));
  }
#endif
  if (!s) {
    PyErr_Clear();
    return "<unprintable object>";
  }
  if (PyUnicode_Check(s.get())) return UnicodeToUtf8(s.get());
  if (PyBytes_Check(s.get())) return BytesOf(s.get());
  return {};
}

std::string TypeNameOf(PyObject* type) {
  Ref name(PyObject_GetAttrString(type, "__name__"));
  if (!name) {
    PyErr_Clear();
    return "Exception";
  }
  return StrOf(name.get());
}

// The pending Python error as the interpreter names it: "AttributeError: ...". Clears it.
std::string FetchErrorMessage() {
  PyObject *type = nullptr, *value = nullptr, *tb = nullptr;
  PyErr_Fetch(&type, &value, &tb);
  if (type == nullptr) return "SystemError: error return without exception set";
  PyErr_NormalizeException(&type, &value, &tb);
  Ref t(type), v(value), trace(tb);
  std::string name = TypeNameOf(t.get());
  std::string text = v ? StrOf(v.get()) : std::string();
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  return text.empty() ? name : name + ": " + text;
}

// Raises the pending Python error as EPythonError (called with the lock held).
[[noreturn]] void ThrowPythonError() {
  throw EPythonError(FetchErrorMessage());
}

PyObject* Check(PyObject* o) {
  if (o == nullptr) ThrowPythonError();
  return o;
}

[[noreturn]] void ThrowTypeError(const std::string& text) {
  throw EPythonError("TypeError: " + text);
}

// --- Values -----------------------------------------------------------------------

PyObject* NewUnicode(const WideString& w) {
  int byteorder = -1;  // little-endian, as the buffer lies in memory on this machine
  return PyUnicode_DecodeUTF16(reinterpret_cast<const char*>(w.c_str()),
                               static_cast<Py_ssize_t>(w.length() * sizeof(char16_t)), kSurrogates,
                               &byteorder);
}

WideString UnicodeToWide(PyObject* u) {
  Ref b(Check(PyUnicode_AsEncodedString(u, "utf-16-le", kSurrogates)));
  std::string bytes = BytesOf(b.get());
  std::u16string w(bytes.size() / 2, u'\0');
  for (size_t i = 0; i < w.size(); ++i)
    w[i] = static_cast<char16_t>(static_cast<unsigned char>(bytes[2 * i]) |
                                 (static_cast<unsigned char>(bytes[2 * i + 1]) << 8));
  return WideString(std::move(w));
}

// datetime.datetime(...) for an OLE date, local wall-clock time, no zone. The limited API
// has no datetime C API, so the class is called like any other.
PyObject* NewDateTime(TDateTime dt) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(dt, y, mo, d);
  DecodeTime(dt, h, mi, s, ms);
  Ref module(Check(PyImport_ImportModule("datetime")));
  Ref cls(Check(PyObject_GetAttrString(module.get(), "datetime")));
  Ref args(Check(PyTuple_New(7)));
  const long parts[7] = {y, mo, d, h, mi, s, static_cast<long>(ms) * 1000};
  for (int i = 0; i < 7; ++i) PyTuple_SetItem(args.get(), i, Check(PyLong_FromLong(parts[i])));
  return PyObject_CallObject(cls.get(), args.get());
}

// A new reference for a value; raises EPythonError.
PyObject* ToPython(const PyValue& v) {
  switch (v.kind()) {
    case PyValue::Kind::None:
      Py_INCREF(Py_None);
      return Py_None;
    case PyValue::Kind::Bool:
      return PyBool_FromLong(v.AsBool() ? 1 : 0);
    case PyValue::Kind::Int:
      return Check(PyLong_FromLongLong(v.AsInt()));
    case PyValue::Kind::Float:
      return Check(PyFloat_FromDouble(v.AsFloat()));
    case PyValue::Kind::Text:
      return Check(NewUnicode(v.AsText()));
    case PyValue::Kind::Bytes:
      return Check(PyBytes_FromStringAndSize(v.AsBytes().data(),
                                             static_cast<Py_ssize_t>(v.AsBytes().size())));
    case PyValue::Kind::DateTime:
      return Check(NewDateTime(v.AsDateTime()));
    case PyValue::Kind::List: {
      const auto& items = v.AsList();
      Ref list(Check(PyList_New(static_cast<Py_ssize_t>(items.size()))));
      for (size_t i = 0; i < items.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), ToPython(items[i]));
      return list.release();
    }
    case PyValue::Kind::Dict: {
      Ref dict(Check(PyDict_New()));
      for (const auto& [key, item] : v.AsDict()) {
        Ref value(ToPython(item));
        if (PyDict_SetItemString(dict.get(), key.c_str(), value.get()) != 0) ThrowPythonError();
      }
      return dict.release();
    }
  }
  ThrowTypeError("unknown value kind");
}

// The value of a Python object (borrowed); raises EPythonError "TypeError: ..." for kinds a
// PyValue does not carry.
PyValue FromPython(PyObject* o) {
  if (o == Py_None) return {};
  if (PyBool_Check(o)) return PyValue::Bool(o == Py_True);
#if !KVT_PY3
  if (PyInt_Check(o)) return PyValue::Int(PyInt_AsLong(o));
#endif
  if (PyLong_Check(o)) {
    long long n = PyLong_AsLongLong(o);
    if (n == -1 && PyErr_Occurred()) ThrowPythonError();
    return PyValue::Int(n);
  }
  if (PyFloat_Check(o)) return PyValue::Float(PyFloat_AsDouble(o));
  if (PyUnicode_Check(o)) return PyValue::Text(UnicodeToWide(o));
  if (PyBytes_Check(o)) return PyValue::Bytes(BytesOf(o));
  if (PyList_Check(o) || PyTuple_Check(o)) {
    Ref seq(Check(PySequence_List(o)));
    std::vector<PyValue> items;
    for (Py_ssize_t i = 0, n = PyList_Size(seq.get()); i < n; ++i)
      items.push_back(FromPython(PyList_GetItem(seq.get(), i)));
    return PyValue::List(std::move(items));
  }
  if (PyDict_Check(o)) {
    std::vector<PyValue::Item> items;
    PyObject *key = nullptr, *value = nullptr;
    Py_ssize_t pos = 0;
    while (PyDict_Next(o, &pos, &key, &value)) {
      std::string k;
      if (PyUnicode_Check(key))
        k = UnicodeToUtf8(key);
      else if (PyBytes_Check(key))
        k = BytesOf(key);
      else
        ThrowTypeError("dict keys must be strings");
      items.emplace_back(std::move(k), FromPython(value));
    }
    return PyValue::Dict(std::move(items));
  }
  ThrowTypeError("unsupported type " + TypeNameOf(reinterpret_cast<PyObject*>(Py_TYPE(o))));
}

// --- The engine this library holds ------------------------------------------------

PythonEngine* g_engine = nullptr;

// --- Handlers behind the module's Python functions ---------------------------------
//
// A Python function keeps, in its capsule, a FunctionDef that lives as long as the library
// (the interpreter may keep the function longer than the wrapper that served it). The
// handler itself is looked up by id in the registry; a wrapper withdraws its handlers when
// it is destroyed.

struct FunctionDef {
  PyMethodDef def{};
  std::string name, doc, qualified_name;
  uint64_t id = 0;
};

struct Handler {
  std::shared_ptr<const PyFunction> function;
  PyObject* error_type = nullptr;  // the wrapper's Error (borrowed from the wrapper)
};

struct Registry {
  std::mutex mutex;
  uint64_t next_id = 1;
  std::map<uint64_t, Handler> handlers;
  std::deque<FunctionDef> defs;  // never shrinks: referenced by Python objects
#if KVT_PY3
  std::deque<PyModuleDef> module_defs;  // the same
#endif
  std::deque<std::string> names;
};

// Never destroyed: Python objects may refer into it until the process ends.
Registry& TheRegistry() {
  static Registry* r = new Registry;
  return *r;
}

constexpr const char* kCapsuleName = "pyembed.function";

PyObject* CallHandler(PyObject* self, PyObject* args) {
  auto* fd = static_cast<FunctionDef*>(PyCapsule_GetPointer(self, kCapsuleName));
  if (fd == nullptr) return nullptr;
  Handler h;
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    auto it = r.handlers.find(fd->id);
    if (it != r.handlers.end()) h = it->second;
  }
  if (!h.function) {
    PyErr_Format(PyExc_RuntimeError, "%s is no longer available", fd->qualified_name.c_str());
    return nullptr;
  }
  Ref error_type(h.error_type);
  Py_XINCREF(h.error_type);
  try {
    Py_ssize_t n = PyTuple_Size(args);
    if (n != h.function->arg_count) {
      PyErr_Format(PyExc_TypeError, "%s() takes exactly %d argument%s (%d given)", fd->name.c_str(),
                   h.function->arg_count, h.function->arg_count == 1 ? "" : "s",
                   static_cast<int>(n));
      return nullptr;
    }
    std::vector<PyValue> values;
    values.reserve(static_cast<size_t>(n));
    for (Py_ssize_t i = 0; i < n; ++i) values.push_back(FromPython(PyTuple_GetItem(args, i)));
    PyValue result = h.function->handler(values);
    return ToPython(result);
  } catch (...) {
    std::string message = ExceptionMessage(std::current_exception());
    PyErr_SetString(error_type ? error_type.get() : PyExc_RuntimeError, message.c_str());
    return nullptr;
  }
}

extern "C" PyObject* HandlerTrampoline(PyObject* self, PyObject* args) {
  return CallHandler(self, args);
}

}  // namespace

// --- PyHandle ---------------------------------------------------------------------

PyHandle::PyHandle(const PyHandle& o) {
  if (o.obj_ == nullptr || !Py_IsInitialized()) return;
  Gil gil;
  Py_INCREF(static_cast<PyObject*>(o.obj_));
  obj_ = o.obj_;
}

PyHandle::~PyHandle() {
  Reset();
}

void PyHandle::Reset() {
  PyObject* o = static_cast<PyObject*>(std::exchange(obj_, nullptr));
  // After finalisation the interpreter has reclaimed (or abandoned) every object: a
  // reference left here is dropped without touching it.
  if (o == nullptr || !Py_IsInitialized()) return;
  Gil gil;
  Py_DECREF(o);
}

PyObject* NewModuleReference(const PythonModule& module) {
  PyObject* m = Access::Get(module.Module());
  Py_XINCREF(m);
  return m;
}

// --- PyValue ----------------------------------------------------------------------

PyValue PyValue::Bool(bool v) {
  PyValue r;
  r.kind_ = Kind::Bool;
  r.bool_ = v;
  return r;
}
PyValue PyValue::Int(int64_t v) {
  PyValue r;
  r.kind_ = Kind::Int;
  r.int_ = v;
  return r;
}
PyValue PyValue::Float(double v) {
  PyValue r;
  r.kind_ = Kind::Float;
  r.float_ = v;
  return r;
}
PyValue PyValue::Text(WideString v) {
  PyValue r;
  r.kind_ = Kind::Text;
  r.text_ = std::move(v);
  return r;
}
PyValue PyValue::Bytes(std::string v) {
  PyValue r;
  r.kind_ = Kind::Bytes;
  r.bytes_ = std::move(v);
  return r;
}
PyValue PyValue::DateTime(TDateTime v) {
  PyValue r;
  r.kind_ = Kind::DateTime;
  r.float_ = v;
  return r;
}
PyValue PyValue::List(std::vector<PyValue> items) {
  PyValue r;
  r.kind_ = Kind::List;
  r.list_ = std::move(items);
  return r;
}
PyValue PyValue::Dict(std::vector<Item> items) {
  PyValue r;
  r.kind_ = Kind::Dict;
  r.dict_ = std::move(items);
  return r;
}

const char* PyValue::TypeName() const {
  switch (kind_) {
    case Kind::None:
      return "NoneType";
    case Kind::Bool:
      return "bool";
    case Kind::Int:
      return "int";
    case Kind::Float:
      return "float";
    case Kind::Text:
      return "str";
    case Kind::Bytes:
      return "bytes";
    case Kind::DateTime:
      return "datetime";
    case Kind::List:
      return "list";
    case Kind::Dict:
      return "dict";
  }
  return "object";
}

namespace {
[[noreturn]] void ThrowKind(const char* wanted, const PyValue& v) {
  ThrowTypeError(std::string(wanted) + " expected, got " + v.TypeName());
}
}  // namespace

bool PyValue::AsBool() const {
  if (kind_ != Kind::Bool) ThrowKind("bool", *this);
  return bool_;
}
int64_t PyValue::AsInt() const {
  if (kind_ != Kind::Int) ThrowKind("int", *this);
  return int_;
}
double PyValue::AsFloat() const {
  if (kind_ == Kind::Int) return static_cast<double>(int_);
  if (kind_ != Kind::Float) ThrowKind("float", *this);
  return float_;
}
WideString PyValue::AsText() const {
  if (kind_ == Kind::Bytes) return WideString::FromUtf8(bytes_);
  if (kind_ != Kind::Text) ThrowKind("str", *this);
  return text_;
}
const std::string& PyValue::AsBytes() const {
  if (kind_ != Kind::Bytes) ThrowKind("bytes", *this);
  return bytes_;
}
TDateTime PyValue::AsDateTime() const {
  if (kind_ != Kind::DateTime) ThrowKind("datetime", *this);
  return float_;
}
const std::vector<PyValue>& PyValue::AsList() const {
  if (kind_ != Kind::List) ThrowKind("list", *this);
  return list_;
}
const std::vector<PyValue::Item>& PyValue::AsDict() const {
  if (kind_ != Kind::Dict) ThrowKind("dict", *this);
  return dict_;
}
const PyValue* PyValue::Find(std::string_view key) const {
  if (kind_ != Kind::Dict) return nullptr;
  for (const auto& [k, v] : dict_)
    if (k == key) return &v;
  return nullptr;
}

// --- PythonLock -------------------------------------------------------------------

PythonLock::PythonLock() {
  if (!Py_IsInitialized()) ThrowNotRunning();
  state_ = static_cast<int>(PyGILState_Ensure());
}

PythonLock::~PythonLock() {
  PyGILState_Release(static_cast<PyGILState_STATE>(state_));
}

// --- PythonEngine -----------------------------------------------------------------

PythonEngine::PythonEngine(Component* owner) : Component(owner) {
  if (g_engine != nullptr) throw EPythonError("A Python engine already exists in this library");
  g_engine = this;
}

PythonEngine::~PythonEngine() {
  // Nothing to finalise: the engine only ever binds to an interpreter someone else runs.
  if (g_engine == this) g_engine = nullptr;
}

void PythonEngine::LoadDll() {
  if (Py_IsInitialized()) {
    loaded_ = true;
    return;
  }
  static constexpr const char kMessage[] = "Python is not running in this process";
  if (fatal_message_) std::fprintf(stderr, "%s\n", kMessage);
  if (fatal_abort_) std::_Exit(1);
  throw EPythonError(kMessage);
}

bool PythonEngine::IsLoaded() const {
  return loaded_ && Py_IsInitialized();
}

PyHandle PythonEngine::ImportModule(std::string_view dotted_name) {
  Gil gil;
  std::string name(dotted_name);
  return Access::Steal(Check(PyImport_ImportModule(name.c_str())));
}

PyValue PythonEngine::CallFunction(const PyHandle& module, std::string_view function,
                                   const std::vector<PyValue>& args) {
  Gil gil;
  PyObject* m = Access::Get(module);
  if (m == nullptr) throw EPythonError("TypeError: no module to call a function of");
  std::string name(function);
  Ref fn(Check(PyObject_GetAttrString(m, name.c_str())));
  Ref tuple(Check(PyTuple_New(static_cast<Py_ssize_t>(args.size()))));
  for (size_t i = 0; i < args.size(); ++i)
    PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(i), ToPython(args[i]));
  Ref result(Check(PyObject_CallObject(fn.get(), tuple.get())));
  try {
    return FromPython(result.get());
  } catch (const EPythonError&) {
    // A result of a kind the caller cannot take is answered as its text.
    return PyValue::Utf8(StrOf(result.get()));
  }
}

bool PythonEngine::IsModuleLoaded(std::string_view name) {
  if (!IsLoaded()) return false;
  Gil gil;
  Ref sys(Check(PyImport_ImportModule("sys")));
  Ref modules(Check(PyObject_GetAttrString(sys.get(), "modules")));
  Ref get(Check(PyObject_GetAttrString(modules.get(), "get")));
  // The key as sys.modules holds it: a byte string in Python 2, str in Python 3 (where a
  // byte string would never match).
  Ref key(Check(NewNativeString(name)));
  Ref args(Check(PyTuple_New(2)));
  PyTuple_SetItem(args.get(), 0, key.release());
  Py_INCREF(Py_None);
  PyTuple_SetItem(args.get(), 1, Py_None);
  Ref found(Check(PyObject_CallObject(get.get(), args.get())));
  return found.get() != Py_None;
}

void PythonEngine::ExecString(std::string_view code) {
  Gil gil;
#if KVT_PY3
  Ref builtins(Check(PyImport_ImportModule("builtins")));
#else
  Ref builtins(Check(PyImport_ImportModule("__builtin__")));
#endif
  Ref compile(Check(PyObject_GetAttrString(builtins.get(), "compile")));
  Ref eval(Check(PyObject_GetAttrString(builtins.get(), "eval")));
  Ref args(Check(PyTuple_New(3)));
  PyTuple_SetItem(args.get(), 0, Check(NewNativeString(code)));
  PyTuple_SetItem(args.get(), 1, Check(NewNativeString("<string>")));
  PyTuple_SetItem(args.get(), 2, Check(NewNativeString("exec")));
  Ref compiled(Check(PyObject_CallObject(compile.get(), args.get())));
  Ref globals(Check(PyDict_New()));
  Ref eval_args(Check(PyTuple_New(2)));
  PyTuple_SetItem(eval_args.get(), 0, compiled.release());
  PyTuple_SetItem(eval_args.get(), 1, globals.release());
  Ref result(Check(PyObject_CallObject(eval.get(), eval_args.get())));
}

PythonEngine* FindPythonEngine() noexcept {
  return g_engine;
}

PythonEngine& GetPythonEngine() {
  if (g_engine == nullptr) throw EPythonError("No Python engine was created");
  if (!g_engine->IsLoaded()) throw EPythonError("The Python engine is not initialized");
  return *g_engine;
}

// --- PythonModule -----------------------------------------------------------------

PythonModule::PythonModule(Component* owner) : Component(owner) {}

PythonModule::~PythonModule() {
  Destroying();
  objects_.clear();
  module_.Reset();
}

void PythonModule::SetModuleName(std::string name) {
  if (module_) throw EPythonError("The module name cannot change once the module exists");
  module_name_ = std::move(name);
}

void PythonModule::SetEngine(PythonEngine* engine) {
  if (engine_ != nullptr) engine_->RemoveFreeNotification(this);
  engine_ = engine;
  if (engine_ != nullptr) engine_->FreeNotification(this);
}

void PythonModule::Notification(Component* component, Operation operation) {
  Component::Notification(component, operation);
  if (operation == Operation::Remove && component == engine_) engine_ = nullptr;
}

void PythonModule::AddFunction(std::string name, std::string doc, uint64_t handler_id) {
  functions_.push_back({std::move(name), std::move(doc), handler_id});
}

void PythonModule::AddObject(std::string name, PyHandle object) {
  objects_.emplace_back(std::move(name), std::move(object));
}

void PythonModule::Initialize() {
  if (engine_ == nullptr || !engine_->IsLoaded())
    throw EPythonError("The module " + module_name_ + " has no Python engine");
  if (module_name_.empty()) throw EPythonError("The module has no name");
  Gil gil;
  if (module_) throw EPythonError("The module " + module_name_ + " exists already");
  Registry& reg = TheRegistry();
  const char* name = nullptr;
  {
    std::lock_guard lock(reg.mutex);
    name = reg.names.emplace_back(module_name_).c_str();
  }
#if KVT_PY3
  PyModuleDef* def = nullptr;
  {
    std::lock_guard lock(reg.mutex);
    def = &reg.module_defs.emplace_back(PyModuleDef{PyModuleDef_HEAD_INIT, name, nullptr, -1,
                                                    nullptr, nullptr, nullptr, nullptr, nullptr});
  }
  Ref module(Check(PyModule_Create(def)));
#else
  Ref module(Check(PyModule_New(name)));
#endif
  for (const auto& [object_name, object] : objects_) {
    PyObject* o = Access::Get(object);
    Py_XINCREF(o);
    if (o == nullptr || PyModule_AddObject(module.get(), object_name.c_str(), o) != 0) {
      Py_XDECREF(o);
      if (!PyErr_Occurred()) PyErr_SetString(PyExc_SystemError, "empty module object");
      ThrowPythonError();
    }
  }
  Ref module_name(Check(NewNativeString(module_name_)));
  for (const PendingFunction& f : functions_) {
    FunctionDef* fd = nullptr;
    {
      std::lock_guard lock(reg.mutex);
      fd = &reg.defs.emplace_back();
    }
    fd->name = f.name;
    fd->doc = f.doc;
    fd->qualified_name = module_name_ + "." + f.name;
    fd->id = f.id;
    fd->def.ml_name = fd->name.c_str();
    fd->def.ml_meth = HandlerTrampoline;
    fd->def.ml_flags = METH_VARARGS;
    fd->def.ml_doc = fd->doc.empty() ? nullptr : fd->doc.c_str();
    Ref capsule(Check(PyCapsule_New(fd, kCapsuleName, nullptr)));
    PyObject* fn = Check(PyCFunction_NewEx(&fd->def, capsule.get(), module_name.get()));
    if (PyModule_AddObject(module.get(), fd->name.c_str(), fn) != 0) {
      Py_DECREF(fn);
      ThrowPythonError();
    }
  }
  if (PyDict_SetItemString(PyImport_GetModuleDict(), name, module.get()) != 0) ThrowPythonError();
  module_ = Access::Steal(module.release());
}

// --- PyObjectWrapper --------------------------------------------------------------

PyObjectWrapper::PyObjectWrapper(Component* owner) : Component(owner) {}

PyObjectWrapper::~PyObjectWrapper() {
  Destroying();
  {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    for (uint64_t id : ids_) r.handlers.erase(id);
  }
  ids_.clear();
  error_.Reset();
}

void PyObjectWrapper::SetEngine(PythonEngine* engine) {
  if (engine_ != nullptr) engine_->RemoveFreeNotification(this);
  engine_ = engine;
  if (engine_ != nullptr) engine_->FreeNotification(this);
}

void PyObjectWrapper::SetModule(PythonModule* module) {
  if (module_ != nullptr) module_->RemoveFreeNotification(this);
  module_ = module;
  if (module_ != nullptr) module_->FreeNotification(this);
}

void PyObjectWrapper::Notification(Component* component, Operation operation) {
  Component::Notification(component, operation);
  if (operation != Operation::Remove) return;
  if (component == engine_) engine_ = nullptr;
  if (component == module_) module_ = nullptr;
}

void PyObjectWrapper::AddFunctions(std::span<const PyFunction> functions) {
  functions_.insert(functions_.end(), functions.begin(), functions.end());
}

void PyObjectWrapper::Initialize() {
  if (engine_ == nullptr || !engine_->IsLoaded())
    throw EPythonError("The object wrapper has no Python engine");
  if (module_ == nullptr) throw EPythonError("The object wrapper has no module");
  if (module_->IsInitialized())
    throw EPythonError("The module " + module_->ModuleName() + " exists already");
  if (!ids_.empty()) throw EPythonError("The object wrapper is initialised already");
  {
    Gil gil;
    std::string error_name = module_->ModuleName() + ".Error";
    error_ = Access::Steal(Check(
        PyErr_NewException(const_cast<char*>(error_name.c_str()), PyExc_RuntimeError, nullptr)));
  }
  module_->AddObject("Error", error_);
  Registry& r = TheRegistry();
  for (const PyFunction& f : functions_) {
    uint64_t id;
    {
      std::lock_guard lock(r.mutex);
      id = r.next_id++;
      r.handlers[id] = Handler{std::make_shared<const PyFunction>(f), Access::Get(error_)};
    }
    ids_.push_back(id);
    module_->AddFunction(f.name, f.doc, id);
  }
}
