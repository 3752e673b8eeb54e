// Module entry: multi-phase initialisation. The execution step registers the
// module's classes and functions in table order and lists each in __all__.
#include <Python.h>

namespace {

int morvik_exec(PyObject* module) {
  PyObject* all = PyList_New(0);
  if (!all) return -1;
  if (PyModule_AddObject(module, "__all__", all) < 0) {
    Py_DECREF(all);
    return -1;
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

extern "C" __attribute__((visibility("default"))) PyObject* PyInit_morvik_rs() {
  return PyModuleDef_Init(&morvik_module);
}
