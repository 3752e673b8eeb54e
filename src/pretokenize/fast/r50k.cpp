#include "pretokenize/fast/r50k.h"

#include <bit>
#include <cstring>

#include "pretokenize/fast/mask.h"
#include "pretokenize/fast/utf8.h"

namespace morvik::pretokenize::r50k {

namespace {

// Class numbers as in CharClass; NONE is the carry-in of a text's first block.
constexpr uint8_t L = 0, N = 1, S = 2, O = 3, NONE = 4;

inline bool ascii_letter(uint8_t b) { return static_cast<uint8_t>((b | 0x20) - 'a') < 26; }
inline bool ascii_digit(uint8_t b) { return static_cast<uint8_t>(b - '0') < 10; }
inline bool ascii_ws(uint8_t b) { return b == 0x20 || static_cast<uint8_t>(b - 0x09) < 5; }
inline uint8_t ascii_class(uint8_t b) { return ascii_letter(b) ? L : ascii_digit(b) ? N : ascii_ws(b) ? S : O; }

// Class and byte length of the character at i (i < len).
inline uint8_t class_at(const uint8_t* t, size_t len, size_t i, const uint8_t* table, uint32_t& n) {
  uint8_t b = t[i];
  if (b < 0x80) {
    n = 1;
    return ascii_class(b);
  }
  DecodedChar d = decode_at(t, len, i);
  n = d.len;
  return static_cast<uint8_t>(class_in(table, d.cp));
}

// ---- scalar matcher -------------------------------------------------------

size_t letter_run(const uint8_t* t, size_t len, size_t p, const uint8_t* table) {
  for (;;) {
    p = skip_ascii_letters8(t, len, p);
    if (p >= len) return len;
    uint8_t b = t[p];
    if (b < 0x80) {
      if (!ascii_letter(b)) return p;
      ++p;
      continue;
    }
    DecodedChar d = decode_at(t, len, p);
    if (class_in(table, d.cp) != CharClass::Letter) return p;
    p += d.len;
  }
}

size_t number_run(const uint8_t* t, size_t len, size_t p, const uint8_t* table) {
  while (p < len) {
    uint8_t b = t[p];
    if (b < 0x80) {
      if (!ascii_digit(b)) break;
      ++p;
      continue;
    }
    DecodedChar d = decode_at(t, len, p);
    if (class_in(table, d.cp) != CharClass::Number) break;
    p += d.len;
  }
  return p;
}

size_t other_run(const uint8_t* t, size_t len, size_t p, const uint8_t* table) {
  while (p < len) {
    uint32_t n;
    if (class_at(t, len, p, table, n) != O) break;
    p += n;
  }
  return p;
}

// `\s+(?!\S)|\s+` at x (a white-space character): the whole run when it ends
// the text or has one character, else the run without its last character.
size_t white_space_rule(const uint8_t* t, size_t len, size_t x, const uint8_t* table) {
  size_t i = x, last = x, count = 0;
  while (i < len) {
    uint32_t n;
    if (class_at(t, len, i, table, n) != S) break;
    last = i;
    i += n;
    ++count;
  }
  if (i >= len) return len;
  if (count >= 2) return last;
  return i > x ? i : x + 1;
}

// ---- block masks ----------------------------------------------------------

struct Carry {
  uint8_t cls;        // class of the character ending just before the block
  bool space;         // that character is the byte 0x20
  uint32_t straddle;  // bytes at the block start that still belong to it (its lead byte lies
                      // in the previous block)
};

Carry carry_in(const uint8_t* t, size_t len, size_t base, const uint8_t* table) {
  if (base == 0) return {NONE, false, 0};
  uint8_t b = t[base - 1];
  if (b < 0x80) return {ascii_class(b), b == 0x20, 0};
  // Step back over at most three continuation bytes to the lead byte.
  size_t q = base - 1;
  for (int k = 0; k < 3 && q > 0 && is_continuation(t[q]); ++k) --q;
  if (t[q] < 0xC0) return {O, false, 0};
  DecodedChar d = decode_at(t, len, q);
  size_t end = q + d.len;
  if (end < base) return {O, false, 0};
  return {static_cast<uint8_t>(class_in(table, d.cp)), false, static_cast<uint32_t>(end - base)};
}

inline bool space_at(const uint8_t* t, size_t len, size_t i, const uint8_t* table) {
  uint32_t n;
  return class_at(t, len, i, table, n) == S;
}

// Per-byte classes of one block; every byte of a character carries the
// character's class, so "the character before" is simply the byte before.
struct Classes {
  uint64_t letter, number, space_class, space20, apos;
  uint64_t cont = 0;       // bytes that are not the first of their character
  uint64_t wide = 0;       // bytes of characters longer than one byte
  uint64_t wide_ws = 0;    // first bytes of multi-byte white-space characters
  uint64_t uncertain = 0;  // positions left to the scalar matcher (before widening)
};

inline uint64_t bit_range(unsigned i, unsigned n) {
  return i + n >= 64 ? ~uint64_t{0} << i : ((uint64_t{1} << n) - 1) << i;
}

inline uint64_t carry_bit(bool b) { return b ? 1u : 0u; }

// Pretoken starts from the per-byte classes: a white-space run begins; the
// last character of a run of two or more that is followed by a non-space;
// a change of class not preceded by the byte 0x20; then contractions.
BlockMasks assemble(Classes k, Carry c, bool look_space, const uint8_t* p) {
  const uint64_t S_ = k.space_class;
  const uint64_t other = ~(k.letter | k.number | S_);
  const uint64_t prev_l = (k.letter << 1) | carry_bit(c.cls == L);
  const uint64_t prev_n = (k.number << 1) | carry_bit(c.cls == N);
  const uint64_t prev_s = (S_ << 1) | carry_bit(c.cls == S);
  const uint64_t prev_o = (other << 1) | carry_bit(c.cls == O);
  const uint64_t prev_sp = (k.space20 << 1) | carry_bit(c.space);
  const uint64_t next_s = (S_ >> 1) | (carry_bit(look_space) << 63);

  uint64_t starts = (S_ & ~prev_s) | (S_ & prev_s & ~next_s & ~k.wide) |
                    (~S_ & ~prev_sp & ((k.letter & ~prev_l) | (k.number & ~prev_n) | (other & ~prev_o)));
  starts &= ~k.cont;

  uint64_t unc = k.uncertain;
  // Multi-byte white space: "followed by a non-space" looks past the whole character.
  for (uint64_t w = k.wide_ws; w; w &= w - 1) {
    unsigned i = static_cast<unsigned>(std::countr_zero(w));
    unsigned n = utf8_len_from_lead(p[i]);
    if (n == 4 || i + n > 64) {
      unc |= bit_range(i, n);
      continue;
    }
    bool next = i + n < 64 ? (S_ >> (i + n)) & 1 : look_space;
    if (((prev_s >> i) & 1) && !next) starts |= uint64_t{1} << i;
  }
  unc |= (unc << 1) | (unc >> 1);

  // Contractions, at apostrophes that start a pretoken (so the character
  // before is neither Other nor the byte 0x20). One at bits 61 to 63 needs
  // bytes past the block: it and everything after it go to the scalar matcher.
  for (uint64_t a = k.apos & starts; a; a &= a - 1) {
    unsigned i = static_cast<unsigned>(std::countr_zero(a));
    if (i >= 61) {
      unc |= ~uint64_t{0} << i;
      break;
    }
    uint8_t b1 = p[i + 1], b2 = p[i + 2];
    if (b1 == 's' || b1 == 'd' || b1 == 'm' || b1 == 't') {
      starts = (starts & ~(uint64_t{1} << (i + 1))) | (uint64_t{1} << (i + 2));
    } else if ((b1 == 'l' && b2 == 'l') || (b1 == 'v' && b2 == 'e') || (b1 == 'r' && b2 == 'e')) {
      starts = (starts & ~(uint64_t{3} << (i + 1))) | (uint64_t{1} << (i + 3));
    }
  }
  return {starts & ~unc, unc};
}

// Blocks holding a non-ASCII byte (or starting inside a character): classes
// per character, decoding each lead byte; continuation bytes are never starts.
BlockMasks extended_masks(const uint8_t* t, size_t len, size_t base, const uint8_t* table, Classes k, uint64_t non_ascii,
                          Carry c, bool look_space) {
  const uint8_t* p = t + base;
  // Class bits of the multi-byte characters, gathered first and merged into
  // the ASCII masks once at the end.
  uint64_t by_class[4] = {0, 0, 0, 0};
  uint64_t covered = 0, cont = 0, uncertain = 0;
  if (c.straddle) {
    uint64_t r = bit_range(0, c.straddle);
    by_class[c.cls & 3] |= r;
    covered = cont = r;
    if (c.cls == S) uncertain |= r;
  }
  for (uint64_t todo = non_ascii & ~covered; todo;) {
    unsigned i = static_cast<unsigned>(std::countr_zero(todo));
    uint8_t b = p[i];
    if (b < 0xC2) {
      // Cannot start a character: leave it (and its neighbours) to the scalar matcher.
      uint64_t bit = uint64_t{1} << i;
      by_class[O] |= bit;
      covered |= bit;
      uncertain |= bit;
      todo &= ~bit;
      continue;
    }
    // base + 70 <= len: the whole character (at most 4 bytes from bit 63) is in the text.
    uint32_t cp, n;
    if (b < 0xE0) {
      cp = (uint32_t(b & 0x1F) << 6) | (p[i + 1] & 0x3Fu);
      n = 2;
    } else if (b < 0xF0) {
      cp = (uint32_t(b & 0x0F) << 12) | (uint32_t(p[i + 1] & 0x3F) << 6) | (p[i + 2] & 0x3Fu);
      n = 3;
    } else {
      cp = (uint32_t(b & 0x07) << 18) | (uint32_t(p[i + 1] & 0x3F) << 12) | (uint32_t(p[i + 2] & 0x3F) << 6) |
           (p[i + 3] & 0x3Fu);
      n = 4;
    }
    uint64_t r = bit_range(i, n);
    by_class[static_cast<uint8_t>(class_in(table, cp))] |= r;
    covered |= r;
    cont |= r & ~(uint64_t{1} << i);
    todo &= ~r;
  }
  k.letter = (k.letter & ~covered) | by_class[L];
  k.number = (k.number & ~covered) | by_class[N];
  k.space_class = (k.space_class & ~covered) | by_class[S];
  k.space20 &= ~covered;
  k.apos &= ~covered;
  k.cont = cont;
  k.wide = covered;
  k.wide_ws = by_class[S] & ~cont;
  k.uncertain = uncertain;
  return assemble(k, c, look_space, p);
}

}  // namespace

BlockMasks block_masks(const uint8_t* t, size_t len, size_t base, const uint8_t* table) {
  using namespace simd;
  const Block64 blk(t + base);
  const uint64_t non_ascii = blk.high_bits();
  Classes k;
  k.letter = blk.mask([](V x) { return ascii_range(or_(x, splat(0x20)), 'a', 'z'); });
  k.number = blk.mask([](V x) { return ascii_range(x, '0', '9'); });
  k.space20 = blk.mask([](V x) { return eq(x, splat(0x20)); });
  k.space_class = k.space20 | blk.mask([](V x) { return ascii_range(x, 0x09, 0x0D); });
  k.apos = blk.mask([](V x) { return eq(x, splat(0x27)); });
  const Carry c = carry_in(t, len, base, table);
  const bool look_space = space_at(t, len, base + BLOCK, table);
  if ((non_ascii | c.straddle) == 0) return assemble(k, c, look_space, t + base);
  return extended_masks(t, len, base, table, k, non_ascii, c, look_space);
}

size_t match_end(const uint8_t* t, size_t len, size_t x, const uint8_t* table) {
  const uint8_t c = t[x];
  if (ascii_letter(c)) return letter_run(t, len, x + 1, table);
  if (c == 0x20) {
    if (x + 1 >= len) return x + 1;
    uint32_t n;
    switch (class_at(t, len, x + 1, table, n)) {
      case L: return letter_run(t, len, x + 1, table);
      case N: return number_run(t, len, x + 1, table);
      case S: return white_space_rule(t, len, x, table);
      default: return other_run(t, len, x + 1, table);
    }
  }
  if (c == 0x27) {
    if (x + 1 < len) {
      uint8_t b1 = t[x + 1];
      if (b1 == 's' || b1 == 'd' || b1 == 'm' || b1 == 't') return x + 2;
      if (x + 2 < len) {
        uint8_t b2 = t[x + 2];
        if ((b1 == 'l' && b2 == 'l') || (b1 == 'v' && b2 == 'e') || (b1 == 'r' && b2 == 'e')) return x + 3;
      }
    }
    return other_run(t, len, x + 1, table);
  }
  if (ascii_digit(c)) return number_run(t, len, x + 1, table);
  if (c < 0x80) {
    if (ascii_ws(c)) return white_space_rule(t, len, x, table);
    return other_run(t, len, x + 1, table);
  }
  DecodedChar d = decode_at(t, len, x);
  switch (static_cast<uint8_t>(class_in(table, d.cp))) {
    case L: return letter_run(t, len, x + d.len, table);
    case N: return number_run(t, len, x + d.len, table);
    case S: return white_space_rule(t, len, x, table);
    default: return other_run(t, len, x + d.len, table);
  }
}

}  // namespace morvik::pretokenize::r50k
