// Registration hooks of the module's classes and functions. module.cpp calls
// them in the module's table order; each adds its name(s) to the module and
// to __all__.
#pragma once

#include "lib/py.h"

namespace morvik::py {

// Adds `obj` (a new reference, stolen) as `name` on the module and appends
// the name to __all__. Returns -1 with an exception set on failure.
int add_public(PyObject* module, const char* name, PyObject* obj);

int register_file_source(PyObject* module);        // FileSource
int register_text_file_source(PyObject* module);   // TextFileSource
int register_jsonl_file_source(PyObject* module);  // JsonlFileSource
int register_pretokenizer_iter(PyObject* module);  // PretokenizerIter
int register_bpe_tokenizer(PyObject* module);      // BPETokenizer
int register_pretokenizer_fn(PyObject* module);    // pretokenizer
int register_load_hf_json(PyObject* module);       // load_hf_json

}  // namespace morvik::py
