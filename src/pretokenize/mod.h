// Pretokenizer kinds and the one entry point every caller uses: the span
// iterator `FastPretokenizerDispatch` and the callback form
// `for_each_pretoken` (which picks the scanner once per text). Also
// `safe_split_ranges` (cut points at which every kind tokenizes the pieces
// exactly as the whole) and `Pretoken`, the borrowed key of the counting maps.
//
// Guarantees for every kind: spans are non-empty, in order, contiguous and
// tile the text (an empty text has none), for any bytes; on valid UTF-8 they
// are exactly the matches of the kind's splitting expression.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "common/hash.h"
#include "pretokenize/block_scan.h"
#include "pretokenize/fast/cl100k.h"
#include "pretokenize/fast/deepseek_v3.h"
#include "pretokenize/fast/olmo3.h"
#include "pretokenize/fast/qwen2.h"
#include "pretokenize/fast/qwen3_5.h"
#include "pretokenize/fast/r50k.h"

namespace morvik::pretokenize {

enum class PretokenizerKind : uint8_t { R50k = 0, Cl100k = 1, Qwen2 = 2, Qwen3_5 = 3, Olmo3 = 4, DeepSeekV3 = 5, None = 255 };

// The stand-in for a kind without a scanner (only `None` once all families
// are in): the whole text as one piece, so nothing is lost.
class WholeTextScanner {
 public:
  explicit WholeTextScanner(std::string_view text) : len_(text.size()) {}
  std::optional<PretokenSpan> next() {
    if (done_ || len_ == 0) return std::nullopt;
    done_ = true;
    return PretokenSpan{0, len_};
  }
  template <class F>
  void for_each(F&& f) {
    if (!done_ && len_) f(size_t{0}, len_);
    done_ = true;
  }

 private:
  size_t len_;
  bool done_ = false;
};

// Adding a kind: one alternative here, one case in `make_scanner` and one in
// `for_each_pretoken`.
using AnyScanner = std::variant<WholeTextScanner, FastR50kPretokenizer, FastCl100kPretokenizer, FastQwen2Pretokenizer,
                                FastQwen3_5Pretokenizer, FastOlmo3Pretokenizer, FastDeepSeekV3Pretokenizer>;

AnyScanner make_scanner(PretokenizerKind kind, std::string_view text);

class FastPretokenizerDispatch {
 public:
  FastPretokenizerDispatch(PretokenizerKind kind, std::string_view text) : scanner_(make_scanner(kind, text)) {}
  std::optional<PretokenSpan> next() {
    return std::visit([](auto& s) { return s.next(); }, scanner_);
  }

 private:
  AnyScanner scanner_;
};

// f(offset, length) for every pretoken of `text`; the scanner is chosen once.
template <class F>
void for_each_pretoken(PretokenizerKind kind, std::string_view text, F&& f) {
  switch (kind) {
    case PretokenizerKind::R50k: {
      FastR50kPretokenizer s(text);
      s.for_each(f);
      return;
    }
    case PretokenizerKind::Cl100k: {
      FastCl100kPretokenizer s(text);
      s.for_each(f);
      return;
    }
    case PretokenizerKind::Qwen2: {
      FastQwen2Pretokenizer s(text);
      s.for_each(f);
      return;
    }
    case PretokenizerKind::Qwen3_5: {
      FastQwen3_5Pretokenizer s(text);
      s.for_each(f);
      return;
    }
    case PretokenizerKind::Olmo3: {
      FastOlmo3Pretokenizer s(text);
      s.for_each(f);
      return;
    }
    case PretokenizerKind::DeepSeekV3: {
      FastDeepSeekV3Pretokenizer s(text);
      s.for_each(f);
      return;
    }
    default: {
      WholeTextScanner s(text);
      s.for_each(f);
      return;
    }
  }
}

// Pieces [start, end) covering `text` in order, each (but the last) at least
// `target` bytes, cut just before a space that follows an ASCII letter or
// digit and precedes an ASCII letter, never inside an occurrence of an added
// token that contains a space.
std::vector<std::pair<size_t, size_t>> safe_split_ranges(std::string_view text, size_t target,
                                                        const std::vector<std::string_view>& added_tokens);

// A pretoken's bytes, borrowed from the text being counted (which must
// outlive every map holding it); equal and hashed as a byte string.
struct Pretoken {
  const char* ptr;
  size_t len;

  std::string_view view() const { return {ptr, len}; }
  bool operator==(const Pretoken& o) const { return len == o.len && (len == 0 || std::memcmp(ptr, o.ptr, len) == 0); }
};

struct PretokenHash {
  size_t operator()(const Pretoken& p) const noexcept { return hash_bytes(p.view()); }
};

}  // namespace morvik::pretokenize
