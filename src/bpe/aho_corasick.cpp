#include "bpe/aho_corasick.h"

#include <algorithm>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace morvik::bpe {

AhoCorasick::AhoCorasick(const std::vector<std::string_view>& patterns, size_t dense_limit) {
  // Trie with sorted sparse children.
  std::vector<std::vector<std::pair<uint8_t, uint32_t>>> kids(1);
  std::vector<uint32_t> pat(1, kNone);
  depth_.assign(1, 0);
  pattern_len_.reserve(patterns.size());
  std::array<bool, 256> used{};
  for (uint32_t k = 0; k < patterns.size(); ++k) {
    const std::string_view p = patterns[k];
    pattern_len_.push_back(uint32_t(p.size()));
    if (p.empty()) continue;
    uint32_t u = 0;
    for (unsigned char c : p) {
      used[c] = true;
      auto& ch = kids[u];
      auto it = std::lower_bound(ch.begin(), ch.end(), std::make_pair(uint8_t(c), uint32_t(0)),
                                 [](auto& a, auto& b) { return a.first < b.first; });
      if (it != ch.end() && it->first == c) {
        u = it->second;
        continue;
      }
      const uint32_t v = uint32_t(kids.size());
      ch.insert(it, {uint8_t(c), v});
      kids.emplace_back();
      pat.push_back(kNone);
      depth_.push_back(depth_[u] + 1);
      u = v;
    }
    if (pat[u] == kNone) pat[u] = k;  // identical patterns: the first wins
  }
  const uint32_t n_states = uint32_t(kids.size());

  // Flatten the edges.
  edge_begin_.resize(n_states + 1);
  for (uint32_t u = 0; u < n_states; ++u) {
    edge_begin_[u] = uint32_t(edge_byte_.size());
    for (auto [c, v] : kids[u]) {
      edge_byte_.push_back(c);
      edge_to_.push_back(v);
    }
  }
  edge_begin_[n_states] = uint32_t(edge_byte_.size());
  root_.fill(0);
  for (auto [c, v] : kids[0]) {
    root_[c] = v;
    first_byte_[c] = true;
  }
  for (auto [c, v] : kids[0]) {
    if (n_first_bytes_ < 4) first_bytes_[n_first_bytes_] = c;
    n_first_bytes_ = std::min(n_first_bytes_ + 1, 5);
  }

  // Failure links and longest suffix outputs, breadth first.
  fail_.assign(n_states, 0);
  out_.assign(n_states, kNone);
  std::vector<uint32_t> order;
  order.reserve(n_states);
  order.push_back(0);
  for (size_t qi = 0; qi < order.size(); ++qi) {
    const uint32_t u = order[qi];
    for (auto [c, v] : kids[u]) {
      uint32_t f = 0;
      if (u != 0) {
        f = fail_[u];
        for (;;) {
          uint32_t g = f == 0 ? root_[c] : kNone;
          if (f != 0) {
            for (auto [c2, v2] : kids[f])
              if (c2 == c) g = v2;
          }
          if (g != kNone && g != 0) {
            f = g;
            break;
          }
          if (f == 0) break;
          f = fail_[f];
        }
      }
      fail_[v] = f;
      out_[v] = pat[v] != kNone ? pat[v] : out_[f];
      order.push_back(v);
    }
  }

  // Dense table over byte classes when small enough.
  uint32_t next_class = 1;
  for (int b = 0; b < 256; ++b) byte_class_[b] = used[b] ? uint8_t(next_class++) : 0;
  classes_ = next_class;
  if (size_t(n_states) * classes_ <= dense_limit) {
    dfa_.assign(size_t(n_states) * classes_, 0);
    for (uint32_t u : order) {
      uint32_t* row = &dfa_[size_t(u) * classes_];
      if (u != 0) std::memcpy(row, &dfa_[size_t(fail_[u]) * classes_], classes_ * sizeof(uint32_t));
      for (auto [c, v] : kids[u]) row[byte_class_[c]] = v;
    }
  }
}

uint32_t AhoCorasick::step_sparse(uint32_t state, uint8_t byte) const {
  for (;;) {
    if (state == 0) return root_[byte];
    for (uint32_t e = edge_begin_[state]; e < edge_begin_[state + 1]; ++e)
      if (edge_byte_[e] == byte) return edge_to_[e];
    state = fail_[state];
  }
}

size_t AhoCorasick::skip_to_candidate(const uint8_t* t, size_t i, size_t n) const {
  if (n_first_bytes_ == 0) return n;
  if (n_first_bytes_ == 1) {
    const void* p = std::memchr(t + i, first_bytes_[0], n - i);
    return p ? size_t(static_cast<const uint8_t*>(p) - t) : n;
  }
#if defined(__SSE2__)
  if (n_first_bytes_ <= 4) {
    const __m128i b0 = _mm_set1_epi8(char(first_bytes_[0]));
    const __m128i b1 = _mm_set1_epi8(char(first_bytes_[1]));
    // Unused lanes repeat byte 0, which changes nothing.
    const __m128i b2 = _mm_set1_epi8(char(n_first_bytes_ > 2 ? first_bytes_[2] : first_bytes_[0]));
    const __m128i b3 = _mm_set1_epi8(char(n_first_bytes_ > 3 ? first_bytes_[3] : first_bytes_[0]));
    while (i + 16 <= n) {
      const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(t + i));
      const __m128i m = _mm_or_si128(_mm_or_si128(_mm_cmpeq_epi8(v, b0), _mm_cmpeq_epi8(v, b1)),
                                     _mm_or_si128(_mm_cmpeq_epi8(v, b2), _mm_cmpeq_epi8(v, b3)));
      const unsigned bits = unsigned(_mm_movemask_epi8(m));
      if (bits) return i + unsigned(__builtin_ctz(bits));
      i += 16;
    }
  }
#endif
  while (i < n && !first_byte_[t[i]]) ++i;
  return i;
}

std::optional<AcMatch> AhoCorasick::find(std::string_view text, size_t from) const {
  const uint8_t* t = reinterpret_cast<const uint8_t*>(text.data());
  const size_t n = text.size();
  uint32_t state = 0;
  bool have = false;
  AcMatch best{0, 0, 0};
  const bool dense = !dfa_.empty();
  for (size_t i = from; i < n;) {
    if (state == 0 && !have) {
      i = skip_to_candidate(t, i, n);
      if (i >= n) break;
    }
    state = dense ? dfa_[size_t(state) * classes_ + byte_class_[t[i]]] : step_sparse(state, t[i]);
    ++i;
    const uint32_t o = out_[state];
    if (o != kNone) {
      const size_t len = pattern_len_[o];
      const size_t s = i - len;
      if (!have || s < best.start || (s == best.start && i > best.end)) {
        have = true;
        best = AcMatch{o, s, i};
      }
    }
    // Every match still to come starts inside the current state's string; once
    // that string begins after the best start, nothing can beat it.
    if (have && i - depth_[state] > best.start) break;
  }
  if (!have) return std::nullopt;
  return best;
}

}  // namespace morvik::bpe
