// Cutting in-memory plain text into documents, and cutting a loaded file into
// ranges at document boundaries so that ranges can be encoded in parallel.
//
// Guarantees:
// - `DocumentIter` yields the non-empty pieces between separator occurrences
//   (found left to right, never overlapping), as slices of the buffer; the
//   separator belongs to no document. Without a separator the range is one
//   document (none if the range is empty).
// - `chunk_ranges` returns consecutive ranges covering the data in order such
//   that reading every range with its reader yields exactly the documents of
//   reading the whole data at once, for any target: no document is split,
//   lost or duplicated. This holds for separators that can overlap
//   themselves ("##", "\n\n") too, where a naive search for the next
//   occurrence could cut in the middle of a separator run.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "input/file_source.h"

namespace morvik::input {

struct ByteRange {
  std::size_t start = 0, end = 0;
  bool operator==(const ByteRange&) const = default;
};

// Finds a fixed byte string; chosen once per separator.
class SeparatorFinder {
 public:
  explicit SeparatorFinder(std::string_view needle) noexcept : needle_(needle) {}
  // First occurrence starting in [from, to - |needle|], or npos. `needle`
  // must be non-empty.
  std::size_t find(std::string_view text, std::size_t from, std::size_t to) const noexcept;
  std::size_t size() const noexcept { return needle_.size(); }
  std::string_view needle() const noexcept { return needle_; }

 private:
  std::string_view needle_;
};

// Position of the first LF in text[from, to), or npos.
std::size_t find_newline(std::string_view text, std::size_t from, std::size_t to) noexcept;

class DocumentIter {
 public:
  // Documents of text[start, end), cut at `separator` (empty: no separator).
  // `text` and `separator` are borrowed and must outlive the iterator and
  // every document it returns.
  DocumentIter(std::string_view text, std::string_view separator, std::size_t start, std::size_t end) noexcept;
  DocumentIter(std::string_view text, std::string_view separator) noexcept
      : DocumentIter(text, separator, 0, text.size()) {}

  std::optional<std::string_view> next() noexcept;

 private:
  std::string_view text_;
  SeparatorFinder sep_;
  std::size_t start_, end_;
  bool finished_ = false;
};

// The separator of a text format as a view (empty when there is none).
std::string_view text_separator(const DocFormat::Text& t) noexcept;

// Consecutive ranges of `data` of at least `target` bytes each (except the
// last), ending at document boundaries:
// - Jsonl: each range but the last ends just after an LF;
// - Text with a non-empty separator: a range ends where a separator
//   occurrence starts and the next begins just after it;
// - Text without (or with an empty) separator: the single range (0, L).
// Empty data gives the single range (0, 0).
std::vector<ByteRange> chunk_ranges(std::string_view data, const DocFormat& format, std::size_t target);

}  // namespace morvik::input
