// The cl100k-family pretokenizer: one scanner for the four expressions of the
// cl100k shape (tiktoken cl100k, Qwen2, Qwen3.5, OLMo 3). A kind is a
// parameter type `P` with three constants:
//   digits_by_three       \p{N}{1,3} (runs cut in threes from their start)
//                         rather than \p{N} (every number alone);
//   trailing_space_whole  \s++$: a white-space run that ends the text is one
//                         piece instead of being cut at its last CR/LF;
//   marks_join            combining marks count as letters ([\p{L}\p{M}]),
//                         classes from `class_of_marks_join` instead of
//                         `class_of`.
// The per-kind headers (cl100k.h, qwen2.h, qwen3_5.h, olmo3.h) define them.
//
// Guarantees: on valid UTF-8 the spans are exactly the matches of the kind's
// expression; on any bytes they are non-empty, in order and tile the text,
// and nothing outside the text or the class tables is read. It runs the
// shared 64-byte block driver: exact boundary masks per block (vector
// compares, then bit arithmetic) and the scalar matcher where the masks leave
// positions undecided and for the last bytes of the text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "pretokenize/block_scan.h"
#include "pretokenize/unicode.h"

namespace morvik::pretokenize {

namespace cl100k_family {

// The class table a kind reads (`ds_class_table` when marks join letters).
template <class P>
const uint8_t* table_for() {
  return P::marks_join ? ds_class_table() : class_table();
}

// Block masks of the block at `base` (requires base + 70 <= len).
template <class P>
BlockMasks block_masks(const uint8_t* text, size_t len, size_t base, const uint8_t* table);
// The scalar matcher: end of the pretoken that starts at x (x < len), in (x, len].
template <class P>
size_t match_end(const uint8_t* text, size_t len, size_t x, const uint8_t* table);

template <class P>
struct Rules {
  const uint8_t* table;
  BlockMasks masks(const uint8_t* text, size_t len, size_t base) const { return block_masks<P>(text, len, base, table); }
  size_t match_end(const uint8_t* text, size_t len, size_t x) const {
    return cl100k_family::match_end<P>(text, len, x, table);
  }
};

}  // namespace cl100k_family

template <class P>
class FastCl100kFamilyPretokenizer {
 public:
  // `start` must be a pretoken boundary of `text` (0 for a whole text); the
  // spans from there on are those of a scan from 0.
  explicit FastCl100kFamilyPretokenizer(std::string_view text, size_t start = 0)
      : state_(cl100k_family::Rules<P>{cl100k_family::table_for<P>()}, text, start) {}

  std::optional<PretokenSpan> next() { return state_.next(); }
  bool advance(size_t& begin, size_t& end) { return state_.advance(begin, end); }
  template <class F>
  void for_each(F&& f) {
    state_.for_each(static_cast<F&&>(f));
  }
  size_t position() const { return state_.position(); }

 private:
  BlockScanState<cl100k_family::Rules<P>> state_;
};

}  // namespace morvik::pretokenize
