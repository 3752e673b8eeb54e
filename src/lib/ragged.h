// Batch and file results to Python: one awkward Array with a row of uint32
// ids per document, built from the flat id vector and per-document counts
// without copying either (a list of NumPy views when awkward is missing).
#pragma once

#include <cstdint>
#include <vector>

#include "bpe/batch.h"
#include "lib/py.h"

namespace morvik::py {

PyObject* ragged_to_python(bpe::IdVector&& ids, std::vector<int64_t>&& counts);

}  // namespace morvik::py
