// JSON Lines in memory: one document per line, the text taken from one
// string member of each line's object.
//
// Guarantees:
// - Lines made only of white space (space, TAB, CR, LF) are skipped.
// - Every other line must be a JSON object whose member `field` is a string;
//   a line that is not is never skipped silently: the slice stops there and
//   reports the line (1-based) and the reason. Documents of the range before
//   it have been returned already; the caller decides (the encoder discards
//   everything and raises).
// - Ranges can be read in parallel and still name the first bad line of the
//   whole file deterministically: each slice counts the lines it consumed,
//   and `first_bad_line` adds up the counts of the ranges before the first
//   failing one (ranges from `chunk_ranges` start at line starts).
// - A line must be valid UTF-8 and well-formed JSON as far as the reader's
//   structural pass sees (bytes after the object are an error); members
//   before the wanted one are skipped without full validation of their
//   values. A trailing CR is white space, so CRLF files read alike.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/error.h"
#include "input/mod.h"

namespace morvik::input {

enum class JsonlFault : std::uint8_t {
  NotJson,         // not valid JSON (up to the member), or not valid UTF-8
  NotObject,       // valid JSON, but not an object
  FieldMissing,    // an object without the member
  FieldNotString,  // the member's value is not a string
};

struct JsonlBadLine {
  std::uint64_t line = 0;  // 1-based, counted from the slice's first line
  JsonlFault fault = JsonlFault::NotJson;
  std::string detail;      // the JSON reader's own words, for NotJson
};

// What a finished (or stopped) slice knows for the first-error rule.
struct JsonlRangeStatus {
  std::uint64_t lines = 0;  // lines consumed, the bad one included
  std::optional<JsonlBadLine> bad;
};

class JsonLinesSlice {
 public:
  // Lines of data[start, end); `start` must be 0 or just after an LF.
  // `data` and `field` are borrowed and must outlive the slice.
  JsonLinesSlice(std::string_view data, std::size_t start, std::size_t end, std::string_view field);
  JsonLinesSlice(std::string_view data, std::string_view field) : JsonLinesSlice(data, 0, data.size(), field) {}
  JsonLinesSlice(JsonLinesSlice&&) noexcept;
  JsonLinesSlice& operator=(JsonLinesSlice&&) noexcept;
  ~JsonLinesSlice();

  // The next document (the member's string value, unescaped), or none at the
  // end of the range or at a bad line (then `status().bad` is set and every
  // later call returns none). The view stays valid until the next call.
  std::optional<std::string_view> next();

  const JsonlRangeStatus& status() const noexcept { return status_; }

  struct Parser;

 private:
  std::string_view data_;
  std::string_view field_;
  std::size_t pos_, end_;
  JsonlRangeStatus status_;
  std::unique_ptr<Parser> parser_;
};

// The error naming the first bad line of a file read as consecutive ranges
// (in file order, each from a line start), or none when no range failed.
// Message: "<path>: line <N>: <reason>", the reason being one of
//   "not valid JSON", "not a JSON object", "no field \"<field>\"",
//   "field \"<field>\" is not a string"
// (the JSON reader's detail, when there is one, is the cause).
std::optional<Error> first_bad_line(std::string_view path, std::string_view field,
                                    std::span<const JsonlRangeStatus> ranges);

// The error for one bad line whose number is already counted from the file's
// first line.
Error bad_line_error(std::string_view path, std::string_view field, const JsonlBadLine& bad);

}  // namespace morvik::input
