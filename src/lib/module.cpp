// Module entry: multi-phase initialisation. The execution step registers the
// module's classes and functions in table order and lists each in __all__.
#include "lib/registry.h"

namespace morvik::py {

int add_public(PyObject* module, const char* name, PyObject* obj) {
  Ref owned = Ref::steal(obj);
  if (!owned) return -1;
  Ref all = Ref::steal(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) return -1;
    PyErr_Clear();
    all = Ref::steal(PyList_New(0));
    if (!all || PyObject_SetAttrString(module, "__all__", all.get()) < 0) return -1;
  }
  if (PyObject_SetAttrString(module, name, owned.get()) < 0) return -1;
  Ref s = Ref::steal(PyUnicode_FromString(name));
  if (!s) return -1;
  return PyList_Append(all.get(), s.get());
}

namespace {

using RegisterFn = int (*)(PyObject*);

// The module's table order. A name appears here only once it works.
constexpr RegisterFn kRegistry[] = {
    register_file_source,
    register_text_file_source,
    register_jsonl_file_source,
    register_pretokenizer_iter,
    register_bpe_tokenizer,
    register_pretokenizer_fn,
    register_load_hf_json,
};

int morvik_exec(PyObject* module) {
  for (RegisterFn fn : kRegistry) {
    if (fn(module) < 0) return -1;
  }
  return 0;
}

PyModuleDef_Slot morvik_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(morvik_exec)},
    {0, nullptr},
};

PyModuleDef morvik_module = {
    PyModuleDef_HEAD_INIT, "morvik_rs", "", 0, nullptr, morvik_slots, nullptr, nullptr, nullptr,
};

}  // namespace
}  // namespace morvik::py

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_morvik_rs() {
  return PyModuleDef_Init(&morvik::py::morvik_module);
}
