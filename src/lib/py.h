// The thin RAII layer over the CPython C API used by every binding file.
//
// `Ref` owns one strong reference; `GilRelease` releases the interpreter lock
// for a scope. No naked Py_DECREF lives far from where the reference was made.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <string>
#include <string_view>
#include <utility>

namespace morvik::py {

class Ref {
 public:
  Ref() = default;
  static Ref steal(PyObject* p) { return Ref(p); }
  static Ref borrow(PyObject* p) {
    Py_XINCREF(p);
    return Ref(p);
  }
  Ref(const Ref& o) : p_(o.p_) { Py_XINCREF(p_); }
  Ref(Ref&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  Ref& operator=(Ref o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  ~Ref() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  explicit Ref(PyObject* p) : p_(p) {}
  PyObject* p_ = nullptr;
};

// Releases the interpreter lock for the lifetime of the guard. Code inside
// must not touch any Python object.
class GilRelease {
 public:
  GilRelease() : state_(PyEval_SaveThread()) {}
  ~GilRelease() { PyEval_RestoreThread(state_); }
  GilRelease(const GilRelease&) = delete;
  GilRelease& operator=(const GilRelease&) = delete;

 private:
  PyThreadState* state_;
};

// str(type(obj)), e.g. "<class 'int'>".
inline std::string type_text(PyObject* obj) {
  Ref s = Ref::steal(PyObject_Str(reinterpret_cast<PyObject*>(Py_TYPE(obj))));
  if (!s) {
    PyErr_Clear();
    return Py_TYPE(obj)->tp_name;
  }
  const char* u = PyUnicode_AsUTF8(s.get());
  if (!u) {
    PyErr_Clear();
    return Py_TYPE(obj)->tp_name;
  }
  return u;
}

// The qualified name of obj's type ("int", "pathlib.PosixPath" -> "PosixPath").
inline std::string type_qualname(PyObject* obj) {
  Ref q = Ref::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(obj)), "__qualname__"));
  if (q && PyUnicode_Check(q.get())) {
    if (const char* u = PyUnicode_AsUTF8(q.get())) return u;
  }
  PyErr_Clear();
  return Py_TYPE(obj)->tp_name;
}

inline PyObject* bytes_from(std::string_view s) {
  return PyBytes_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

}  // namespace morvik::py
