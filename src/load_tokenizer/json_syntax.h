// Strict JSON syntax checking with error positions, for error reporting.
//
// The tokenizer.json reader validates documents with simdjson, which says
// what went wrong but not where. When it refuses a document, this scalar
// checker walks the text once more and names the first offending byte and a
// readable description, so users get "... at line L column C". It is also the
// authority on the few inputs simdjson refuses although they are valid JSON
// (integers beyond 64 bits). Guarantees: never reads outside `text`, bounded
// nesting (`max_depth` levels) with an explicit stack, so hostile input cannot
// exhaust the call stack.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace morvik::load_tokenizer {

struct JsonSyntaxError {
  size_t offset;        // byte offset of the offending byte (text size at end of input)
  std::string message;  // e.g. "expected `,` or `}`", "EOF while parsing a string"
};

// Objects and arrays may nest this many levels deep, the top value included.
inline constexpr size_t JSON_MAX_DEPTH = 128;

// The first syntax error of `text` as one JSON value surrounded by optional
// whitespace (RFC 8259: UTF-8 strings, no lone surrogate escapes, finite
// numbers), or none when the text is valid.
std::optional<JsonSyntaxError> find_json_syntax_error(std::string_view text,
                                                      size_t max_depth = JSON_MAX_DEPTH);

// 1-based line and column (in bytes) of `offset` in `text`.
struct LineColumn {
  size_t line;
  size_t column;
};
LineColumn line_column(std::string_view text, size_t offset);

// " at line L column C", the suffix every reader description ends with.
std::string position_suffix(std::string_view text, size_t offset);

}  // namespace morvik::load_tokenizer
