#include "pretokenize/fast/cl100k_family.h"

#include <bit>
#include <cstring>

#include "pretokenize/fast/cl100k.h"
#include "pretokenize/fast/mask.h"
#include "pretokenize/fast/olmo3.h"
#include "pretokenize/fast/qwen2.h"
#include "pretokenize/fast/qwen3_5.h"
#include "pretokenize/fast/utf8.h"

namespace morvik::pretokenize::cl100k_family {

namespace {

// Class numbers as in CharClass; NONE is the carry-in of a text's first block.
constexpr uint8_t L = 0, N = 1, S = 2, O = 3, NONE = 4;
constexpr uint64_t ALL = ~uint64_t{0};

inline bool ascii_letter(uint8_t b) { return static_cast<uint8_t>((b | 0x20) - 'a') < 26; }
inline bool ascii_digit(uint8_t b) { return static_cast<uint8_t>(b - '0') < 10; }
inline bool ascii_ws(uint8_t b) { return b == 0x20 || static_cast<uint8_t>(b - 0x09) < 5; }
inline bool line_break(uint8_t b) { return b == '\n' || b == '\r'; }
inline uint8_t ascii_class(uint8_t b) { return ascii_letter(b) ? L : ascii_digit(b) ? N : ascii_ws(b) ? S : O; }

template <class P>
inline uint8_t class_of_cp(const uint8_t* table, uint32_t cp) {
  if constexpr (P::marks_join) return static_cast<uint8_t>(marks_join_in(table, cp));
  else return static_cast<uint8_t>(class_in(table, cp));
}

// Class and byte length of the character at i (i < len).
template <class P>
inline uint8_t class_at(const uint8_t* t, size_t len, size_t i, const uint8_t* table, uint32_t& n) {
  uint8_t b = t[i];
  if (b < 0x80) {
    n = 1;
    return ascii_class(b);
  }
  DecodedChar d = decode_at(t, len, i);
  n = d.len;
  return class_of_cp<P>(table, d.cp);
}

// ---- scalar matcher -------------------------------------------------------

template <class P>
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
    if (class_of_cp<P>(table, d.cp) != L) return p;
    p += d.len;
  }
}

// The number at x (of byte length n) and, in threes, up to two more.
template <class P>
size_t number_group(const uint8_t* t, size_t len, size_t x, uint32_t n, const uint8_t* table) {
  size_t p = x + n;
  if constexpr (P::digits_by_three) {
    for (int k = 0; k < 2 && p < len; ++k) {
      uint32_t m;
      if (class_at<P>(t, len, p, table, m) != N) break;
      p += m;
    }
  }
  return p;
}

template <class P>
size_t other_run(const uint8_t* t, size_t len, size_t p, const uint8_t* table) {
  while (p < len) {
    uint32_t n;
    if (class_at<P>(t, len, p, table, n) != O) break;
    p += n;
  }
  return p;
}

inline size_t line_break_run(const uint8_t* t, size_t len, size_t p) {
  while (p < len && line_break(t[p])) ++p;
  return p;
}

// The white-space alternatives at x (a white-space character) over the
// maximal run R from x: with `trailing_space_whole` a run ending the text is
// whole (\s++$); else up to its last CR/LF (\s*[\r\n]); else, followed by a
// character and two or more long, all but its last character (\s+(?!\S));
// else all of it (\s+).
template <class P>
size_t white_space_rule(const uint8_t* t, size_t len, size_t x, const uint8_t* table) {
  size_t i = x, last = x, after_break = 0, count = 0;
  while (i < len) {
    uint32_t n;
    if (class_at<P>(t, len, i, table, n) != S) break;
    last = i;
    i += n;
    if (line_break(t[last])) after_break = i;
    ++count;
  }
  if (i <= x) return x + 1;  // not reached for valid input: x holds white space
  if (P::trailing_space_whole && i >= len) return len;
  if (after_break) return after_break;
  if (i < len && count >= 2) return last;
  return i;
}

// ---- block masks ----------------------------------------------------------

struct CharBefore {
  uint8_t cls;
  size_t start, end;  // end may lie past `pos` (a character straddling it)
};

// The character that holds byte pos - 1 (pos > 0), found by stepping back over
// at most three continuation bytes; a byte that no lead byte claims is a
// character of its own, class Other.
template <class P>
CharBefore char_before(const uint8_t* t, size_t len, size_t pos, const uint8_t* table) {
  uint8_t b = t[pos - 1];
  if (b < 0x80) return {ascii_class(b), pos - 1, pos};
  size_t q = pos - 1;
  for (int k = 0; k < 3 && q > 0 && is_continuation(t[q]); ++k) --q;
  if (t[q] < 0xC0) return {O, pos - 1, pos};
  DecodedChar d = decode_at(t, len, q);
  if (q + d.len < pos) return {O, pos - 1, pos};
  return {class_of_cp<P>(table, d.cp), q, q + d.len};
}

struct Carry {
  uint8_t cls = NONE;     // class of the character ending just before the block (or straddling its start)
  bool space = false;     // that character is the byte 0x20
  bool lbreak = false;    // ... is CR or LF
  bool ostart = false;    // ... is Other and begins a pretoken (so it prefixes a following letter)
  uint32_t straddle = 0;  // its bytes at the start of the block
};

template <class P>
Carry carry_in(const uint8_t* t, size_t len, size_t base, const uint8_t* table) {
  Carry c;
  if (base == 0) return c;
  CharBefore c1 = char_before<P>(t, len, base, table);
  c.cls = c1.cls;
  c.space = t[c1.start] == 0x20;
  c.lbreak = line_break(t[c1.start]);
  c.straddle = static_cast<uint32_t>(c1.end - base);
  if (c1.cls == O) {
    // An Other character starts a pretoken unless it continues an Other run or
    // follows the byte 0x20 (which then leads it).
    c.ostart = true;
    if (c1.start > 0) {
      CharBefore c0 = char_before<P>(t, len, c1.start, table);
      c.ostart = c0.cls != O && t[c0.start] != 0x20;
    }
  }
  return c;
}

// Per-byte classes of one block; every byte of a character carries the
// character's class, so "the character before" is the byte before.
struct Classes {
  uint64_t letter, number, ws, lbreak, space20, apos;
  uint64_t cont = 0;       // bytes that are not the first of their character
  uint64_t wide_num = 0;   // bytes of multi-byte numbers
  uint64_t uncertain = 0;  // positions left to the scalar matcher (widened by one each side)
};

inline void assign(Classes& k, uint64_t r, uint8_t cls) {
  k.letter &= ~r;
  k.number &= ~r;
  k.ws &= ~r;
  k.lbreak &= ~r;
  k.space20 &= ~r;
  k.apos &= ~r;
  if (cls == L) k.letter |= r;
  else if (cls == N) k.number |= r;
  else if (cls == S) k.ws |= r;
}

inline uint64_t bit_range(unsigned i, unsigned n) { return i + n >= 64 ? ALL << i : ((uint64_t{1} << n) - 1) << i; }
inline uint64_t bit(bool b) { return b ? 1u : 0u; }

// Starts of pretokens k.number[i] -> runs cut in threes from their first bit:
// offsets 0, 3, 6, ... spread by doubling, each step only across bits that
// are all numbers.
inline uint64_t groups_of_three(uint64_t num, uint64_t run_starts) {
  uint64_t w3 = num & (num << 1) & (num << 2);
  uint64_t w6 = w3 & (w3 << 3);
  uint64_t w12 = w6 & (w6 << 6);
  uint64_t w24 = w12 & (w12 << 12);
  uint64_t w48 = w24 & (w24 << 24);
  uint64_t x = run_starts;
  x |= (x << 3) & w3;
  x |= (x << 6) & w6;
  x |= (x << 12) & w12;
  x |= (x << 24) & w24;
  x |= (x << 48) & w48;
  return x;
}

// The starts of the scalar matcher, from per-byte classes. With W the white
// space other than CR/LF and B the CR/LF bytes:
//  - a letter starts unless it follows a letter, a W, or an Other that itself
//    starts (those prefix it);
//  - an Other starts unless it follows an Other or the byte 0x20 (which leads it);
//  - numbers start alone or in threes from the start of their run;
//  - in a white-space run: its first character, unless it is a CR/LF run
//    right after an Other (the [\r\n]* tail takes that); the first W after
//    such a tail; the first W after the run's last CR/LF; and its last
//    character when that is W (the run is followed by a character);
//  - contractions after an apostrophe that starts.
template <class P>
BlockMasks assemble(Classes k, const Carry& c, bool look_ws, const uint8_t* p) {
  const uint64_t WS = k.ws, B = k.lbreak, W = WS & ~B;
  const uint64_t other = ~(k.letter | k.number | WS);
  const uint64_t prev_l = (k.letter << 1) | bit(c.cls == L);
  const uint64_t prev_n = (k.number << 1) | bit(c.cls == N);
  const uint64_t prev_ws = (WS << 1) | bit(c.cls == S);
  const uint64_t prev_b = (B << 1) | bit(c.lbreak);
  const uint64_t prev_w = prev_ws & ~prev_b;
  const uint64_t prev_o = (other << 1) | bit(c.cls == O);
  const uint64_t prev_sp = (k.space20 << 1) | bit(c.space);
  const uint64_t next_ws = (WS >> 1) | (bit(look_ws) << 63);

  const uint64_t o_start = other & ~prev_o & ~prev_sp & ~k.cont;
  // Carry an Other start over its continuation bytes, so the byte before a
  // letter tells whether the Other before it starts.
  uint64_t o_spread = o_start | (c.ostart ? bit_range(0, c.straddle) : 0);
  o_spread |= (o_spread << 1) & k.cont;
  o_spread |= (o_spread << 1) & k.cont;
  o_spread |= (o_spread << 1) & k.cont;
  const uint64_t prev_os = (o_spread << 1) | bit(c.ostart);
  const uint64_t l_start = k.letter & ~prev_l & ~prev_w & ~prev_os;

  uint64_t unc = k.uncertain;
  uint64_t n_start;
  if constexpr (P::digits_by_three) {
    n_start = groups_of_three(k.number, k.number & ~prev_n);
    // A run continuing from before the block cannot be phased here.
    if (c.cls == N) unc |= k.number & ~(k.number + 1);
    // Groups count characters, not bytes.
    if (k.wide_num) unc |= k.number;
  } else {
    n_start = k.number;
  }

  // CR/LF runs that directly follow an Other belong to its pretoken.
  const uint64_t tail_seed = B & prev_o;
  const uint64_t tail = B & ~(B + tail_seed);
  const uint64_t prev_tail = tail << 1;
  uint64_t ws_start = (WS & ~prev_ws & ~tail) | (W & ~next_ws);
  for (uint64_t cand = W & prev_b; cand; cand &= cand - 1) {
    unsigned i = static_cast<unsigned>(std::countr_zero(cand));
    uint64_t after = ~W & (ALL << i);
    bool valid = ((prev_tail >> i) & 1) || after == 0 || !((B >> std::countr_zero(after)) & 1);
    if (valid) ws_start |= uint64_t{1} << i;
  }
  // A run that began before the block is decided here too, except after a
  // CR/LF: whether that CR/LF run was the tail of an Other (which changes
  // where the run's first piece starts) lies behind the block.
  if (c.cls == S && c.lbreak) unc |= WS & ~(WS + 1);
  // The trailing run when it goes on past the block is left to the scalar matcher.
  if (look_ws) {
    // The trailing white-space run goes on past the block (a wholly white block is all of it).
    const uint64_t non_ws = ~WS;
    const unsigned top = non_ws ? 63u - static_cast<unsigned>(std::countl_zero(non_ws)) : 0u;
    unc |= non_ws == 0 ? ALL : top == 63 ? 0 : ALL << (top + 1);
  }

  uint64_t starts = (l_start | n_start | ws_start | o_start) & ~k.cont;

  // Contractions, at apostrophes that start. One at bits 61 to 63 needs bytes
  // past the block: it and everything after it go to the scalar matcher.
  for (uint64_t a = k.apos & o_start; a; a &= a - 1) {
    unsigned i = static_cast<unsigned>(std::countr_zero(a));
    if (i >= 61) {
      unc |= ALL << i;
      break;
    }
    uint8_t b1 = p[i + 1], b2 = p[i + 2];
    uint8_t l1 = b1 | 0x20, l2 = b2 | 0x20;
    if (l1 == 's' || l1 == 'd' || l1 == 'm' || l1 == 't') {
      starts = (starts & ~(uint64_t{1} << (i + 1))) | (uint64_t{1} << (i + 2));
    } else if ((b1 == 0xC5 && b2 == 0xBF) || (l1 == 'l' && l2 == 'l') || (l1 == 'v' && l2 == 'e') ||
               (l1 == 'r' && l2 == 'e')) {
      // U+017F (long s) folds to "s": a three-byte contraction like "'ll".
      starts = (starts & ~(uint64_t{3} << (i + 1))) | (uint64_t{1} << (i + 3));
    }
  }
  return {starts & ~unc, unc};
}

}  // namespace

template <class P>
BlockMasks block_masks(const uint8_t* t, size_t len, size_t base, const uint8_t* table) {
  using namespace simd;
  const Block64 blk(t + base);
  const uint64_t non_ascii = blk.high_bits();
  Classes k;
  k.letter = blk.mask([](V x) { return ascii_range(or_(x, splat(0x20)), 'a', 'z'); });
  k.number = blk.mask([](V x) { return ascii_range(x, '0', '9'); });
  k.space20 = blk.mask([](V x) { return eq(x, splat(0x20)); });
  k.ws = k.space20 | blk.mask([](V x) { return ascii_range(x, 0x09, 0x0D); });
  k.lbreak = blk.mask([](V x) { return or_(eq(x, splat('\n')), eq(x, splat('\r'))); });
  k.apos = blk.mask([](V x) { return eq(x, splat(0x27)); });
  const Carry c = carry_in<P>(t, len, base, table);
  // The class of the character holding the byte after the block (which may
  // have begun inside it): what "the byte after bit 63" is, byte-wise.
  const bool look_ws = char_before<P>(t, len, base + BLOCK + 1, table).cls == S;
  if ((non_ascii | c.straddle) == 0) return assemble<P>(k, c, look_ws, t + base);

  // Characters instead of bytes: each lead byte is decoded (base + 70 <= len,
  // so a character begun in the block is whole) and all its bytes get its
  // class; continuation bytes never start a pretoken.
  const uint8_t* p = t + base;
  uint64_t todo = non_ascii;
  uint64_t widen = 0;
  if (c.straddle) {
    uint64_t r = bit_range(0, c.straddle);
    assign(k, r, c.cls);
    k.cont |= r;
    if (c.cls == N) k.wide_num |= r;
    if (c.cls == S) widen |= r;
    todo &= ~r;
  }
  while (todo) {
    unsigned i = static_cast<unsigned>(std::countr_zero(todo));
    if (p[i] < 0xC2) {
      // Cannot start a character: left to the scalar matcher.
      uint64_t b = uint64_t{1} << i;
      assign(k, b, O);
      widen |= b;
      todo &= ~b;
      continue;
    }
    DecodedChar d = decode_at(t, len, base + i);
    uint64_t r = bit_range(i, d.len);
    uint8_t cls = class_of_cp<P>(table, d.cp);
    assign(k, r, cls);
    k.cont |= r & ~(uint64_t{1} << i);
    if (cls == N) k.wide_num |= r;
    // Multi-byte white space: "its last character" and "followed by" are
    // byte-wise wrong for it, so the scalar matcher decides around it.
    if (cls == S) widen |= r;
    todo &= ~r;
  }
  k.uncertain = widen | (widen << 1) | (widen >> 1);
  return assemble<P>(k, c, look_ws, p);
}

template <class P>
size_t match_end(const uint8_t* t, size_t len, size_t x, const uint8_t* table) {
  const uint8_t c = t[x];
  if (ascii_letter(c)) return letter_run<P>(t, len, x + 1, table);
  if (c == 0x27 && x + 1 < len) {
    uint8_t l1 = t[x + 1] | 0x20;
    if (l1 == 's' || l1 == 'd' || l1 == 'm' || l1 == 't') return x + 2;
    if (x + 2 < len) {
      uint8_t b1 = t[x + 1], b2 = t[x + 2], l2 = b2 | 0x20;
      if ((b1 == 0xC5 && b2 == 0xBF) || (l1 == 'l' && l2 == 'l') || (l1 == 'v' && l2 == 'e') ||
          (l1 == 'r' && l2 == 'e'))
        return x + 3;
    }
  }
  if (line_break(c)) return white_space_rule<P>(t, len, x, table);
  uint32_t n;
  const uint8_t cls = class_at<P>(t, len, x, table, n);
  if (cls == L) return letter_run<P>(t, len, x + n, table);
  if (cls == N) return number_group<P>(t, len, x, n, table);
  // White space (not CR/LF) or Other: an optional one-character prefix of a
  // letter run, then " ?Other+[\r\n]*", then the white-space alternatives.
  const size_t y = x + n;
  if (y < len) {
    uint32_t m;
    const uint8_t next = class_at<P>(t, len, y, table, m);
    if (next == L) return letter_run<P>(t, len, y + m, table);
    if (c == 0x20 && next == O) return line_break_run(t, len, other_run<P>(t, len, y + m, table));
  }
  if (cls == O) return line_break_run(t, len, other_run<P>(t, len, y, table));
  return white_space_rule<P>(t, len, x, table);
}

#define MORVIK_CL100K_FAMILY_KIND(P)                                                        \
  template BlockMasks block_masks<P>(const uint8_t*, size_t, size_t, const uint8_t*); \
  template size_t match_end<P>(const uint8_t*, size_t, size_t, const uint8_t*);
MORVIK_CL100K_FAMILY_KIND(Cl100kParams)
MORVIK_CL100K_FAMILY_KIND(Qwen2Params)
MORVIK_CL100K_FAMILY_KIND(Qwen3_5Params)
MORVIK_CL100K_FAMILY_KIND(Olmo3Params)
#undef MORVIK_CL100K_FAMILY_KIND

}  // namespace morvik::pretokenize::cl100k_family
