// `pretokenizer(text)` and its iterator `PretokenizerIter`: GPT-2 pretokens
// of a bytes object, one `bytes` per step, read from the object's own buffer.
#include <cstddef>

#include "lib/borrow.h"
#include "lib/convert.h"
#include "lib/errors.h"
#include "lib/registry.h"
#include "pretokenize/fast/r50k.h"

namespace morvik::py {
namespace {

struct PretokenizerIterObject {
  PyObject_HEAD
  PyObject* text;  // the bytes object, kept alive (and immutable) by this reference
  size_t offset;
  AccessCounter access;
};

void iter_dealloc(PyObject* self) {
  auto* it = reinterpret_cast<PretokenizerIterObject*>(self);
  Py_XDECREF(it->text);
  it->access.~AccessCounter();
  Py_TYPE(self)->tp_free(self);
}

PyObject* iter_iter(PyObject* self) {
  SharedAccess access(reinterpret_cast<PretokenizerIterObject*>(self)->access);
  if (!access.ok()) return nullptr;
  Py_INCREF(self);
  return self;
}

PyObject* iter_next(PyObject* self) {
  auto* it = reinterpret_cast<PretokenizerIterObject*>(self);
  ExclusiveAccess access(it->access);
  if (!access.ok()) return nullptr;
  const char* data = PyBytes_AS_STRING(it->text);
  size_t len = static_cast<size_t>(PyBytes_GET_SIZE(it->text));
  if (it->offset >= len) return nullptr;  // StopIteration, again and again
  // A scan may start at any pretoken boundary and yields the same pieces as
  // one scan over the whole text.
  pretokenize::FastR50kPretokenizer scanner(std::string_view(data, len), it->offset);
  auto span = scanner.next();
  if (!span || span->offset != it->offset || span->length == 0 || span->offset + span->length > len) {
    return raise_internal("pretokenizer produced a span outside the text");
  }
  size_t start = it->offset;
  it->offset = start + span->length;
  return bytes_from(std::string_view(data + start, span->length));
}

PyTypeObject g_iter_type = [] {
  PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
  t.tp_name = "morvik_rs.PretokenizerIter";
  t.tp_basicsize = sizeof(PretokenizerIterObject);
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_doc = "";
  t.tp_dealloc = iter_dealloc;
  t.tp_iter = iter_iter;
  t.tp_iternext = iter_next;
  return t;  // no tp_new: not constructible from Python
}();

PyObject* fn_pretokenizer(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"text", nullptr};
  PyObject* text = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:pretokenizer", const_cast<char**>(kwlist), &text)) {
    return nullptr;
  }
  std::string_view bytes;
  if (!convert_bytes(text, "text", bytes)) return nullptr;
  auto* it = PyObject_New(PretokenizerIterObject, &g_iter_type);
  if (!it) return nullptr;
  Py_INCREF(text);
  it->text = text;
  it->offset = 0;
  new (&it->access) AccessCounter();
  return reinterpret_cast<PyObject*>(it);
}

PyMethodDef g_pretokenizer_def = {
    "pretokenizer", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn_pretokenizer)),
    METH_VARARGS | METH_KEYWORDS, "pretokenizer(text)\n--\n\n"};

}  // namespace

int register_pretokenizer_iter(PyObject* module) {
  if (PyType_Ready(&g_iter_type) < 0) return -1;
  Py_INCREF(&g_iter_type);
  return add_public(module, "PretokenizerIter", reinterpret_cast<PyObject*>(&g_iter_type));
}

int register_pretokenizer_fn(PyObject* module) {
  PyObject* name = PyModule_GetNameObject(module);
  if (!name) return -1;
  PyObject* fn = PyCFunction_NewEx(&g_pretokenizer_def, nullptr, name);
  Py_DECREF(name);
  return add_public(module, "pretokenizer", fn);
}

}  // namespace morvik::py
