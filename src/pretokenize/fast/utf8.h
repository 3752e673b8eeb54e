// Lead-byte UTF-8 decoding for the scanners. The scanners never validate: a
// character's length comes from its lead byte alone (0xF0 and up: 4, 0xE0 to
// 0xEF: 3, any other byte of 0x80 or above: 2), and decoding never reads past
// the end of the text; a character cut off by the end is the bytes that
// remain. Bytes that cannot start a character (0x80 to 0xC1) and cut-off
// characters decode to INVALID_CP, which every class lookup treats as Other.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace morvik::pretokenize {

inline constexpr uint32_t INVALID_CP = 0x110000;

struct DecodedChar {
  uint32_t cp;
  uint32_t len;  // 1 to 4, never beyond the text
};

inline uint32_t utf8_len_from_lead(uint8_t b) { return b >= 0xF0 ? 4u : b >= 0xE0 ? 3u : b >= 0x80 ? 2u : 1u; }
inline bool is_continuation(uint8_t b) { return (b & 0xC0) == 0x80; }

// Precondition: i < len.
inline DecodedChar decode_at(const uint8_t* t, size_t len, size_t i) {
  uint8_t b0 = t[i];
  if (b0 < 0x80) return {b0, 1};
  uint32_t n = utf8_len_from_lead(b0);
  size_t avail = len - i;
  if (n > avail) return {INVALID_CP, static_cast<uint32_t>(avail)};
  if (b0 < 0xC2) return {INVALID_CP, n};
  if (n == 2) return {(uint32_t(b0 & 0x1F) << 6) | (t[i + 1] & 0x3Fu), 2};
  if (n == 3) return {(uint32_t(b0 & 0x0F) << 12) | (uint32_t(t[i + 1] & 0x3F) << 6) | (t[i + 2] & 0x3Fu), 3};
  return {(uint32_t(b0 & 0x07) << 18) | (uint32_t(t[i + 1] & 0x3F) << 12) | (uint32_t(t[i + 2] & 0x3F) << 6) |
              (t[i + 3] & 0x3Fu),
          4};
}

// Advances p over ASCII letters eight bytes at a time and returns the first
// position of the last, incomplete word or of the first byte that is not an
// ASCII letter; the caller looks at that byte on its own.
inline size_t skip_ascii_letters8(const uint8_t* t, size_t len, size_t p) {
  constexpr uint64_t kHigh = 0x8080808080808080ull;
  while (len - p >= 8) {
    uint64_t v;
    std::memcpy(&v, t + p, 8);
    uint64_t y = (v & ~kHigh) | 0x2020202020202020ull;  // folded to lower case, no carries below
    uint64_t ge_a = y + 0x1F1F1F1F1F1F1F1Full;        // top bit: byte >= 'a'
    uint64_t gt_z = y + 0x0505050505050505ull;        // top bit: byte > 'z'
    uint64_t not_letter = ~(ge_a & ~gt_z & ~v) & kHigh;
    if (not_letter) return p + (static_cast<size_t>(std::countr_zero(not_letter)) >> 3);
    p += 8;
  }
  return p;
}

}  // namespace morvik::pretokenize
