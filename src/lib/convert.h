// Conversions of Python arguments into native values.
//
// Documents are borrowed without copying (str through its cached UTF-8 form,
// bytes through their buffer); only bytearray is copied, because its buffer
// may change while the interpreter lock is released.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <cstdint>
#include "lib/py.h"

namespace morvik::py {

// One document taken from Python. Holds its owner for as long as it lives,
// so the bytes stay valid while the lock is released. Must be destroyed with
// the lock held when it refers to a Python object.
struct EncodeInput {
  Ref owner;                                   // the str or bytes object (Str / Bytes variants)
  std::shared_ptr<const std::string> copy;     // a bytearray's contents
  const char* data = nullptr;
  size_t size = 0;
  bool is_str = false;

  std::string_view bytes() const { return {data, size}; }
};

// Document rule. Returns false with TypeError "expected str or bytes, got
// <type>" (plus "; to encode files, use encode_files" when the value would
// be accepted as a path).
bool extract_doc(PyObject* value, EncodeInput& out);

// True when os.fspath(value) yields a str that the file-system encoding accepts.
bool accepted_as_path(PyObject* value);

// Path rule for a typed parameter `name` (errors carry "argument '<name>': ").
bool convert_path(PyObject* value, const char* name, std::string& out);
// Path rule without the prefix, for values taken apart in a method body.
bool convert_path_plain(PyObject* value, std::string& out);

// Byte-string rule for a typed parameter: bytes or a subclass only, borrowed.
bool convert_bytes(PyObject* value, const char* name, std::string_view& out);

// Token-id conversion (native uint32 arrays by buffer, otherwise a sequence
// of integers).
bool convert_token_ids(PyObject* value, std::vector<uint32_t>& out);

}  // namespace morvik::py
