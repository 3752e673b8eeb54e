#include "pretokenize/fast/deepseek_v3.h"

#include <array>
#include <bit>
#include <cstring>

#include "pretokenize/unicode.h"

namespace morvik::pretokenize {
namespace {

// Class values are those of DsCharClass; kept as bytes so the hot paths
// compare plain integers.
constexpr uint8_t kLetter = static_cast<uint8_t>(DsCharClass::Letter);
constexpr uint8_t kNumber = static_cast<uint8_t>(DsCharClass::Number);
constexpr uint8_t kSpace = static_cast<uint8_t>(DsCharClass::Space);
constexpr uint8_t kMark = static_cast<uint8_t>(DsCharClass::Mark);
constexpr uint8_t kPunct = static_cast<uint8_t>(DsCharClass::PunctSymbol);
constexpr uint8_t kOther = static_cast<uint8_t>(DsCharClass::Other);

// ASCII is classified here, never through the table.
constexpr std::array<uint8_t, 128> make_ascii_classes() {
  std::array<uint8_t, 128> t{};
  for (int b = 0; b < 128; ++b) {
    uint8_t c = kOther;
    if ((b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z')) c = kLetter;
    else if (b >= '0' && b <= '9') c = kNumber;
    else if ((b >= 0x09 && b <= 0x0D) || b == 0x20) c = kSpace;
    else if (b >= 0x21 && b <= 0x7E) c = kPunct;  // the 32 printable non-alphanumerics
    t[b] = c;
  }
  return t;
}
constexpr std::array<uint8_t, 128> kAscii = make_ascii_classes();

inline bool is_ascii_letter(uint8_t b) { return static_cast<uint8_t>((b | 0x20) - 'a') < 26; }
inline bool is_crlf(uint8_t b) { return b == '\r' || b == '\n'; }
inline bool is_letter_or_mark(uint8_t cls) { return cls == kLetter || cls == kMark; }

// U+4E00..U+9FA5 and U+3040..U+30FF: the ideograph and kana ranges of split 2.
inline bool is_cjk(uint32_t cp) { return cp - 0x4E00u <= 0x9FA5u - 0x4E00u || cp - 0x3040u <= 0x30FFu - 0x3040u; }

// Number of leading bytes of w (in memory order) that are ASCII letters.
inline unsigned ascii_letter_prefix(uint64_t w) {
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  // Clearing the high bits first keeps the per-byte additions from carrying.
  uint64_t y = (w & ~kHigh) | 0x2020202020202020ull;
  uint64_t ge_a = y + 0x1F1F1F1F1F1F1F1Full;  // high bit: folded byte >= 'a'
  uint64_t ge_brace = y + 0x0505050505050505ull;  // high bit: folded byte >= '{'
  uint64_t letters = ge_a & ~ge_brace & ~w & kHigh;
  uint64_t others = ~letters & kHigh;
  if (others == 0) return 8;
  if constexpr (std::endian::native == std::endian::little) {
    return static_cast<unsigned>(std::countr_zero(others)) / 8;
  } else {
    return static_cast<unsigned>(std::countl_zero(others)) / 8;
  }
}

struct Char {
  uint8_t cls;
  uint8_t len;
  bool cjk;
};

// Expression 3 runs on a piece: either a CJK run or a plain stretch (no
// Number, no CJK character). `in_piece` is the membership test of the
// current piece; the first character outside it ends every greedy run and
// acts as the end of the text for the look-ahead.
class Scan {
 public:
  Scan(const uint8_t* s, size_t n, const uint8_t* table) : s_(s), n_(n), table_(table) {}

  // Requires i < n. Sizes a character by its lead byte; a character cut by
  // the end of the text is the bytes that remain, classed Other.
  Char at(size_t i) const {
    uint8_t b = s_[i];
    if (b < 0x80) return {kAscii[b], 1, false};
    size_t need = b >= 0xF0 ? 4 : (b >= 0xE0 ? 3 : 2);
    size_t left = n_ - i;
    if (need > left) return {kOther, static_cast<uint8_t>(left), false};
    uint32_t cp;
    if (need == 2) {
      cp = (uint32_t(b & 0x1F) << 6) | (s_[i + 1] & 0x3F);
    } else if (need == 3) {
      cp = (uint32_t(b & 0x0F) << 12) | (uint32_t(s_[i + 1] & 0x3F) << 6) | (s_[i + 2] & 0x3F);
    } else {
      cp = (uint32_t(b & 0x07) << 18) | (uint32_t(s_[i + 1] & 0x3F) << 12) | (uint32_t(s_[i + 2] & 0x3F) << 6) |
           (s_[i + 3] & 0x3F);
    }
    return {lookup(cp), static_cast<uint8_t>(need), is_cjk(cp)};
  }

  // The commonest pieces, a word or a space and a word, both starting in
  // ASCII: end of the piece, or 0 when the start is anything else.
  size_t ascii_word(size_t x) const {
    uint8_t b = s_[x];
    size_t i = x + 1;
    if (b == ' ') {
      if (i >= n_ || !is_ascii_letter(s_[i])) return 0;
      ++i;
    } else if (!is_ascii_letter(b)) {
      return 0;
    }
    i = ascii_letters(i);
    if (i < n_ && s_[i] >= 0x80) i = letter_run<false>(i);
    return i;
  }

  // Up to three Number characters starting with the one at x.
  size_t number_group(size_t x, Char c) const {
    size_t i = x + c.len;
    for (int k = 1; k < 3 && i < n_; ++k) {
      uint8_t b = s_[i];
      if (b < 0x80) {
        if (static_cast<uint8_t>(b - '0') >= 10) break;
        ++i;
        continue;
      }
      Char d = at(i);
      if (d.cls != kNumber) break;
      i += d.len;
    }
    return i;
  }

  // End of the expression-3 match (or unmatched stretch) that starts at x
  // with character c, c being inside a piece of the given kind.
  template <bool Cjk>
  size_t piece(size_t x, Char c) const {
    size_t i = x + c.len;
    switch (c.cls) {
      case kLetter:
      case kMark:
        return letter_run<Cjk>(i);
      case kPunct:
        if (!Cjk && c.len == 1 && i < n_ && is_ascii_letter(s_[i])) return ascii_letters(i + 1);
        return punct_run<Cjk>(i);
      case kSpace: {
        // Only plain pieces hold white space.
        uint8_t b = s_[x];
        if (!is_crlf(b) && i < n_) {
          Char d = at(i);
          if (in_piece<Cjk>(d)) {
            if (is_letter_or_mark(d.cls)) return letter_run<Cjk>(i + d.len);
            if (b == ' ' && d.cls == kPunct) return punct_run<Cjk>(i + d.len);
          }
        }
        return space_run(x);
      }
      default: {  // Other: a prefix if a letter or mark follows, else unmatched
        if (i < n_) {
          Char d = at(i);
          if (in_piece<Cjk>(d) && is_letter_or_mark(d.cls)) return letter_run<Cjk>(i + d.len);
        }
        return unmatched<Cjk>(i);
      }
    }
  }

 private:
  uint8_t lookup(uint32_t cp) const {
    if (cp >= 0x110000) return kOther;
    return (table_[cp >> 1] >> ((cp & 1) * 4)) & 0xF;
  }

  template <bool Cjk>
  static bool in_piece(Char d) {
    if constexpr (Cjk) {
      return d.cjk;
    } else {
      return d.cls != kNumber && !d.cjk;
    }
  }

  // First position at or after i that is not an ASCII letter.
  size_t ascii_letters(size_t i) const {
    while (i + 8 <= n_) {
      uint64_t w;
      std::memcpy(&w, s_ + i, 8);
      unsigned k = ascii_letter_prefix(w);
      i += k;
      if (k < 8) return i;
    }
    while (i < n_ && is_ascii_letter(s_[i])) ++i;
    return i;
  }

  // [\p{L}\p{M}]* inside the piece, from i.
  template <bool Cjk>
  size_t letter_run(size_t i) const {
    while (i < n_) {
      uint8_t b = s_[i];
      if (b < 0x80) {
        if (Cjk || !is_ascii_letter(b)) return i;
        i = ascii_letters(i + 1);
        continue;
      }
      Char d = at(i);
      if (!in_piece<Cjk>(d) || !is_letter_or_mark(d.cls)) return i;
      i += d.len;
    }
    return i;
  }

  // [\p{P}\p{S}]*[\r\n]* inside the piece, from i.
  template <bool Cjk>
  size_t punct_run(size_t i) const {
    while (i < n_) {
      uint8_t b = s_[i];
      if (b < 0x80) {
        if (Cjk || kAscii[b] != kPunct) break;
        ++i;
        continue;
      }
      Char d = at(i);
      if (!in_piece<Cjk>(d) || d.cls != kPunct) break;
      i += d.len;
    }
    if constexpr (!Cjk) {
      while (i < n_ && is_crlf(s_[i])) ++i;
    }
    return i;
  }

  // The white-space alternatives at x: up to the last CR or LF of the run;
  // else the run less its last character when a non-space of the same piece
  // follows and the run has two or more characters; else the whole run.
  size_t space_run(size_t x) const {
    size_t i = x;
    size_t last = x;
    size_t after_crlf = 0;
    size_t count = 0;
    while (i < n_) {
      uint8_t b = s_[i];
      if (b < 0x80) {
        if (kAscii[b] != kSpace) break;
        last = i;
        ++i;
        if (is_crlf(b)) after_crlf = i;
      } else {
        Char d = at(i);
        if (d.cls != kSpace) break;
        last = i;
        i += d.len;
      }
      ++count;
    }
    if (after_crlf != 0) return after_crlf;
    if (count >= 2 && i < n_ && in_piece<false>(at(i))) return last;
    return i;
  }

  // An unmatched stretch ends where a match can start: the first piece
  // character that is not Other, or an Other followed by a letter or mark
  // of the piece; or at the end of the piece.
  template <bool Cjk>
  size_t unmatched(size_t i) const {
    while (i < n_) {
      Char d = at(i);
      if (!in_piece<Cjk>(d) || d.cls != kOther) return i;
      size_t j = i + d.len;
      if (j < n_) {
        Char e = at(j);
        if (in_piece<Cjk>(e) && is_letter_or_mark(e.cls)) return i;
      }
      i = j;
    }
    return i;
  }

  const uint8_t* s_;
  size_t n_;
  const uint8_t* table_;
};

}  // namespace

FastDeepSeekV3Pretokenizer::FastDeepSeekV3Pretokenizer(std::string_view text)
    : text_(reinterpret_cast<const uint8_t*>(text.data())), len_(text.size()), pos_(0), table_(ds_class_table()) {}

std::optional<PretokenSpan> FastDeepSeekV3Pretokenizer::next() {
  if (pos_ >= len_) return std::nullopt;
  Scan scan(text_, len_, table_);
  size_t start = pos_;
  size_t end = scan.ascii_word(start);
  if (end != 0) {
    pos_ = end;
    return PretokenSpan{start, end - start};
  }
  Char c = scan.at(start);
  if (c.cls == kNumber) {
    end = scan.number_group(start, c);
  } else if (c.cjk) {
    end = scan.piece<true>(start, c);
  } else {
    end = scan.piece<false>(start, c);
  }
  pos_ = end;
  return PretokenSpan{start, end - start};
}

}  // namespace morvik::pretokenize
