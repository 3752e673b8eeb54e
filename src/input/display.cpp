#include "input/display.h"

#include <cstdint>

namespace morvik::input {

namespace {

// Length of the valid UTF-8 sequence at s[i], or 0 when the bytes there do not
// start one. Follows the well-formed byte table of Unicode (no overlongs, no
// surrogates, nothing above U+10FFFF). `bad` receives the length of the
// maximal invalid subpart when 0 is returned.
std::size_t valid_seq(std::string_view s, std::size_t i, std::size_t& bad, char32_t& cp) {
  const auto b = [&](std::size_t k) { return static_cast<unsigned char>(s[i + k]); };
  const unsigned char c = b(0);
  bad = 1;
  if (c < 0x80) {
    cp = c;
    return 1;
  }
  std::size_t n;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  char32_t v = c & (0x7F >> n);
  for (std::size_t k = 1; k < n; ++k) {
    if (i + k >= s.size()) return 0;
    const unsigned char t = b(k);
    const unsigned char l = k == 1 ? lo : 0x80, h = k == 1 ? hi : 0xBF;
    if (t < l || t > h) return 0;
    v = (v << 6) | (t & 0x3F);
    bad = k + 1;
  }
  cp = v;
  return n;
}

void put_utf8(std::string& out, char32_t cp) {
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

template <class Emit>
void decode_lossy(std::string_view s, Emit emit) {
  std::size_t i = 0;
  while (i < s.size()) {
    std::size_t bad;
    char32_t cp;
    const std::size_t n = valid_seq(s, i, bad, cp);
    if (n) {
      emit(cp);
      i += n;
    } else {
      emit(char32_t{0xFFFD});
      i += bad;
    }
  }
}

}  // namespace

bool is_utf8(std::string_view bytes) noexcept {
  std::size_t i = 0;
  while (i < bytes.size()) {
    std::size_t bad;
    char32_t cp;
    const std::size_t n = valid_seq(bytes, i, bad, cp);
    if (!n) return false;
    i += n;
  }
  return true;
}

std::string lossy_utf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  decode_lossy(bytes, [&](char32_t cp) { put_utf8(out, cp); });
  return out;
}

std::string debug_quote(std::string_view bytes) {
  std::string out = "\"";
  decode_lossy(bytes, [&](char32_t cp) {
    switch (cp) {
      case '"': out += "\\\""; return;
      case '\\': out += "\\\\"; return;
      case '\t': out += "\\t"; return;
      case '\r': out += "\\r"; return;
      case '\n': out += "\\n"; return;
      case 0: out += "\\0"; return;
      default: break;
    }
    if (cp < 0x20 || (cp >= 0x7F && cp < 0xA0)) {
      static const char hex[] = "0123456789abcdef";
      out += "\\u{";
      if (cp >= 0x10) out += hex[cp >> 4];
      out += hex[cp & 0xF];
      out += '}';
      return;
    }
    put_utf8(out, cp);
  });
  out += '"';
  return out;
}

}  // namespace morvik::input
