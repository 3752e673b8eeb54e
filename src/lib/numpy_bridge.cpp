#include "lib/numpy_bridge.h"

#include <cstring>
#include <memory>
#include <type_traits>

#define PY_ARRAY_UNIQUE_SYMBOL morvik_numpy_api
#include <numpy/arrayobject.h>

namespace morvik::py::numpy {

namespace {

bool g_ready = false;

// Owner of a native buffer handed to NumPy. One type serves every element
// type: it holds a type-erased deleter.
struct BufferOwner {
  PyObject_HEAD
  void* data;
  void (*free_fn)(void*);
};

void owner_dealloc(PyObject* self) {
  auto* o = reinterpret_cast<BufferOwner*>(self);
  if (o->free_fn) o->free_fn(o->data);
  Py_TYPE(self)->tp_free(self);
}

PyTypeObject g_owner_type = [] {
  PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
  t.tp_name = "morvik_rs._Buffer";
  t.tp_basicsize = sizeof(BufferOwner);
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_dealloc = owner_dealloc;
  t.tp_doc = "";
  return t;
}();

template <class V>
PyObject* wrap_vector(V&& v, int typenum) {
  using T = std::remove_reference_t<V>;
  if (!ensure()) return nullptr;
  if (PyType_Ready(&g_owner_type) < 0) return nullptr;
  auto* heap = new T(std::move(v));
  npy_intp dims[1] = {static_cast<npy_intp>(heap->size())};
  if (heap->empty()) {
    delete heap;
    return PyArray_SimpleNew(1, dims, typenum);
  }
  PyObject* owner = PyType_GenericAlloc(&g_owner_type, 0);
  if (!owner) {
    delete heap;
    return nullptr;
  }
  auto* o = reinterpret_cast<BufferOwner*>(owner);
  o->data = heap;
  o->free_fn = [](void* p) { delete static_cast<T*>(p); };
  PyObject* arr = PyArray_SimpleNewFromData(1, dims, typenum, heap->data());
  if (!arr) {
    Py_DECREF(owner);
    return nullptr;
  }
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr), owner) < 0) {  // steals owner
    Py_DECREF(arr);
    return nullptr;
  }
  return arr;
}

}  // namespace

bool ensure() {
  if (g_ready) return true;
  if (_import_array() < 0) return false;
  g_ready = true;
  return true;
}

int copy_uint32_array(PyObject* value, std::vector<uint32_t>& out) {
  // An object can only be an ndarray once NumPy is loaded; do not import it
  // just to find out.
  if (!g_ready) {
    Ref name = Ref::steal(PyUnicode_FromString("numpy"));
    if (!name) return -1;
    Ref np = Ref::steal(PyImport_GetModule(name.get()));
    if (!np) {
      PyErr_Clear();
      return 0;
    }
    if (!ensure()) return -1;
  }
  if (!PyArray_Check(value)) return 0;
  auto* arr = reinterpret_cast<PyArrayObject*>(value);
  if (PyArray_NDIM(arr) != 1) return 0;
  PyArray_Descr* d = PyArray_DESCR(arr);
  if (d->type_num != NPY_UINT32 || !PyArray_ISNOTSWAPPED(arr)) return 0;
  npy_intp n = PyArray_DIM(arr, 0);
  if (n == 0) return 1;
  bool contiguous = PyArray_IS_C_CONTIGUOUS(arr) || PyArray_IS_F_CONTIGUOUS(arr);
  if (!contiguous || !PyArray_ISALIGNED(arr)) {
    PyErr_SetString(PyExc_TypeError, "The given array is not contiguous or is misaligned.");
    return -1;
  }
  out.resize(static_cast<size_t>(n));
  std::memcpy(out.data(), PyArray_DATA(arr), static_cast<size_t>(n) * sizeof(uint32_t));
  return 1;
}

bool is_1d_of(PyObject* value, Dtype dtype) {
  if (!ensure()) {
    PyErr_Clear();
    return false;
  }
  if (!PyArray_Check(value)) return false;
  auto* arr = reinterpret_cast<PyArrayObject*>(value);
  int want = dtype == Dtype::UInt8 ? NPY_UINT8 : NPY_INT64;
  return PyArray_NDIM(arr) == 1 && PyArray_DESCR(arr)->type_num == want && PyArray_ISNOTSWAPPED(arr);
}

bool contiguous_bytes(PyObject* array, const char*& data, size_t& nbytes) {
  auto* arr = reinterpret_cast<PyArrayObject*>(array);
  nbytes = static_cast<size_t>(PyArray_NBYTES(arr));
  data = static_cast<const char*>(PyArray_DATA(arr));
  if (PyArray_SIZE(arr) == 0) {
    nbytes = 0;
    return true;
  }
  if (!(PyArray_IS_C_CONTIGUOUS(arr) || PyArray_IS_F_CONTIGUOUS(arr)) || !PyArray_ISALIGNED(arr)) {
    PyErr_SetString(PyExc_TypeError, "The given array is not contiguous or is misaligned.");
    return false;
  }
  return true;
}

bool copy_int64(PyObject* array, std::vector<int64_t>& out) {
  const char* data = nullptr;
  size_t nbytes = 0;
  if (!contiguous_bytes(array, data, nbytes)) return false;
  out.resize(nbytes / sizeof(int64_t));
  if (nbytes) std::memcpy(out.data(), data, nbytes);
  return true;
}

PyObject* array_from(std::vector<uint32_t>&& v) { return wrap_vector(std::move(v), NPY_UINT32); }
PyObject* array_from(std::vector<int64_t>&& v) { return wrap_vector(std::move(v), NPY_INT64); }
PyObject* array_from(std::vector<uint8_t>&& v) { return wrap_vector(std::move(v), NPY_UINT8); }
PyObject* array_from(std::vector<uint32_t, bpe::UninitAllocator<uint32_t>>&& v) {
  return wrap_vector(std::move(v), NPY_UINT32);
}

PyObject* uint32_view(const uint32_t* data, size_t n, PyObject* base) {
  if (!ensure()) return nullptr;
  npy_intp dims[1] = {static_cast<npy_intp>(n)};
  PyObject* arr = PyArray_New(&PyArray_Type, 1, dims, NPY_UINT32, nullptr, const_cast<uint32_t*>(data), 0,
                              NPY_ARRAY_C_CONTIGUOUS | NPY_ARRAY_ALIGNED, nullptr);
  if (!arr) return nullptr;
  Py_INCREF(base);
  if (PyArray_SetBaseObject(reinterpret_cast<PyArrayObject*>(arr), base) < 0) {
    Py_DECREF(arr);
    return nullptr;
  }
  return arr;
}

}  // namespace morvik::py::numpy
