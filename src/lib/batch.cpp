// `BPETokenizer.encode_batch`: recognise the input (an awkward Array of
// strings or bytestrings, or a sequence of str or of bytes-like objects),
// release the interpreter lock, run the parallel engine, export the result.
#include "lib/batch.h"

#include <exception>
#include <optional>

#include "bpe/batch.h"
#include "lib/convert.h"
#include "lib/errors.h"
#include "lib/numpy_bridge.h"
#include "lib/ragged.h"

namespace morvik::py {
namespace {

constexpr const char kAwkwardType[] = "awkward input must be an array of strings or bytestrings";

struct AwkwardDocs {
  Ref content;  // 1-D uint8 array: every document's bytes in order
  std::vector<int64_t> lengths;
};

// 1: an awkward Array, taken apart; 0: not an awkward Array; -1: error set.
int extract_awkward_docs(PyObject* inputs, AwkwardDocs& out) {
  Ref ak = Ref::steal(PyImport_ImportModule("awkward"));
  if (!ak) {
    PyErr_Clear();
    return 0;
  }
  Ref array_type = Ref::steal(PyObject_GetAttrString(ak.get(), "Array"));
  if (!array_type) return -1;
  int is = PyObject_IsInstance(inputs, array_type.get());
  if (is < 0) return -1;
  if (is == 0) return 0;
  auto call = [&](const char* fn, PyObject* arg) {
    Ref f = Ref::steal(PyObject_GetAttrString(ak.get(), fn));
    return f ? Ref::steal(PyObject_CallOneArg(f.get(), arg)) : Ref();
  };
  auto type_error = [] {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, kAwkwardType);
    return -1;
  };
  Ref stripped = call("without_parameters", inputs);
  if (!stripped) return type_error();
  Ref flat = call("flatten", stripped.get());
  if (!flat) return type_error();
  Ref content = call("to_numpy", flat.get());
  if (!content) return -1;
  if (!numpy::is_1d_of(content.get(), numpy::Dtype::UInt8)) return type_error();
  Ref counts = call("num", stripped.get());
  if (!counts) return -1;
  Ref counts_np = call("to_numpy", counts.get());
  if (!counts_np) return -1;
  if (!numpy::is_1d_of(counts_np.get(), numpy::Dtype::Int64)) return type_error();
  if (!numpy::copy_int64(counts_np.get(), out.lengths)) return -1;
  out.content = std::move(content);
  return 1;
}

}  // namespace

PyObject* encode_batch_impl(BpeObject* self, PyObject* inputs) {
  SharedAccess access(self->access);
  if (!access.ok()) return nullptr;

  AwkwardDocs awk;
  int is_awkward = extract_awkward_docs(inputs, awk);
  if (is_awkward < 0) return nullptr;
  bpe::RaggedIds result;

  if (is_awkward == 1) {
    const char* base = nullptr;
    size_t size = 0;
    if (!numpy::contiguous_bytes(awk.content.get(), base, size)) return nullptr;
    bool bad_lengths = false;
    std::optional<std::string> failure;
    {
      GilRelease nogil;
      std::vector<std::string_view> slices;
      slices.reserve(awk.lengths.size());
      size_t start = 0;
      for (int64_t len : awk.lengths) {
        if (len < 0 || static_cast<uint64_t>(len) > size - start) {
          bad_lengths = true;
          break;
        }
        slices.emplace_back(base + start, static_cast<size_t>(len));
        start += static_cast<size_t>(len);
      }
      if (!bad_lengths) {
        try {
          result = bpe::encode_slices_ragged(self->state->pool, self->state->tokenizer, slices);
        } catch (const std::exception& e) {
          failure = e.what();
        }
      }
    }
    if (bad_lengths) {
      PyErr_SetString(PyExc_ValueError, "awkward input has document lengths that do not match its content");
      return nullptr;
    }
    if (failure) return raise_internal(*failure);
    return ragged_to_python(std::move(result.ids), std::move(result.counts));
  }

  // List path: collect new references first, so later changes to the
  // caller's sequence cannot affect the call.
  if (PyUnicode_Check(inputs) || !PySequence_Check(inputs)) {
    PyErr_SetString(PyExc_TypeError, "expected a list of str, a list of bytes, or an awkward Array of strings");
    return nullptr;
  }
  Ref seq = Ref::steal(PySequence_Fast(inputs, ""));
  if (!seq) {
    PyErr_Clear();
    PyErr_SetString(PyExc_TypeError, "expected a list of str, a list of bytes, or an awkward Array of strings");
    return nullptr;
  }
  Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
  if (n == 0) return ragged_to_python({}, {});
  std::vector<EncodeInput> docs(static_cast<size_t>(n));
  PyObject** items = PySequence_Fast_ITEMS(seq.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    if (!extract_doc(items[i], docs[static_cast<size_t>(i)])) return nullptr;
    if (docs[static_cast<size_t>(i)].is_str != docs[0].is_str) {
      PyErr_SetString(PyExc_TypeError,
                      "all documents in a batch must be of the same type (a list of str or a list of bytes)");
      return nullptr;
    }
  }
  std::optional<std::string> failure;
  {
    GilRelease nogil;
    std::vector<std::string_view> slices;
    slices.reserve(docs.size());
    for (const auto& d : docs) slices.push_back(d.bytes());
    try {
      result = bpe::encode_slices_ragged(self->state->pool, self->state->tokenizer, slices);
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  docs.clear();
  if (failure) return raise_internal(*failure);
  return ragged_to_python(std::move(result.ids), std::move(result.counts));
}

}  // namespace morvik::py
