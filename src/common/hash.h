// Fast non-cryptographic hashing shared by the hash maps of the core.
#pragma once

#include <cstdint>
#include <cstring>
#include <string_view>

namespace morvik {

// 64x64 -> 128 multiply folded to 64 bits (the wyhash/rapidhash mixer).
inline uint64_t mix64(uint64_t a, uint64_t b) {
  __uint128_t r = static_cast<__uint128_t>(a) * b;
  return static_cast<uint64_t>(r) ^ static_cast<uint64_t>(r >> 64);
}

inline uint64_t hash_u64(uint64_t x) { return mix64(x ^ 0x9E3779B97F4A7C15ull, 0xBF58476D1CE4E5B9ull); }

inline uint64_t load_u64(const char* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

// Hash of a byte string; length is mixed in, so prefixes do not collide trivially.
inline uint64_t hash_bytes(std::string_view s) {
  const char* p = s.data();
  size_t n = s.size();
  uint64_t h = 0x243F6A8885A308D3ull ^ (n * 0x9E3779B97F4A7C15ull);
  while (n >= 16) {
    h = mix64(load_u64(p) ^ 0xA0761D6478BD642Full, load_u64(p + 8) ^ h);
    p += 16;
    n -= 16;
  }
  uint64_t a = 0, b = 0;
  if (n >= 8) {
    a = load_u64(p);
    b = load_u64(p + n - 8);
  } else if (n >= 4) {
    uint32_t x, y;
    std::memcpy(&x, p, 4);
    std::memcpy(&y, p + n - 4, 4);
    a = x;
    b = y;
  } else if (n > 0) {
    a = (uint64_t(uint8_t(p[0])) << 16) | (uint64_t(uint8_t(p[n >> 1])) << 8) | uint8_t(p[n - 1]);
  }
  return mix64(a ^ 0xE7037ED1A0B428DBull, b ^ h ^ 0x8EBC6AF09C88C6E3ull);
}

struct BytesHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const noexcept { return hash_bytes(s); }
};

}  // namespace morvik
