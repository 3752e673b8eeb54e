#include "input/mod.h"

#include <cstring>
#include <string.h>  // memmem

namespace morvik::input {

std::size_t SeparatorFinder::find(std::string_view text, std::size_t from, std::size_t to) const noexcept {
  const std::size_t n = needle_.size();
  if (to > text.size()) to = text.size();
  if (from >= to || to - from < n) return std::string_view::npos;
  const char* base = text.data();
  if (n == 1) {
    const void* p = std::memchr(base + from, needle_[0], to - from);
    return p ? static_cast<std::size_t>(static_cast<const char*>(p) - base) : std::string_view::npos;
  }
  const void* p = ::memmem(base + from, to - from, needle_.data(), n);
  return p ? static_cast<std::size_t>(static_cast<const char*>(p) - base) : std::string_view::npos;
}

std::size_t find_newline(std::string_view text, std::size_t from, std::size_t to) noexcept {
  if (to > text.size()) to = text.size();
  if (from >= to) return std::string_view::npos;
  const void* p = std::memchr(text.data() + from, '\n', to - from);
  return p ? static_cast<std::size_t>(static_cast<const char*>(p) - text.data()) : std::string_view::npos;
}

DocumentIter::DocumentIter(std::string_view text, std::string_view separator, std::size_t start,
                           std::size_t end) noexcept
    : text_(text), sep_(separator), start_(start), end_(end > text.size() ? text.size() : end) {}

std::optional<std::string_view> DocumentIter::next() noexcept {
  if (finished_) return std::nullopt;
  const std::size_t n = sep_.size();
  if (n == 0) {
    finished_ = true;
    if (start_ < end_) return text_.substr(start_, end_ - start_);
    return std::nullopt;
  }
  while (start_ < end_) {
    const std::size_t at = sep_.find(text_, start_, end_);
    if (at == std::string_view::npos) {
      finished_ = true;
      return text_.substr(start_, end_ - start_);
    }
    const std::size_t doc_start = start_;
    start_ = at + n;
    if (at > doc_start) return text_.substr(doc_start, at - doc_start);
  }
  finished_ = true;
  return std::nullopt;
}

std::string_view text_separator(const DocFormat::Text& t) noexcept {
  return t.separator ? std::string_view(*t.separator) : std::string_view();
}

namespace {

std::vector<ByteRange> jsonl_ranges(std::string_view data, std::size_t target) {
  const std::size_t L = data.size();
  std::vector<ByteRange> out;
  std::size_t c = 0;
  while (target < L - c) {
    const std::size_t lf = find_newline(data, c + target, L);
    if (lf == std::string_view::npos) break;
    out.push_back({c, lf + 1});
    c = lf + 1;
    if (c >= L) return out;
  }
  out.push_back({c, L});
  return out;
}

// The separator occurrence that a left-to-right scan started at `c` would
// choose first among those starting at or after `q`. When occurrences may
// overlap ("###" with "##"), the first occurrence at or after q need not be
// one the scan chooses, so find a point z >= q that no occurrence straddles:
// from there the scan's choices are simply the next occurrences. Returns npos
// when there is none.
std::size_t next_boundary(std::string_view data, const SeparatorFinder& sep, std::size_t c, std::size_t q) {
  const std::size_t n = sep.size();
  std::size_t z = q;
  for (;;) {
    const std::size_t from = z - c >= n ? z - n + 1 : c;
    const std::size_t o = sep.find(data, from, data.size());
    if (o == std::string_view::npos) return o;
    if (o >= z) return o;
    z = o + n;  // o straddles z; no point up to o + n - 1 is safe
  }
}

std::vector<ByteRange> separator_ranges(std::string_view data, std::string_view s, std::size_t target) {
  const std::size_t L = data.size();
  const SeparatorFinder sep(s);
  std::vector<ByteRange> out;
  std::size_t c = 0;
  while (target < L - c && L - c - target >= s.size()) {
    const std::size_t at = next_boundary(data, sep, c, c + target);
    if (at == std::string_view::npos) break;
    out.push_back({c, at});
    c = at + s.size();
    if (c >= L) return out;
  }
  out.push_back({c, L});
  return out;
}

}  // namespace

std::vector<ByteRange> chunk_ranges(std::string_view data, const DocFormat& format, std::size_t target) {
  if (format.is_jsonl()) return jsonl_ranges(data, target);
  const std::string_view s = text_separator(*format.as_text());
  if (s.empty()) return {ByteRange{0, data.size()}};
  return separator_ranges(data, s, target);
}

}  // namespace morvik::input
