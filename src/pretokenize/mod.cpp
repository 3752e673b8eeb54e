#include "pretokenize/mod.h"

#include <algorithm>

namespace morvik::pretokenize {

AnyScanner make_scanner(PretokenizerKind kind, std::string_view text) {
  switch (kind) {
    case PretokenizerKind::R50k: return FastR50kPretokenizer(text);
    case PretokenizerKind::Cl100k: return FastCl100kPretokenizer(text);
    case PretokenizerKind::Qwen2: return FastQwen2Pretokenizer(text);
    case PretokenizerKind::Qwen3_5: return FastQwen3_5Pretokenizer(text);
    case PretokenizerKind::Olmo3: return FastOlmo3Pretokenizer(text);
    case PretokenizerKind::DeepSeekV3: return FastDeepSeekV3Pretokenizer(text);
    default: return WholeTextScanner(text);
  }
}

namespace {

inline bool ascii_letter(unsigned char b) { return static_cast<unsigned char>((b | 0x20) - 'a') < 26; }
inline bool ascii_alnum(unsigned char b) { return ascii_letter(b) || static_cast<unsigned char>(b - '0') < 10; }

// Does any occurrence of a space-containing token (overlapping ones
// included) start before `c` and end after it? Every occurrence is checked,
// not only a left-to-right non-overlapping set: which occurrences the
// added-token matcher takes depends on text before the window, so only
// "none at all" is safe.
bool straddled(std::string_view text, size_t c, size_t longest, const std::vector<std::string_view>& tokens) {
  size_t lo = c >= longest - 1 ? c - (longest - 1) : 0;
  size_t hi = std::min(text.size(), c + longest - 1);
  std::string_view window = text.substr(lo, hi - lo);
  for (std::string_view tok : tokens) {
    if (tok.find(' ') == std::string_view::npos) continue;
    for (size_t at = window.find(tok); at != std::string_view::npos; at = window.find(tok, at + 1)) {
      size_t s = lo + at;
      if (s < c && c < s + tok.size()) return true;
    }
  }
  return false;
}

}  // namespace

std::vector<std::pair<size_t, size_t>> safe_split_ranges(std::string_view text, size_t target,
                                                        const std::vector<std::string_view>& added_tokens) {
  std::vector<std::pair<size_t, size_t>> out;
  const size_t n = text.size();
  const auto* t = reinterpret_cast<const unsigned char*>(text.data());
  size_t longest = 0;
  for (std::string_view tok : added_tokens)
    if (tok.find(' ') != std::string_view::npos) longest = std::max(longest, tok.size());
  if (target == 0) target = 1;  // a zero target would cut at every candidate; one byte means the same

  size_t piece = 0;
  size_t c = target;
  while (c < n && c + 1 < n) {
    if (c >= 1 && t[c] == ' ' && ascii_alnum(t[c - 1]) && ascii_letter(t[c + 1]) &&
        !(longest > 0 && straddled(text, c, longest, added_tokens))) {
      out.emplace_back(piece, c);
      piece = c;
      if (n - c <= target) break;
      c += target;
      continue;
    }
    ++c;
  }
  out.emplace_back(piece, n);
  return out;
}

}  // namespace morvik::pretokenize
