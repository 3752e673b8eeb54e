#include "bpe/mod.h"

#include <algorithm>
#include <functional>

namespace morvik::bpe {

Result<std::optional<ByteRemapping>> ByteRemapping::from_byte_vocab(const std::vector<ByteStr>& vocab) {
  ByteRemapping r;
  r.table.fill(NO_TOKEN);
  for (size_t id = 0; id < vocab.size(); ++id) {
    const ByteStr& b = vocab[id];
    if (b && b->size() == 1) {
      TokenId& e = r.table[uint8_t((*b)[0])];
      if (e == NO_TOKEN) e = TokenId(id);  // lowest id wins
    }
  }
  for (unsigned b = 0; b < 256; ++b) {
    if (r.table[b] != NO_TOKEN) continue;
    // 0xC0, 0xC1 and 0xF5..0xFF never occur in UTF-8 text.
    if (b <= 0xF4 && b != 0xC0 && b != 0xC1) {
      static const char hex[] = "0123456789abcdef";
      std::string msg = "Byte remapping failed: no single-byte vocab entry for byte 0x";
      msg += hex[b >> 4];
      msg += hex[b & 15];
      return Error::make(std::move(msg));
    }
    r.table[b] = 0;
  }
  bool identity = true;
  for (unsigned b = 0; b < 256; ++b) identity &= r.table[b] == b;
  if (identity) return std::optional<ByteRemapping>();
  return std::optional<ByteRemapping>(r);
}

namespace {

// Priority lookup of MergeMap: the merged id is the priority.
struct IdPolicy {
  static constexpr bool kRanked = false;
  const MergeMap::Table& t;
  const TokenId* small;
  uint32_t get(TokenId l, TokenId r, TokenId& merged) const {
    if ((l | r) < MergeMap::kSmall) return merged = small[l * MergeMap::kSmall + r];
    const TokenId* v = t.find(pair_key(l, r));
    if (!v) return NO_TOKEN;
    merged = *v;
    return *v;
  }
};

// Priority lookup of RankedMergeMap: the rank orders, the merged id results.
struct RankPolicy {
  static constexpr bool kRanked = true;
  const RankedMergeMap::Table& t;
  uint32_t get(TokenId l, TokenId r, TokenId& merged) const {
    const RankedMerge* v = t.find(pair_key(l, r));
    if (!v) return NO_TOKEN;
    merged = v->merged;
    return v->rank;
  }
};

constexpr size_t kShortMax = 32;

// At most 32 symbols: stack arrays and a linear scan for the minimum.
template <class P>
void merge_short(const P& p, std::vector<TokenId>& symbols) {
  TokenId* s = symbols.data();
  const unsigned n = unsigned(symbols.size());
  uint8_t next[kShortMax];
  uint8_t prev[kShortMax];
  uint32_t pri[kShortMax];
  TokenId mid[kShortMax] = {};  // merged ids (ranked only; otherwise equal to pri)
  for (unsigned i = 0; i < n; ++i) {
    next[i] = uint8_t(i + 1);
    prev[i] = uint8_t(i - 1);  // 255 for position 0
  }
  for (unsigned i = 0; i + 1 < n; ++i) pri[i] = p.get(s[i], s[i + 1], mid[i]);
  pri[n - 1] = NO_TOKEN;
  for (;;) {
    uint32_t best = NO_TOKEN;
    unsigned bi = 0;
    for (unsigned i = 0; i + 1 < n; ++i) {
      if (pri[i] < best) {  // strict: the leftmost minimum wins
        best = pri[i];
        bi = i;
      }
    }
    if (best == NO_TOKEN) break;
    s[bi] = P::kRanked ? mid[bi] : best;
    const unsigned o = next[bi];
    const unsigned nn = next[o];
    pri[o] = NO_TOKEN;
    next[bi] = uint8_t(nn);
    if (nn < n) {
      prev[nn] = uint8_t(bi);
      pri[bi] = p.get(s[bi], s[nn], mid[bi]);
    } else {
      pri[bi] = NO_TOKEN;
    }
    const unsigned pv = prev[bi];
    if (pv < n) pri[pv] = p.get(s[pv], s[bi], mid[pv]);
  }
  unsigned w = 0;
  for (unsigned i = 0; i < n; i = next[i]) s[w++] = s[i];
  symbols.resize(w);
}

// Heap entries pack (priority, position) so that one unsigned comparison
// orders by priority, then by position (= leftmost, since positions keep
// their order along the list).
template <class Pos>
struct EntryOf;
template <>
struct EntryOf<uint32_t> {
  using type = uint64_t;
};
template <>
struct EntryOf<uint64_t> {
  using type = unsigned __int128;
};

template <class P, class Pos>
void merge_long(const P& p, std::vector<TokenId>& symbols, std::vector<Pos>& next, std::vector<Pos>& prev,
                std::vector<typename EntryOf<Pos>::type>& heap) {
  using Entry = typename EntryOf<Pos>::type;
  constexpr Pos kNone = Pos(~Pos{0});
  constexpr unsigned kShift = sizeof(Pos) * 8;
  TokenId* s = symbols.data();
  const size_t n = symbols.size();
  next.resize(n);
  prev.resize(n);
  for (size_t i = 0; i < n; ++i) {
    next[i] = Pos(i + 1);
    prev[i] = Pos(i - 1);
  }
  next[n - 1] = kNone;
  prev[0] = kNone;
  heap.clear();
  TokenId merged = NO_TOKEN;
  for (size_t i = 0; i + 1 < n; ++i) {
    const uint32_t q = p.get(s[i], s[i + 1], merged);
    if (q != NO_TOKEN) heap.push_back((Entry(q) << kShift) | Entry(i));
  }
  const std::greater<Entry> cmp;
  std::make_heap(heap.begin(), heap.end(), cmp);
  while (!heap.empty()) {
    std::pop_heap(heap.begin(), heap.end(), cmp);
    const Entry top = heap.back();
    heap.pop_back();
    const uint32_t q = uint32_t(top >> kShift);
    const Pos f = Pos(top);
    const Pos r = next[f];
    if (r == kNone) continue;  // f was absorbed, or is the last symbol
    if (p.get(s[f], s[r], merged) != q) continue;  // stale entry
    s[f] = merged;
    const Pos rn = next[r];
    next[f] = rn;
    if (rn != kNone) prev[rn] = f;
    next[r] = kNone;  // r is absorbed
    const Pos pv = prev[f];
    if (pv != kNone) {
      const uint32_t qp = p.get(s[pv], s[f], merged);
      if (qp != NO_TOKEN) {
        heap.push_back((Entry(qp) << kShift) | Entry(pv));
        std::push_heap(heap.begin(), heap.end(), cmp);
      }
    }
    if (rn != kNone) {
      const uint32_t qn = p.get(s[f], s[rn], merged);
      if (qn != NO_TOKEN) {
        heap.push_back((Entry(qn) << kShift) | Entry(f));
        std::push_heap(heap.begin(), heap.end(), cmp);
      }
    }
  }
  size_t w = 0;
  for (Pos i = 0; i != kNone; i = next[i]) s[w++] = s[i];  // position 0 is never absorbed
  symbols.resize(w);
}

}  // namespace

void bpe_merge_symbols_with_scratch(const MergeMap& merges, std::vector<TokenId>& symbols, MergeScratch& scratch) {
  const size_t n = symbols.size();
  if (n < 2 || merges.empty()) return;
  const IdPolicy p{merges.table(), merges.small_pairs()};
  if (n <= kShortMax) {
    merge_short(p, symbols);
  } else if (n < size_t{0xFFFFFFFFu}) {
    merge_long<IdPolicy, uint32_t>(p, symbols, scratch.next, scratch.prev, scratch.heap);
  } else {
    detail::merge_long_wide(merges, symbols);
  }
}

void bpe_merge_symbols_ranked(const RankedMergeMap& merges, std::vector<TokenId>& symbols) {
  const size_t n = symbols.size();
  if (n < 2 || merges.empty()) return;
  const RankPolicy p{merges.table()};
  if (n <= kShortMax) {
    merge_short(p, symbols);
  } else {
    detail::merge_ranked_long(merges, symbols);
  }
}

namespace detail {
void merge_long_wide(const MergeMap& merges, std::vector<TokenId>& symbols) {
  if (symbols.size() < 2 || merges.empty()) return;
  std::vector<uint64_t> next, prev;
  std::vector<unsigned __int128> heap;
  merge_long<IdPolicy, uint64_t>(IdPolicy{merges.table(), merges.small_pairs()}, symbols, next, prev, heap);
}

void merge_ranked_long(const RankedMergeMap& merges, std::vector<TokenId>& symbols) {
  if (symbols.size() < 2 || merges.empty()) return;
  // Allocated per call: the ranked kernel serves the SentencePiece encoder,
  // whose units are short; long inputs are rare there.
  std::vector<uint64_t> next, prev;
  std::vector<unsigned __int128> heap;
  merge_long<RankPolicy, uint64_t>(RankPolicy{merges.table()}, symbols, next, prev, heap);
}
}  // namespace detail

}  // namespace morvik::bpe
