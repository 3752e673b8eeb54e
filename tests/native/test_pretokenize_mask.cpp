// The block mask primitives against plain byte loops, for whichever backend
// (SSE2, NEON or scalar) this build uses.
#include <random>

#include "check.h"
#include "pretokenize/fast/mask.h"

using namespace morvik::pretokenize::simd;

template <class P>
static uint64_t by_loop(const uint8_t* p, P pred) {
  uint64_t m = 0;
  for (int i = 0; i < 64; ++i) m |= static_cast<uint64_t>(pred(p[i]) ? 1 : 0) << i;
  return m;
}

TEST(block_masks_equal_byte_loops) {
  std::mt19937_64 rng(3);
  uint8_t buf[64];
  for (int round = 0; round < 2000; ++round) {
    for (auto& b : buf) b = static_cast<uint8_t>(round < 1000 ? rng() : rng() % 0x80);
    if (round % 7 == 0) buf[rng() % 64] = 0x27;
    const Block64 blk(buf);
    CHECK_EQ(blk.high_bits(), by_loop(buf, [](uint8_t b) { return b >= 0x80; }));
    CHECK_EQ(blk.mask([](V x) { return eq(x, splat(0x27)); }), by_loop(buf, [](uint8_t b) { return b == 0x27; }));
    CHECK_EQ(blk.mask([](V x) { return ascii_range(x, '0', '9'); }),
             by_loop(buf, [](uint8_t b) { return b >= '0' && b <= '9'; }));
    CHECK_EQ(blk.mask([](V x) { return ascii_range(x, 0x09, 0x0D); }),
             by_loop(buf, [](uint8_t b) { return b >= 0x09 && b <= 0x0D; }));
    CHECK_EQ(blk.mask([](V x) { return ascii_range(or_(x, splat(0x20)), 'a', 'z'); }),
             by_loop(buf, [](uint8_t b) { return (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z'); }));
    CHECK_EQ(blk.mask([](V x) { return and_(eq(x, x), gt_signed(splat(0), x)); }),
             by_loop(buf, [](uint8_t b) { return b >= 0x80; }));
  }
}

TEST_MAIN()
