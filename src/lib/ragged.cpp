#include "lib/ragged.h"

#include "lib/numpy_bridge.h"

namespace morvik::py {

PyObject* ragged_to_python(bpe::IdVector&& ids, std::vector<int64_t>&& counts) {
  const bool no_docs = counts.empty();
  Ref ids_array = Ref::steal(numpy::array_from(std::move(ids)));
  if (!ids_array) return nullptr;
  Ref counts_array = Ref::steal(numpy::array_from(std::move(counts)));
  if (!counts_array) return nullptr;

  Ref ak = Ref::steal(PyImport_ImportModule("awkward"));
  if (ak) {
    Ref unflatten = Ref::steal(PyObject_GetAttrString(ak.get(), "unflatten"));
    if (!unflatten) return nullptr;
    return PyObject_CallFunctionObjArgs(unflatten.get(), ids_array.get(), counts_array.get(), nullptr);
  }
  PyErr_Clear();
  if (no_docs) return PyList_New(0);
  Ref np = Ref::steal(PyImport_ImportModule("numpy"));
  if (!np) return nullptr;
  Ref cumsum = Ref::steal(PyObject_CallMethod(np.get(), "cumsum", "O", counts_array.get()));
  if (!cumsum) return nullptr;
  Ref start = Ref::steal(PyLong_FromLong(0)), stop = Ref::steal(PyLong_FromLong(-1)),
      step = Ref::steal(PyLong_FromLong(1));
  if (!start || !stop || !step) return nullptr;
  Ref slice = Ref::steal(PySlice_New(start.get(), stop.get(), step.get()));
  if (!slice) return nullptr;
  Ref bounds = Ref::steal(PyObject_GetItem(cumsum.get(), slice.get()));
  if (!bounds) return nullptr;
  return PyObject_CallMethod(np.get(), "split", "OO", ids_array.get(), bounds.get());
}

}  // namespace morvik::py
