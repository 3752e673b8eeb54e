// The Python classes `FileSource`, `TextFileSource` and `JsonlFileSource`:
// each object holds one immutable `FileSourceSpec`.
#pragma once

#include "input/file_source.h"
#include "lib/py.h"

namespace morvik::py {

// 1 when `obj` is a FileSource (or subclass) and its spec was copied, 0 when
// it is not one, -1 on error.
int file_source_spec(PyObject* obj, input::FileSourceSpec& out);

int register_file_source(PyObject* module);       // FileSource
int register_text_file_source(PyObject* module);  // TextFileSource
int register_jsonl_file_source(PyObject* module); // JsonlFileSource

}  // namespace morvik::py
