// How native failures and argument errors become Python exceptions.
//
// Every function here sets the Python error indicator and returns nullptr so
// that call sites can `return raise_...(...)`.
#pragma once

#include "common/error.h"
#include "lib/py.h"

namespace morvik::py {

// RuntimeError whose text is the message, then (if any) a blank line,
// "Caused by:" and each cause indented by four spaces, then a blank line,
// "Location:" and the raise site indented by four spaces.
PyObject* raise_error(const Error& e);
std::string error_text(const Error& e);

// The exception class for conditions the native code treats as impossible.
// Derived from BaseException so that `except Exception` does not hide it.
PyObject* internal_error_type();
PyObject* raise_internal(const std::string& message);

// TypeError "'<qualname>' object is not an instance of '<expected>'"
// ("'None' is not an instance of '<expected>'" for None).
PyObject* raise_type_mismatch(PyObject* value, const char* expected);
// TypeError refusing a str where a sequence is expected.
PyObject* raise_str_as_sequence();

// If the pending exception is a TypeError, replace it by one whose message
// is "argument '<name>': " + its message, keeping its cause. Other
// exception types pass through. Always returns nullptr.
PyObject* prefix_argument_error(const char* name);

}  // namespace morvik::py
