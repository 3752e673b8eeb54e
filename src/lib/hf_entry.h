// tokenizer.json entry points of the module.
#pragma once

#include "lib/py.h"

namespace morvik::py {

// The static method `BPETokenizer.from_hf(path)`.
PyObject* bpe_from_hf(PyObject* cls, PyObject* args, PyObject* kwargs);

}  // namespace morvik::py
