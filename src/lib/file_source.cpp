#include "lib/file_source.h"

#include <new>
#include <string>

#include "input/display.h"
#include "lib/borrow.h"
#include "lib/convert.h"
#include "lib/errors.h"
#include "lib/registry.h"

namespace morvik::py {
namespace {

struct FileSourceObject {
  PyObject_HEAD
  AccessCounter access;
  input::FileSourceSpec* spec;
};

FileSourceObject* as_fs(PyObject* o) { return reinterpret_cast<FileSourceObject*>(o); }

void fs_dealloc(PyObject* self) {
  auto* o = as_fs(self);
  delete o->spec;
  o->access.~AccessCounter();
  Py_TYPE(self)->tp_free(self);
}

PyObject* fs_repr(PyObject* self) {
  auto* o = as_fs(self);
  SharedAccess access(o->access);
  if (!access.ok()) return nullptr;
  if (!o->spec) return PyUnicode_FromString("FileSource()");
  const auto& spec = *o->spec;
  std::string n = std::to_string(spec.paths.size());
  std::string text;
  if (const auto* j = spec.format.as_jsonl()) {
    text = "JsonlFileSource(paths=[" + n + " files], field=" + input::debug_quote(j->field) + ")";
  } else if (const auto* t = spec.format.as_text(); t && t->separator) {
    text = "TextFileSource(paths=[" + n + " files], separator=" + input::debug_quote(*t->separator) + ")";
  } else {
    text = "TextFileSource(paths=[" + n + " files])";
  }
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// `paths`: a sequence (not a str) of path-like objects.
bool convert_paths(PyObject* value, std::vector<std::string>& out) {
  if (PyUnicode_Check(value)) {
    raise_str_as_sequence();
    return prefix_argument_error("paths"), false;
  }
  if (!PySequence_Check(value)) {
    raise_type_mismatch(value, "Sequence");
    return prefix_argument_error("paths"), false;
  }
  Ref seq = Ref::steal(PySequence_Fast(value, ""));
  if (!seq) return prefix_argument_error("paths"), false;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
  PyObject** items = PySequence_Fast_ITEMS(seq.get());
  out.reserve(static_cast<size_t>(n));
  for (Py_ssize_t i = 0; i < n; ++i) {
    std::string p;
    if (!convert_path(items[i], "paths", p)) return false;
    out.push_back(std::move(p));
  }
  return true;
}

// `separator`: None, bytes, bytearray, or a sequence of integers 0..255.
bool convert_separator(PyObject* value, std::optional<std::string>& out) {
  if (value == Py_None) return true;
  if (PyBytes_Check(value)) {
    out.emplace(PyBytes_AS_STRING(value), static_cast<size_t>(PyBytes_GET_SIZE(value)));
    return true;
  }
  if (PyByteArray_Check(value)) {
    out.emplace(PyByteArray_AS_STRING(value), static_cast<size_t>(PyByteArray_GET_SIZE(value)));
    return true;
  }
  if (PyUnicode_Check(value)) {
    raise_str_as_sequence();
    return prefix_argument_error("separator"), false;
  }
  if (!PySequence_Check(value)) {
    raise_type_mismatch(value, "Sequence");
    return prefix_argument_error("separator"), false;
  }
  Ref seq = Ref::steal(PySequence_Fast(value, ""));
  if (!seq) return prefix_argument_error("separator"), false;
  std::string bytes;
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    Ref index = Ref::steal(PyNumber_Index(PySequence_Fast_GET_ITEM(seq.get(), i)));
    if (!index) return prefix_argument_error("separator"), false;
    long v = PyLong_AsLong(index.get());
    if (v == -1 && PyErr_Occurred()) return false;
    if (v < 0 || v > 255) {
      PyErr_SetString(PyExc_OverflowError, "out of range integral type conversion attempted");
      return false;
    }
    bytes.push_back(static_cast<char>(v));
  }
  out = std::move(bytes);
  return true;
}

PyObject* make_source(PyTypeObject* type, input::FileSourceSpec&& spec) {
  PyObject* obj = type->tp_alloc(type, 0);
  if (!obj) return nullptr;
  new (&as_fs(obj)->access) AccessCounter();
  as_fs(obj)->spec = new input::FileSourceSpec(std::move(spec));
  return obj;
}

PyObject* text_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"paths", "separator", nullptr};
  PyObject* paths = nullptr;
  PyObject* separator = Py_None;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:TextFileSource", const_cast<char**>(kwlist), &paths,
                                   &separator)) {
    return nullptr;
  }
  input::FileSourceSpec spec;
  if (!convert_paths(paths, spec.paths)) return nullptr;
  std::optional<std::string> sep;
  if (!convert_separator(separator, sep)) return nullptr;
  spec.format = input::DocFormat::text(std::move(sep));
  return make_source(type, std::move(spec));
}

PyObject* jsonl_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"paths", "field", nullptr};
  PyObject* paths = nullptr;
  PyObject* field = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O|O:JsonlFileSource", const_cast<char**>(kwlist), &paths,
                                   &field)) {
    return nullptr;
  }
  input::FileSourceSpec spec;
  if (!convert_paths(paths, spec.paths)) return nullptr;
  std::string name = "text";
  if (field) {
    if (!PyUnicode_Check(field)) {
      raise_type_mismatch(field, "str");
      return prefix_argument_error("field");
    }
    Py_ssize_t n = 0;
    const char* u = PyUnicode_AsUTF8AndSize(field, &n);
    if (!u) return prefix_argument_error("field");
    name.assign(u, static_cast<size_t>(n));
  }
  spec.format = input::DocFormat::jsonl(std::move(name));
  return make_source(type, std::move(spec));
}

PyTypeObject g_base = [] {
  PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
  t.tp_name = "morvik_rs.FileSource";
  t.tp_basicsize = sizeof(FileSourceObject);
  t.tp_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_BASETYPE;
  t.tp_doc =
      "Base class for file sources. Not directly constructible from Python —\n"
      "use `TextFileSource` or `JsonlFileSource`, which pin down the document\n"
      "format and its parameters. Compression (.gz/.zst) is always detected\n"
      "from the file extension, independent of the source type.";
  t.tp_dealloc = fs_dealloc;
  t.tp_repr = fs_repr;
  return t;
}();

PyTypeObject g_text = [] {
  PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
  t.tp_name = "morvik_rs.TextFileSource";
  t.tp_basicsize = sizeof(FileSourceObject);
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_doc =
      "TextFileSource(paths, separator=None)\n--\n\n"
      "Plain-text files. With `separator`, documents are the pieces between\n"
      "separator occurrences (the separator itself belongs to no document);\n"
      "without one, each file is a single document.";
  t.tp_new = text_new;
  return t;
}();

PyTypeObject g_jsonl = [] {
  PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
  t.tp_name = "morvik_rs.JsonlFileSource";
  t.tp_basicsize = sizeof(FileSourceObject);
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_doc =
      "JsonlFileSource(paths, field=\"text\")\n--\n\n"
      "JSON Lines files: one document per line, text taken from `field`.";
  t.tp_new = jsonl_new;
  return t;
}();

int ready_and_add(PyObject* module, PyTypeObject* type, const char* name) {
  if (type != &g_base) type->tp_base = &g_base;
  if (PyType_Ready(type) < 0) return -1;
  Py_INCREF(type);
  return add_public(module, name, reinterpret_cast<PyObject*>(type));
}

}  // namespace

int file_source_spec(PyObject* obj, input::FileSourceSpec& out) {
  int is = PyObject_IsInstance(obj, reinterpret_cast<PyObject*>(&g_base));
  if (is <= 0) return is;
  auto* o = as_fs(obj);
  SharedAccess access(o->access);
  if (!access.ok()) return -1;
  if (!o->spec) {
    // A Python subclass instantiated without one of our constructors.
    PyErr_SetString(PyExc_TypeError, "FileSource object was not initialised by TextFileSource or JsonlFileSource");
    return -1;
  }
  out = *o->spec;
  return 1;
}

int register_file_source(PyObject* module) { return ready_and_add(module, &g_base, "FileSource"); }
int register_text_file_source(PyObject* module) { return ready_and_add(module, &g_text, "TextFileSource"); }
int register_jsonl_file_source(PyObject* module) { return ready_and_add(module, &g_jsonl, "JsonlFileSource"); }

}  // namespace morvik::py
