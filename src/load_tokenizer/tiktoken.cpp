#include "load_tokenizer/tiktoken.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>

#include "bpe/nfc.h"

namespace morvik::load_tokenizer {

namespace {

int8_t b64_value(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return int8_t(c - 'A');
  if (c >= 'a' && c <= 'z') return int8_t(c - 'a' + 26);
  if (c >= '0' && c <= '9') return int8_t(c - '0' + 52);
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

// Standard base64 with required padding and no stray bits. Returns an empty
// string on success, else the reason.
std::string decode_base64(std::string_view in, std::string& out) {
  out.clear();
  if (in.size() % 4 != 0) return "length " + std::to_string(in.size()) + " is not a multiple of 4";
  out.reserve(in.size() / 4 * 3);
  for (size_t i = 0; i < in.size(); i += 4) {
    const bool last = i + 4 == in.size();
    int pad = 0;
    if (last) {
      if (in[i + 3] == '=') pad = (in[i + 2] == '=') ? 2 : 1;
    }
    uint32_t v = 0;
    for (int k = 0; k < 4; ++k) {
      const unsigned char c = static_cast<unsigned char>(in[i + k]);
      int8_t d;
      if (k >= 4 - pad) {
        d = 0;  // padding, checked above
      } else {
        d = b64_value(c);
        if (d < 0) {
          if (c == '=') return "misplaced padding at offset " + std::to_string(i + k);
          return "invalid character at offset " + std::to_string(i + k);
        }
      }
      v = (v << 6) | uint32_t(d);
    }
    if (pad == 2 && (v & 0xFFFF) != 0) return "trailing bits in the last character";
    if (pad == 1 && (v & 0xFF) != 0) return "trailing bits in the last character";
    out.push_back(char(v >> 16));
    if (pad < 2) out.push_back(char(v >> 8));
    if (pad < 1) out.push_back(char(v));
  }
  return {};
}

// Length of the Unicode White_Space character starting at p (0 if none).
size_t white_space_len_at(std::string_view s, size_t p) {
  const unsigned char c = static_cast<unsigned char>(s[p]);
  if ((c >= 0x09 && c <= 0x0D) || c == 0x20) return 1;
  auto at = [&](size_t k) { return p + k < s.size() ? static_cast<unsigned char>(s[p + k]) : 0u; };
  if (c == 0xC2 && (at(1) == 0x85 || at(1) == 0xA0)) return 2;
  if (c == 0xE1 && at(1) == 0x9A && at(2) == 0x80) return 3;  // U+1680
  if (c == 0xE2 && at(1) == 0x80 && (at(2) <= 0x8A || at(2) == 0xA8 || at(2) == 0xA9 || at(2) == 0xAF) && at(2) >= 0x80)
    return 3;                                                  // U+2000..200A, 2028, 2029, 202F
  if (c == 0xE2 && at(1) == 0x81 && at(2) == 0x9F) return 3;  // U+205F
  if (c == 0xE3 && at(1) == 0x80 && at(2) == 0x80) return 3;  // U+3000
  return 0;
}

std::string_view trim_white_space(std::string_view s) {
  size_t b = 0;
  while (b < s.size()) {
    size_t n = white_space_len_at(s, b);
    if (!n) break;
    b += n;
  }
  s.remove_prefix(b);
  // From the end: step back over whole characters.
  for (;;) {
    if (s.empty()) break;
    size_t start = s.size() - 1;
    while (start > 0 && (static_cast<unsigned char>(s[start]) & 0xC0) == 0x80 && s.size() - start < 4) --start;
    size_t n = white_space_len_at(s, start);
    if (n && start + n == s.size()) {
      s.remove_suffix(n);
      continue;
    }
    break;
  }
  return s;
}

// Decimal unsigned 32-bit, optional leading '+'.
bool parse_u32(std::string_view s, uint32_t& out) {
  if (!s.empty() && s[0] == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
    v = v * 10 + uint64_t(c - '0');
    if (v > 0xFFFFFFFFull) return false;
  }
  out = uint32_t(v);
  return true;
}

}  // namespace

Result<std::vector<std::string>> parse_tiktoken(std::string_view data) {
  std::vector<std::string> tokens;
  std::string decoded;
  size_t pos = 0;
  size_t index = 0;
  while (pos < data.size()) {
    size_t nl = data.find('\n', pos);
    size_t end = nl == std::string_view::npos ? data.size() : nl;
    std::string_view line = data.substr(pos, end - pos);
    if (nl != std::string_view::npos && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    pos = nl == std::string_view::npos ? data.size() : nl + 1;
    const std::string where = "Invalid ranks file line " + std::to_string(index + 1) + ": ";

    const size_t sp = line.find(' ');
    if (sp == std::string_view::npos) return Error::make(where + "expected \"<base64 token> <rank>\", found no space");
    const std::string_view tok = line.substr(0, sp);
    const std::string_view rank_text = trim_white_space(line.substr(sp + 1));
    uint32_t rank;
    if (!parse_u32(rank_text, rank))
      return Error::make(where + "rank \"" + std::string(rank_text) + "\" is not a decimal unsigned 32-bit number");
    if (rank != index)
      return Error::make(where + "rank " + std::to_string(rank) + " does not match the line's index " +
                         std::to_string(index) + " (ranks must run 0, 1, 2, ... in order)");
    if (rank == 0xFFFFFFFFu)  // reserved as "no token" by the merge kernels
      return Error::make(where + "rank 4294967295 is reserved");
    if (std::string why = decode_base64(tok, decoded); !why.empty())
      return Error::make(where + "token \"" + std::string(tok) + "\" is not valid base64: " + why);
    tokens.push_back(decoded);
    ++index;
  }
  return tokens;
}

Result<std::vector<std::string>> load_tiktoken(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Error::make("Failed to read " + path).caused_by(os_error_text(errno));
  std::string data;
  char buf[1 << 16];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return Error::make(os_error_text(err));
    }
    if (n == 0) break;
    data.append(buf, size_t(n));
  }
  ::close(fd);
  if (!bpe::is_valid_utf8(data)) return Error::make("stream did not contain valid UTF-8");
  return parse_tiktoken(data);
}

}  // namespace morvik::load_tokenizer
