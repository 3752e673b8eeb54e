// Lead-byte UTF-8 decoding for the scanners. The scanners never validate: a
// character's length comes from its lead byte alone (0xF0 and up: 4, 0xE0 to
// 0xEF: 3, any other byte of 0x80 or above: 2), and decoding never reads past
// the end of the text; a character cut off by the end is the bytes that
// remain. Bytes that cannot start a character (0x80 to 0xC1) and cut-off
// characters decode to INVALID_CP, which every class lookup treats as Other.
#pragma once

#include <cstddef>
#include <cstdint>

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

}  // namespace morvik::pretokenize
