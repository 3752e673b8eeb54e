// The GPT-2 (r50k) pretokenizer: on valid UTF-8 it yields exactly the matches
// of
//   '(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+
// (classes from `class_of`; the contraction alternative is case-sensitive).
// It runs the shared block driver with the r50k block masks (a vector path
// for all-ASCII blocks, `extended_masks` otherwise) and the r50k scalar
// matcher. On any other bytes it still tiles the text and reads nothing
// outside it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "pretokenize/block_scan.h"
#include "pretokenize/unicode.h"

namespace morvik::pretokenize {

namespace r50k {

// Block masks of the block at `base` (requires base + 70 <= len).
BlockMasks block_masks(const uint8_t* text, size_t len, size_t base, const uint8_t* table);
// The scalar matcher: end of the pretoken that starts at x (x < len).
size_t match_end(const uint8_t* text, size_t len, size_t x, const uint8_t* table);

struct Rules {
  const uint8_t* table;
  BlockMasks masks(const uint8_t* text, size_t len, size_t base) const { return block_masks(text, len, base, table); }
  size_t match_end(const uint8_t* text, size_t len, size_t x) const { return r50k::match_end(text, len, x, table); }
};

}  // namespace r50k

class FastR50kPretokenizer {
 public:
  // `start` must be a pretoken boundary of `text` (0 for a whole text); the
  // spans from there on are those of a scan from 0.
  explicit FastR50kPretokenizer(std::string_view text, size_t start = 0)
      : state_(r50k::Rules{class_table()}, text, start) {}

  std::optional<PretokenSpan> next() { return state_.next(); }
  bool advance(size_t& begin, size_t& end) { return state_.advance(begin, end); }
  template <class F>
  void for_each(F&& f) {
    state_.for_each(static_cast<F&&>(f));
  }
  size_t position() const { return state_.position(); }

 private:
  BlockScanState<r50k::Rules> state_;
};

}  // namespace morvik::pretokenize
