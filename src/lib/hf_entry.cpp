// tokenizer.json entry points: `BPETokenizer.from_hf(path)` and the module
// function `load_hf_json(data)`.
#include "lib/hf_entry.h"

#include "lib/bpe_tokenizer.h"
#include "lib/convert.h"
#include "lib/errors.h"
#include "lib/registry.h"
#include "load_tokenizer/hf.h"
#include "load_tokenizer/hf_bpe.h"

namespace morvik::py {

PyObject* bpe_from_hf(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"path", nullptr};
  PyObject* path_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:from_hf", const_cast<char**>(kwlist), &path_obj)) return nullptr;
  std::string path;
  if (!convert_path(path_obj, "path", path)) return nullptr;
  auto json = load_tokenizer::read_tokenizer_json_file(path);
  if (!json) return raise_error(json.error());
  auto tok = load_tokenizer::build_bpe(*json);
  if (!tok) return raise_error(tok.error());
  return new_bpe_object(std::move(*tok));
}

namespace {

PyObject* fn_load_hf_json(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"data", nullptr};
  PyObject* data = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:load_hf_json", const_cast<char**>(kwlist), &data)) return nullptr;
  EncodeInput doc;
  if (!extract_doc(data, doc)) {
    PyErr_Clear();
    std::string msg = "expected tokenizer.json contents as str or bytes, got " + type_text(data);
    PyErr_SetString(PyExc_TypeError, msg.c_str());
    return nullptr;
  }
  auto json = load_tokenizer::parse_tokenizer_json(doc.bytes());
  if (!json) {
    Error e = std::move(json).error();
    e.message = "Failed to parse tokenizer JSON: " + e.message;
    return raise_error(e);
  }
  auto tok = load_tokenizer::build_bpe(*json);
  if (!tok) return raise_error(tok.error());
  return new_bpe_object(std::move(*tok));
}

PyMethodDef g_load_hf_json_def = {
    "load_hf_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn_load_hf_json)),
    METH_VARARGS | METH_KEYWORDS,
    "load_hf_json(data)\n--\n\n"
    "Load a tokenizer from in-memory HuggingFace `tokenizer.json` contents\n"
    "(str or bytes). Returns a SentencePieceTokenizer when the model uses\n"
    "byte_fallback, a BPETokenizer otherwise — the same split as the two\n"
    "classes' from_hf constructors."};

}  // namespace

int register_load_hf_json(PyObject* module) {
  PyObject* name = PyModule_GetNameObject(module);
  if (!name) return -1;
  PyObject* fn = PyCFunction_NewEx(&g_load_hf_json_def, nullptr, name);
  Py_DECREF(name);
  return add_public(module, "load_hf_json", fn);
}

}  // namespace morvik::py
