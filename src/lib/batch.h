// Batch and file entry points of `BPETokenizer` (bodies of the methods).
#pragma once

#include "lib/bpe_tokenizer.h"

namespace morvik::py {

PyObject* encode_batch_impl(BpeObject* self, PyObject* inputs);
PyObject* encode_files_impl(BpeObject* self, PyObject* source);

}  // namespace morvik::py
