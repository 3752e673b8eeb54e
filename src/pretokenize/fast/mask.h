// 16-byte compare primitives that build 64-bit byte masks (bit i = byte i of a
// 64-byte block). SSE2 on x86-64, NEON on aarch64, a portable scalar version
// elsewhere (or when MORVIK_SCALAR_MASKS is defined, which the tests use to
// check that all three agree). Only byte equality and signed greater-than are
// offered: the range tests built from them are exact for ASCII bytes and never
// match a byte of 0x80 or above (those are negative as signed bytes), which is
// what the scanners rely on.
#pragma once

#include <cstdint>

#if defined(__SSE2__) && !defined(MORVIK_SCALAR_MASKS)
#include <emmintrin.h>
#define MORVIK_MASK_SSE2 1
#elif (defined(__ARM_NEON) || defined(__aarch64__)) && !defined(MORVIK_SCALAR_MASKS)
#include <arm_neon.h>
#define MORVIK_MASK_NEON 1
#endif

namespace morvik::pretokenize::simd {

#if defined(MORVIK_MASK_SSE2)

struct V {
  __m128i v;
};
inline V load16(const uint8_t* p) { return {_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))}; }
inline V splat(uint8_t b) { return {_mm_set1_epi8(static_cast<char>(b))}; }
inline V eq(V a, V b) { return {_mm_cmpeq_epi8(a.v, b.v)}; }
inline V gt_signed(V a, V b) { return {_mm_cmpgt_epi8(a.v, b.v)}; }
inline V and_(V a, V b) { return {_mm_and_si128(a.v, b.v)}; }
inline V or_(V a, V b) { return {_mm_or_si128(a.v, b.v)}; }
inline uint64_t mask64(V a, V b, V c, V d) {
  uint64_t m0 = static_cast<uint32_t>(_mm_movemask_epi8(a.v));
  uint64_t m1 = static_cast<uint32_t>(_mm_movemask_epi8(b.v));
  uint64_t m2 = static_cast<uint32_t>(_mm_movemask_epi8(c.v));
  uint64_t m3 = static_cast<uint32_t>(_mm_movemask_epi8(d.v));
  return m0 | (m1 << 16) | (m2 << 32) | (m3 << 48);
}
// The top bit of every byte (non-ASCII bytes), without a compare.
inline uint64_t high_bits64(V a, V b, V c, V d) { return mask64(a, b, c, d); }

#elif defined(MORVIK_MASK_NEON)

struct V {
  uint8x16_t v;
};
inline V load16(const uint8_t* p) { return {vld1q_u8(p)}; }
inline V splat(uint8_t b) { return {vdupq_n_u8(b)}; }
inline V eq(V a, V b) { return {vceqq_u8(a.v, b.v)}; }
inline V gt_signed(V a, V b) { return {vcgtq_s8(vreinterpretq_s8_u8(a.v), vreinterpretq_s8_u8(b.v))}; }
inline V and_(V a, V b) { return {vandq_u8(a.v, b.v)}; }
inline V or_(V a, V b) { return {vorrq_u8(a.v, b.v)}; }
// Lanes are 0x00 or 0xFF: keep one weight bit per lane, then three rounds of
// pairwise adds fold 64 lanes into 64 bits.
inline uint64_t mask64(V a, V b, V c, V d) {
  static const uint8_t weights_bytes[16] = {1, 2, 4, 8, 16, 32, 64, 128, 1, 2, 4, 8, 16, 32, 64, 128};
  const uint8x16_t w = vld1q_u8(weights_bytes);
  uint8x16_t s0 = vpaddq_u8(vandq_u8(a.v, w), vandq_u8(b.v, w));
  uint8x16_t s1 = vpaddq_u8(vandq_u8(c.v, w), vandq_u8(d.v, w));
  s0 = vpaddq_u8(s0, s1);
  s0 = vpaddq_u8(s0, s0);
  return vgetq_lane_u64(vreinterpretq_u64_u8(s0), 0);
}
inline uint64_t high_bits64(V a, V b, V c, V d) {
  auto top = [](V x) { return V{vreinterpretq_u8_s8(vshrq_n_s8(vreinterpretq_s8_u8(x.v), 7))}; };
  return mask64(top(a), top(b), top(c), top(d));
}

#else

struct V {
  uint8_t b[16];
};
inline V load16(const uint8_t* p) {
  V r;
  for (int i = 0; i < 16; ++i) r.b[i] = p[i];
  return r;
}
inline V splat(uint8_t x) {
  V r;
  for (int i = 0; i < 16; ++i) r.b[i] = x;
  return r;
}
inline V eq(V a, V b) {
  V r;
  for (int i = 0; i < 16; ++i) r.b[i] = a.b[i] == b.b[i] ? 0xFF : 0;
  return r;
}
inline V gt_signed(V a, V b) {
  V r;
  for (int i = 0; i < 16; ++i) r.b[i] = static_cast<int8_t>(a.b[i]) > static_cast<int8_t>(b.b[i]) ? 0xFF : 0;
  return r;
}
inline V and_(V a, V b) {
  V r;
  for (int i = 0; i < 16; ++i) r.b[i] = a.b[i] & b.b[i];
  return r;
}
inline V or_(V a, V b) {
  V r;
  for (int i = 0; i < 16; ++i) r.b[i] = a.b[i] | b.b[i];
  return r;
}
inline uint64_t mask64(V a, V b, V c, V d) {
  const V* vs[4] = {&a, &b, &c, &d};
  uint64_t m = 0;
  for (int k = 0; k < 4; ++k)
    for (int i = 0; i < 16; ++i) m |= static_cast<uint64_t>(vs[k]->b[i] >> 7) << (16 * k + i);
  return m;
}
inline uint64_t high_bits64(V a, V b, V c, V d) { return mask64(a, b, c, d); }

#endif

// Bytes lo..hi inclusive, for 0 <= lo <= hi < 0x7F; never true for bytes >= 0x80.
inline V ascii_range(V x, uint8_t lo, uint8_t hi) {
  return and_(gt_signed(x, splat(static_cast<uint8_t>(lo - 1))), gt_signed(splat(static_cast<uint8_t>(hi + 1)), x));
}

// A 64-byte block held as four vectors; `mask` applies a lane-wise predicate
// to each and gathers the results into one 64-bit mask.
struct Block64 {
  V q[4];
  explicit Block64(const uint8_t* p) : q{load16(p), load16(p + 16), load16(p + 32), load16(p + 48)} {}
  template <class F>
  uint64_t mask(F f) const {
    return mask64(f(q[0]), f(q[1]), f(q[2]), f(q[3]));
  }
  uint64_t high_bits() const { return high_bits64(q[0], q[1], q[2], q[3]); }
};

}  // namespace morvik::pretokenize::simd
