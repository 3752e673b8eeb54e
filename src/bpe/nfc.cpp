#include "bpe/nfc.h"

#include <utf8proc.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace morvik::bpe {

bool is_ascii(std::string_view s) {
  const char* p = s.data();
  size_t n = s.size();
  uint64_t acc = 0;
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    acc |= w;
  }
  for (; n; ++p, --n) acc |= uint8_t(*p);
  return (acc & 0x8080808080808080ull) == 0;
}

bool is_valid_utf8(std::string_view s) {
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* e = p + s.size();
  while (p < e) {
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const unsigned char c = *p;
    size_t n;
    uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) n = 2, cp = c & 0x1F;
    else if (c >= 0xE0 && c <= 0xEF) n = 3, cp = c & 0x0F;
    else if (c >= 0xF0 && c <= 0xF4) n = 4, cp = c & 0x07;
    else return false;
    if (size_t(e - p) < n) return false;
    for (size_t k = 1; k < n; ++k) {
      if ((p[k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[k] & 0x3F);
    }
    if (n == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) return false;
    if (n == 4 && (cp < 0x10000 || cp > 0x10FFFF)) return false;
    p += n;
  }
  return true;
}

namespace {

constexpr uint32_t kCodeSpace = 0x110000;

// Bit c set: code point c is NFC-stable in any context (see nfc_quick_check).
struct StableTable {
  std::vector<uint64_t> bits;
  bool test(uint32_t c) const { return (bits[c >> 6] >> (c & 63)) & 1; }
};

int canonical_decomposition(int32_t c, int32_t* out, int cap) {
  int boundclass = 0;
  return int(utf8proc_decompose_char(c, out, cap, UTF8PROC_DECOMPOSE, &boundclass));
}

bool nfc_of_one_is_itself(int32_t c) {
  utf8proc_uint8_t buf[8];
  const utf8proc_ssize_t n = utf8proc_encode_char(c, buf);
  utf8proc_uint8_t* mapped = nullptr;
  const utf8proc_ssize_t m = utf8proc_map(buf, n, &mapped, utf8proc_option_t(UTF8PROC_STABLE | UTF8PROC_COMPOSE));
  const bool same = m == n && mapped && std::memcmp(mapped, buf, size_t(n)) == 0;
  std::free(mapped);
  return same;
}

const StableTable& stable_table() {
  static StableTable t;
  static std::once_flag once;
  std::call_once(once, [] {
    // Code points that are a non-first part of some canonical decomposition
    // (every composition's second part is one of them).
    std::vector<bool> second(kCodeSpace, false);
    std::vector<bool> decomposes(kCodeSpace, false);
    int32_t d[32];
    for (int32_t c = 0; c < int32_t(kCodeSpace); ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      const int k = canonical_decomposition(c, d, 32);
      if (k == 1 && d[0] == c) continue;
      decomposes[c] = true;
      for (int i = 1; i < k && i < 32; ++i) second[size_t(d[i])] = true;
    }
    t.bits.assign(kCodeSpace / 64, 0);
    for (int32_t c = 0; c < int32_t(kCodeSpace); ++c) {
      if (c >= 0xD800 && c <= 0xDFFF) continue;
      if (utf8proc_get_property(c)->combining_class != 0 || second[size_t(c)]) continue;
      if (decomposes[size_t(c)]) {
        const int k = canonical_decomposition(c, d, 32);
        if (k < 1 || second[size_t(d[0])] || utf8proc_get_property(d[0])->combining_class != 0) continue;
        if (!nfc_of_one_is_itself(c)) continue;
      }
      t.bits[size_t(c) >> 6] |= uint64_t{1} << (c & 63);
    }
  });
  return t;
}

}  // namespace

bool nfc_quick_check(std::string_view s) {
  const StableTable& t = stable_table();
  const unsigned char* p = reinterpret_cast<const unsigned char*>(s.data());
  const unsigned char* e = p + s.size();
  while (p < e) {
    const unsigned char c = *p;
    if (c < 0x80) {
      ++p;
      continue;
    }
    uint32_t cp;
    if (c < 0xE0) {
      cp = (uint32_t(c & 0x1F) << 6) | (p[1] & 0x3F);
      p += 2;
      if (cp < 0x300) continue;  // below the first combining mark: always stable
    } else if (c < 0xF0) {
      cp = (uint32_t(c & 0x0F) << 12) | (uint32_t(p[1] & 0x3F) << 6) | (p[2] & 0x3F);
      p += 3;
    } else {
      cp = (uint32_t(c & 0x07) << 18) | (uint32_t(p[1] & 0x3F) << 12) | (uint32_t(p[2] & 0x3F) << 6) | (p[3] & 0x3F);
      p += 4;
    }
    if (!t.test(cp)) return false;
  }
  return true;
}

bool nfc_normalize(std::string_view s, std::string& out, std::vector<int32_t>& cps) {
  if (nfc_quick_check(s)) return false;
  const auto opts = utf8proc_option_t(UTF8PROC_STABLE | UTF8PROC_COMPOSE);
  const auto* in = reinterpret_cast<const utf8proc_uint8_t*>(s.data());
  // Decomposition never yields fewer code points than bytes / 4; start there.
  if (cps.size() < s.size() + 1) cps.resize(s.size() + 1);
  utf8proc_ssize_t n;
  for (;;) {
    n = utf8proc_decompose(in, utf8proc_ssize_t(s.size()), cps.data(), utf8proc_ssize_t(cps.size() - 1), opts);
    if (n < 0) {  // cannot happen on valid UTF-8; keep the text as it is
      out.assign(s);
      return true;
    }
    if (size_t(n) < cps.size()) break;
    cps.resize(size_t(n) + 1);
  }
  // Composes in place and writes UTF-8 (plus a NUL) over the same buffer.
  const utf8proc_ssize_t m = utf8proc_reencode(cps.data(), n, opts);
  if (m < 0) {
    out.assign(s);
    return true;
  }
  out.assign(reinterpret_cast<const char*>(cps.data()), size_t(m));
  return true;
}

}  // namespace morvik::bpe
