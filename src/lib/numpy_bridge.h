// NumPy arrays in and out, with NumPy's C API obtained on first use.
//
// Built against NumPy 2 headers with a 1.21 target, so the same binary runs
// beside NumPy 1.x and 2.x. Only this file's source includes NumPy headers.
// Results take over a native vector as their buffer: a small owner object,
// set as the array's base, frees it when the array goes away.
#pragma once

#include <cstdint>
#include <vector>

#include "bpe/batch.h"
#include "lib/py.h"

namespace morvik::py::numpy {

// Imports NumPy's C API once; false with the import error set on failure.
bool ensure();

// 1 when `value` is a one-dimensional native-endian uint32 array and its ids
// were copied into `out`; 0 when it is not such an array (nothing set);
// -1 with TypeError "The given array is not contiguous or is misaligned."
int copy_uint32_array(PyObject* value, std::vector<uint32_t>& out);

enum class Dtype { UInt8, Int64 };

// True when `value` is a one-dimensional NumPy array of that native dtype.
bool is_1d_of(PyObject* value, Dtype dtype);

// The buffer of a 1-D array; unless it is empty it must be aligned and
// contiguous, else TypeError "The given array is not contiguous or is
// misaligned." and false.
bool contiguous_bytes(PyObject* array, const char*& data, size_t& nbytes);

// Copies a 1-D int64 array (same contiguity rule).
bool copy_int64(PyObject* array, std::vector<int64_t>& out);

// One-dimensional arrays owning the vector's buffer (no copy).
PyObject* array_from(std::vector<uint32_t>&& v);
PyObject* array_from(std::vector<int64_t>&& v);
PyObject* array_from(std::vector<uint8_t>&& v);
PyObject* array_from(std::vector<uint32_t, bpe::UninitAllocator<uint32_t>>&& v);

// A one-dimensional view of `n` elements at `data`, kept alive by `base`
// (a new reference is taken on it).
PyObject* uint32_view(const uint32_t* data, size_t n, PyObject* base);

}  // namespace morvik::py::numpy
