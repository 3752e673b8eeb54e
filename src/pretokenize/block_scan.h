// The 64-byte block driver shared by the mask-based scanners. A family plugs
// in through a `Rules` value with two members:
//
//   BlockMasks masks(const uint8_t* text, size_t len, size_t base) const;
//     called only when base + BLOCK_WITH_LOOKAHEAD <= len; `boundary` holds
//     exact pretoken starts at base + i, `uncertain` the positions the masks
//     leave undecided (never also set in `boundary`). Marking more positions
//     uncertain never changes the result, only the speed.
//   size_t match_end(const uint8_t* text, size_t len, size_t x) const;
//     the family's scalar matcher: the end of the pretoken starting at x < len,
//     in (x, len].
//
// Guarantees: spans come out in order, are non-empty, contiguous, and tile
// the text from the scan's first offset to its end, whatever the bytes are;
// on valid UTF-8 they are the family's pretokens. No allocation; the state is
// a fixed-size value that borrows the text.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string_view>

namespace morvik::pretokenize {

struct PretokenSpan {
  size_t offset;
  size_t length;
  bool operator==(const PretokenSpan&) const = default;
};

struct BlockMasks {
  uint64_t boundary;
  uint64_t uncertain;
};

inline constexpr size_t BLOCK = 64;
// Masks read up to 6 bytes past a block (a character begun in its last byte
// and the character just after it), so they are computed only this far from
// the end of the text.
inline constexpr size_t BLOCK_WITH_LOOKAHEAD = 70;
inline constexpr size_t SCAN_TO_END = ~size_t{0};

[[noreturn]] inline void pretokenize_bounds_failure(size_t start, size_t end, size_t len) {
  std::fprintf(stderr, "internal error: pretoken end %zu outside (%zu, %zu]\n", end, start, len);
  std::abort();
}

template <class Rules>
class BlockScanState {
 public:
  BlockScanState(Rules rules, std::string_view text, size_t start = 0)
      : rules_(rules),
        text_(reinterpret_cast<const uint8_t*>(text.data())),
        len_(text.size()),
        start_(start < text.size() ? start : text.size()),
        next_block_(start_),
        block_base_(start_),
        scalar_end_(start_) {}

  // The next span as [begin, end); false once the text is exhausted (and on
  // every later call).
  inline bool advance(size_t& begin, size_t& end) {
    for (;;) {
      if (pending_) {
        begin = start_;
        end = block_base_ + static_cast<size_t>(std::countr_zero(pending_));
        pending_ &= pending_ - 1;
        start_ = end;
        return true;
      }
      if (start_ < scalar_end_) break;
      if (uncertain_ && start_ >= block_base_ && start_ - block_base_ < BLOCK) {
        select_from(static_cast<unsigned>(start_ - block_base_));
        continue;
      }
      load_block();
    }
    if (start_ >= len_) return false;
    size_t e = rules_.match_end(text_, len_, start_);
    if (e <= start_ || e > len_) pretokenize_bounds_failure(start_, e, len_);
    begin = start_;
    end = e;
    start_ = e;
    return true;
  }

  std::optional<PretokenSpan> next() {
    size_t b, e;
    if (!advance(b, e)) return std::nullopt;
    return PretokenSpan{b, e - b};
  }

  // f(offset, length) for every remaining span.
  template <class F>
  inline void for_each(F&& f) {
    size_t b, e;
    while (advance(b, e)) f(b, e - b);
  }

  size_t position() const { return start_; }

 private:
  // Emit from the loaded block starting at bit `rel` (the current start): the
  // boundaries up to the first uncertain bit, then let the scalar matcher run
  // to the first boundary after it.
  inline void select_from(unsigned rel) {
    uint64_t m = ~uint64_t{0} << rel;
    uint64_t u = uncertain_ & m;
    if (u) {
      unsigned ub = static_cast<unsigned>(std::countr_zero(u));
      uint64_t above = boundary_ & (~uint64_t{0} << ub);
      scalar_end_ = block_base_ + (above ? static_cast<size_t>(std::countr_zero(above)) : BLOCK);
      pending_ = boundary_ & m & ((uint64_t{1} << ub) - 1);
    } else {
      uncertain_ = 0;
      pending_ = boundary_ & m;
    }
    pending_ &= ~(uint64_t{1} << rel);
  }

  inline void load_block() {
    size_t p = next_block_;
    // Blocks wholly behind the start (covered by a long pretoken) are skipped unseen.
    if (start_ >= p + BLOCK) p += (start_ - p) / BLOCK * BLOCK;
    next_block_ = p;
    if (len_ < p + BLOCK) {
      scalar_end_ = SCAN_TO_END;
      return;
    }
    BlockMasks m = len_ >= p + BLOCK_WITH_LOOKAHEAD ? rules_.masks(text_, len_, p) : BlockMasks{0, ~uint64_t{0}};
    boundary_ = m.boundary & ~m.uncertain;
    uncertain_ = m.uncertain;
    block_base_ = p;
    next_block_ = p + BLOCK;
    if (start_ >= p) {
      select_from(static_cast<unsigned>(start_ - p));
    } else if (uncertain_) {
      uint64_t u = uncertain_;
      unsigned ub = static_cast<unsigned>(std::countr_zero(u));
      uint64_t above = boundary_ & (~uint64_t{0} << ub);
      scalar_end_ = p + (above ? static_cast<size_t>(std::countr_zero(above)) : BLOCK);
      pending_ = boundary_ & ((uint64_t{1} << ub) - 1);
    } else {
      pending_ = boundary_;
    }
  }

  Rules rules_;
  const uint8_t* text_;
  size_t len_;
  size_t start_;        // where the next pretoken begins
  size_t next_block_;   // next block to load: scan start plus a multiple of 64
  size_t block_base_;   // offset of the loaded block
  uint64_t pending_ = 0;
  uint64_t boundary_ = 0;
  uint64_t uncertain_ = 0;
  size_t scalar_end_;   // the scalar matcher runs while start_ is below this
};

}  // namespace morvik::pretokenize
