#include "lib/convert.h"

#include <cstring>

#include "lib/errors.h"
#include "lib/numpy_bridge.h"

namespace morvik::py {

bool accepted_as_path(PyObject* value) {
  Ref s = Ref::steal(PyOS_FSPath(value));
  if (!s || !PyUnicode_Check(s.get())) {
    PyErr_Clear();
    return false;
  }
  Ref encoded = Ref::steal(PyUnicode_EncodeFSDefault(s.get()));
  if (!encoded) {
    PyErr_Clear();
    return false;
  }
  return true;
}

bool extract_doc(PyObject* value, EncodeInput& out) {
  if (PyUnicode_Check(value)) {
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(value, &n);
    if (u) {
      out.owner = Ref::borrow(value);
      out.data = u;
      out.size = static_cast<size_t>(n);
      out.is_str = true;
      return true;
    }
    PyErr_Clear();  // lone surrogates: not a document
  } else if (PyBytes_Check(value)) {
    out.owner = Ref::borrow(value);
    out.data = PyBytes_AS_STRING(value);
    out.size = static_cast<size_t>(PyBytes_GET_SIZE(value));
    return true;
  } else if (PyByteArray_Check(value)) {
    out.copy = std::make_shared<const std::string>(PyByteArray_AS_STRING(value),
                                                   static_cast<size_t>(PyByteArray_GET_SIZE(value)));
    out.data = out.copy->data();
    out.size = out.copy->size();
    return true;
  }
  std::string msg = "expected str or bytes, got " + type_text(value);
  if (accepted_as_path(value)) msg += "; to encode files, use encode_files";
  PyErr_SetString(PyExc_TypeError, msg.c_str());
  return false;
}

bool convert_path_plain(PyObject* value, std::string& out) {
  Ref s = Ref::steal(PyOS_FSPath(value));
  if (!s) return false;
  if (!PyUnicode_Check(s.get())) {
    raise_type_mismatch(s.get(), "str");
    return false;
  }
  Ref encoded = Ref::steal(PyUnicode_EncodeFSDefault(s.get()));
  if (!encoded) return false;
  out.assign(PyBytes_AS_STRING(encoded.get()), static_cast<size_t>(PyBytes_GET_SIZE(encoded.get())));
  return true;
}

bool convert_path(PyObject* value, const char* name, std::string& out) {
  if (convert_path_plain(value, out)) return true;
  prefix_argument_error(name);
  return false;
}

bool convert_bytes(PyObject* value, const char* name, std::string_view& out) {
  if (!PyBytes_Check(value)) {
    raise_type_mismatch(value, "bytes");
    prefix_argument_error(name);
    return false;
  }
  out = std::string_view(PyBytes_AS_STRING(value), static_cast<size_t>(PyBytes_GET_SIZE(value)));
  return true;
}

bool convert_token_ids(PyObject* value, std::vector<uint32_t>& out) {
  out.clear();
  int r = numpy::copy_uint32_array(value, out);
  if (r < 0) return false;
  if (r > 0) return true;
  if (PyUnicode_Check(value)) {
    raise_str_as_sequence();
    return false;
  }
  if (!PySequence_Check(value)) {
    raise_type_mismatch(value, "Sequence");
    return false;
  }
  Py_ssize_t n = PySequence_Size(value);
  if (n < 0) return false;
  out.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref item = Ref::steal(PySequence_GetItem(value, i));
    if (!item) return false;
    Ref index = Ref::steal(PyNumber_Index(item.get()));
    if (!index) return false;
    long v = PyLong_AsLong(index.get());
    if (v == -1 && PyErr_Occurred()) return false;  // the interpreter's own OverflowError
    if (v < 0 || static_cast<unsigned long>(v) > 0xFFFFFFFFul) {
      PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
      return false;
    }
    out.push_back(static_cast<uint32_t>(v));
  }
  return true;
}

}  // namespace morvik::py
