// Helpers shared by the pretokenizer tests: exact-size heap copies of texts
// (so the sanitizer sees any read past the end), span collection through each
// entry point, and a seeded generator of valid UTF-8 drawn from characters
// that exercise every class.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "pretokenize/fast/r50k.h"
#include "pretokenize/mod.h"

namespace ptest {

using morvik::pretokenize::PretokenSpan;

// The text in a heap block of exactly its size.
struct Exact {
  std::unique_ptr<char[]> buf;
  size_t n;
  explicit Exact(std::string_view s) : buf(new char[s.size() ? s.size() : 1]), n(s.size()) {
    if (n) std::memcpy(buf.get(), s.data(), n);
  }
  std::string_view view() const { return {buf.get(), n}; }
};

inline std::vector<size_t> lengths(std::string_view text, const std::vector<PretokenSpan>& spans) {
  std::vector<size_t> out;
  for (auto& s : spans) out.push_back(s.length);
  return out;
}

inline std::vector<PretokenSpan> r50k_spans(std::string_view text, size_t start = 0) {
  Exact e(text);
  morvik::pretokenize::FastR50kPretokenizer s(e.view(), start);
  std::vector<PretokenSpan> out;
  while (auto sp = s.next()) out.push_back(*sp);
  return out;
}

// The scalar matcher alone, from `start` to the end.
inline std::vector<PretokenSpan> r50k_scalar_spans(std::string_view text, size_t start = 0) {
  Exact e(text);
  const auto* t = reinterpret_cast<const uint8_t*>(e.buf.get());
  const uint8_t* table = morvik::pretokenize::class_table();
  std::vector<PretokenSpan> out;
  for (size_t x = start; x < e.n;) {
    size_t end = morvik::pretokenize::r50k::match_end(t, e.n, x, table);
    out.push_back({x, end - x});
    x = end;
  }
  return out;
}

inline std::vector<std::string> pieces(std::string_view text, const std::vector<PretokenSpan>& spans) {
  std::vector<std::string> out;
  for (auto& s : spans) out.emplace_back(text.substr(s.offset, s.length));
  return out;
}

// Spans tile [start, text.size()) in order.
inline bool tiles(const std::vector<PretokenSpan>& spans, size_t start, size_t n) {
  size_t at = start;
  for (auto& s : spans) {
    if (s.offset != at || s.length == 0) return false;
    at += s.length;
  }
  return at == n;
}

inline void append_utf8(std::string& out, uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

// Characters that stress the rules: ASCII of every class, contraction
// letters and apostrophes, every multi-byte white space length, letters,
// marks, numbers and symbols of 2, 3 and 4 bytes.
inline const std::vector<uint32_t>& alphabet() {
  static const std::vector<uint32_t> a = {
      'a', 'b', 'Z', 's', 'd', 'm', 't', 'l', 'v', 'r', 'e', 'S', 'L', '0', '7', ' ', ' ', ' ', '\t', '\n', '\r',
      0x0B, 0x0C, '\'', '\'', '.', ',', '!', '?', '_', '-', '(', 0x7F, 0x01, 0x1C,
      0x85, 0xA0, 0x1680, 0x2000, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000, 0x200B,
      0xE9, 0xDF, 0x3B1, 0x416, 0x5D0, 0x627, 0x915, 0xE01, 0x4E2D, 0x3042, 0xAC00, 0x1D400, 0x20000,
      0x301, 0x308, 0x93F, 0x64B, 0x20DD, 0x1D165,
      0xB2, 0xBD, 0x663, 0x966, 0x2160, 0x2460, 0xFF11, 0x1D7CE, 0x10107,
      0x2019, 0x201C, 0xA7, 0x20AC, 0x2192, 0x3001, 0x1F600, 0x1F44D, 0xFE0F, 0xE000};
  return a;
}

inline std::string random_text(std::mt19937_64& rng, size_t approx_bytes) {
  const auto& a = alphabet();
  std::string s;
  std::uniform_int_distribution<size_t> pick(0, a.size() - 1);
  std::uniform_int_distribution<int> run(1, 12);
  while (s.size() < approx_bytes) {
    // Runs of one character make long letter, digit and white-space runs likely.
    uint32_t cp = a[pick(rng)];
    int r = (rng() % 4 == 0) ? run(rng) : 1;
    for (int i = 0; i < r; ++i) append_utf8(s, cp);
  }
  return s;
}

}  // namespace ptest
