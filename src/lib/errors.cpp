#include "lib/errors.h"

namespace morvik::py {

std::string error_text(const Error& e) {
  std::string text = e.message;
  if (!e.causes.empty()) {
    text += "\n\nCaused by:";
    for (const auto& c : e.causes) text += "\n    " + c;
  }
  text += "\n\nLocation:\n    " + e.location;
  return text;
}

PyObject* raise_error(const Error& e) {
  std::string text = error_text(e);
  Ref msg = Ref::steal(PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
  if (!msg) return nullptr;
  PyErr_SetObject(PyExc_RuntimeError, msg.get());
  return nullptr;
}

PyObject* internal_error_type() {
  // Created once per process and kept alive for its lifetime; the class is
  // not one of the module's registered names.
  static PyObject* type = PyErr_NewExceptionWithDoc(
      "morvik_rs.InternalError", "An invariant of the native code was violated.", PyExc_BaseException, nullptr);
  return type;
}

PyObject* raise_internal(const std::string& message) {
  PyObject* type = internal_error_type();
  if (!type) return nullptr;
  PyErr_SetString(type, message.c_str());
  return nullptr;
}

PyObject* raise_type_mismatch(PyObject* value, const char* expected) {
  if (value == Py_None) {
    PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", expected);
  } else {
    std::string q = type_qualname(value);
    PyErr_Format(PyExc_TypeError, "'%s' object is not an instance of '%s'", q.c_str(), expected);
  }
  return nullptr;
}

PyObject* raise_str_as_sequence() {
  PyErr_SetString(PyExc_TypeError, "Can't extract `str` to a list: expected a sequence, not a str");
  return nullptr;
}

PyObject* prefix_argument_error(const char* name) {
  if (!PyErr_ExceptionMatches(PyExc_TypeError)) return nullptr;
  PyObject *type, *value, *tb;
  PyErr_Fetch(&type, &value, &tb);
  PyErr_NormalizeException(&type, &value, &tb);
  Ref t = Ref::steal(type), v = Ref::steal(value), trace = Ref::steal(tb);
  Ref text = Ref::steal(v ? PyObject_Str(v.get()) : PyUnicode_FromString(""));
  if (!text) return nullptr;
  Ref msg = Ref::steal(PyUnicode_FromFormat("argument '%s': %U", name, text.get()));
  if (!msg) return nullptr;
  Ref err = Ref::steal(PyObject_CallOneArg(PyExc_TypeError, msg.get()));
  if (!err) return nullptr;
  if (v) {
    if (PyObject* cause = PyException_GetCause(v.get())) PyException_SetCause(err.get(), cause);  // steals
  }
  PyErr_SetObject(PyExc_TypeError, err.get());
  return nullptr;
}

}  // namespace morvik::py
