// For the few sources that include Python.h (the embedding layer itself and the module's
// entry points): the Python objects behind the layer's handles.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include "platform/python/pyembed.h"

namespace pyembed_detail {
struct Access {
  // The object a handle holds (borrowed), or null.
  static PyObject* Get(const PyHandle& h) { return static_cast<PyObject*>(h.obj_); }
  // A handle that takes over the caller's reference to `o` (null gives an empty handle).
  static PyHandle Steal(PyObject* o) {
    PyHandle h;
    h.obj_ = o;
    return h;
  }
  // A handle with a reference of its own to `o`.
  static PyHandle Borrow(PyObject* o) {
    Py_XINCREF(o);
    return Steal(o);
  }
};
}  // namespace pyembed_detail

// A new reference to the module object of an initialised module component, or null.
PyObject* NewModuleReference(const PythonModule& module);
