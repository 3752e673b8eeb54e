// The merge kernels against a naive reference merge, and the byte remapping.
#include <iterator>
#include <map>
#include <random>

#include "bpe/mod.h"
#include "check.h"

using namespace morvik;
using namespace morvik::bpe;

namespace {

// The contract, literally: merge the leftmost pair of lowest priority until
// no adjacent pair is in the table. pri(l, r, merged) returns NO_TOKEN or
// the priority and sets merged.
template <class Pri>
std::vector<TokenId> naive_merge(std::vector<TokenId> s, Pri pri) {
  for (;;) {
    uint32_t best = NO_TOKEN;
    size_t bi = 0;
    TokenId bm = 0;
    for (size_t i = 0; i + 1 < s.size(); ++i) {
      TokenId m;
      uint32_t q = pri(s[i], s[i + 1], m);
      if (q < best) best = q, bi = i, bm = m;
    }
    if (best == NO_TOKEN) return s;
    s[bi] = bm;
    s.erase(s.begin() + bi + 1);
  }
}

std::vector<TokenId> naive(const MergeMap& m, std::vector<TokenId> s) {
  return naive_merge(std::move(s), [&](TokenId l, TokenId r, TokenId& out) {
    out = m.find(l, r);
    return out;
  });
}
std::vector<TokenId> naive(const RankedMergeMap& m, std::vector<TokenId> s) {
  return naive_merge(std::move(s), [&](TokenId l, TokenId r, TokenId& out) {
    const RankedMerge* e = m.find(l, r);
    if (!e) return NO_TOKEN;
    out = e->merged;
    return e->rank;
  });
}

std::vector<TokenId> run_scratch(const MergeMap& m, std::vector<TokenId> s, MergeScratch& sc) {
  bpe_merge_symbols_with_scratch(m, s, sc);
  return s;
}
std::vector<TokenId> run_wide(const MergeMap& m, std::vector<TokenId> s) {
  detail::merge_long_wide(m, s);
  return s;
}
std::vector<TokenId> run_ranked(const RankedMergeMap& m, std::vector<TokenId> s) {
  bpe_merge_symbols_ranked(m, s);
  return s;
}
std::vector<TokenId> run_ranked_long(const RankedMergeMap& m, std::vector<TokenId> s) {
  detail::merge_ranked_long(m, s);
  return s;
}

}  // namespace

TEST(kernels_match_naive_on_random_tables) {
  std::mt19937_64 rng(12345);
  MergeScratch scratch;  // shared across all runs: reuse must not leak state
  int runs = 0;
  for (int table = 0; table < 300; ++table) {
    const TokenId alphabet = 2 + rng() % 7;
    const int n_merges = rng() % 40;
    MergeMap mm;
    RankedMergeMap rm;
    std::vector<TokenId> known;
    for (TokenId a = 0; a < alphabet; ++a) known.push_back(a);
    TokenId next_id = alphabet;
    for (int k = 0; k < n_merges; ++k) {
      // Pairs over known tokens, so merges create pairs that merge again.
      TokenId l = known[rng() % known.size()], r = known[rng() % known.size()];
      // Occasionally reuse a merged id (ties between different pairs).
      TokenId merged = (k > 0 && rng() % 6 == 0) ? next_id - 1 : next_id++;
      if (mm.insert(l, r, merged)) known.push_back(merged);
      // Ranks with frequent ties; merged ids unrelated to the rank.
      rm.insert(l, r, 1000 + TokenId(rng() % 5000), uint32_t(rng() % (n_merges / 2 + 1)));
    }
    for (int rep = 0; rep < 8; ++rep) {
      const size_t len = rng() % 201;
      std::vector<TokenId> s(len);
      for (auto& x : s) x = TokenId(rng() % alphabet);
      const auto want = naive(mm, s);
      CHECK(run_scratch(mm, s, scratch) == want);
      CHECK(run_wide(mm, s) == want);
      // The same content cut to 32 and 33 symbols crosses the path boundary.
      for (size_t cut : {size_t(32), size_t(33)}) {
        if (s.size() < cut) continue;
        std::vector<TokenId> t(s.begin(), s.begin() + cut);
        CHECK(run_scratch(mm, t, scratch) == naive(mm, t));
      }
      const auto want_r = naive(rm, s);
      CHECK(run_ranked(rm, s) == want_r);
      CHECK(run_ranked_long(rm, s) == want_r);
      ++runs;
    }
  }
  CHECK(runs > 0);
}

// Ids around 256 mix pairs answered by the direct byte-pair array with pairs
// answered by the hash table; the reference keeps its own std::map, so a
// wrong entry in either structure shows.
TEST(kernels_match_naive_across_small_id_bound) {
  std::mt19937_64 rng(777);
  MergeScratch scratch;
  int runs = 0;
  for (int table = 0; table < 300; ++table) {
    const TokenId bases[] = {0, 250, 253, 255, 256, 70000};
    const TokenId base = bases[rng() % std::size(bases)];
    const TokenId alphabet = 2 + rng() % 7;
    const int n_merges = rng() % 40;
    MergeMap mm;
    std::map<std::pair<TokenId, TokenId>, TokenId> ref;
    std::vector<TokenId> known;
    for (TokenId a = 0; a < alphabet; ++a) known.push_back(base + a);
    TokenId next_id = base + alphabet;
    for (int k = 0; k < n_merges; ++k) {
      TokenId l = known[rng() % known.size()], r = known[rng() % known.size()];
      // Merged ids sometimes fall below the base, inside the byte range.
      TokenId merged = rng() % 4 == 0 ? TokenId(rng() % 256) : next_id++;
      const bool added = mm.insert(l, r, merged);
      CHECK(added == ref.emplace(std::pair{l, r}, merged).second);
      if (added) known.push_back(merged);
    }
    for (int rep = 0; rep < 8; ++rep) {
      const size_t len = rng() % 80;
      std::vector<TokenId> s(len);
      for (auto& x : s) x = known[rng() % known.size()];
      const auto want = naive_merge(s, [&](TokenId l, TokenId r, TokenId& out) {
        auto it = ref.find({l, r});
        out = it == ref.end() ? NO_TOKEN : it->second;
        return out;
      });
      CHECK(run_scratch(mm, s, scratch) == want);
      CHECK(run_wide(mm, s) == want);
      for (size_t i = 0; i + 1 < s.size(); ++i) {
        auto it = ref.find({s[i], s[i + 1]});
        CHECK(mm.find(s[i], s[i + 1]) == (it == ref.end() ? NO_TOKEN : it->second));
      }
      ++runs;
    }
  }
  CHECK(runs > 0);
}

TEST(kernel_edge_cases) {
  MergeScratch sc;
  MergeMap m;
  m.insert(7, 7, 10);  // only (x, x) merges
  struct Case {
    std::vector<TokenId> in, want;
  };
  const Case cases[] = {
      {{}, {}},
      {{7}, {7}},
      {{7, 7, 7}, {10, 7}},  // leftmost pair wins the tie
      {{7, 7, 7, 7}, {10, 10}},
      {{1, 2, 3}, {1, 2, 3}},
  };
  for (const auto& c : cases) {
    CHECK(run_scratch(m, c.in, sc) == c.want);
    CHECK(run_wide(m, c.in) == c.want);
  }
  MergeMap empty;
  std::vector<TokenId> s{1, 2, 3, 1, 2};
  CHECK(run_scratch(empty, s, sc) == s);
  RankedMergeMap rempty;
  CHECK(run_ranked(rempty, s) == s);

  // Two equal-priority pairs far apart in 100 symbols: the left one first.
  MergeMap m2;
  m2.insert(1, 2, 50);
  m2.insert(50, 3, 60);  // only reachable if (1,2) merged first at that spot
  m2.insert(2, 3, 55);
  std::vector<TokenId> h(100, 9);
  h[10] = 1, h[11] = 2, h[12] = 3;
  h[80] = 1, h[81] = 2, h[82] = 3;
  auto got = run_scratch(m2, h, sc);
  CHECK(got == naive(m2, h));
  CHECK(got.size() == 96);
  CHECK(got[10] == 60);

  // A pair created by a merge with lower priority than the pending ones is
  // merged next: (a b) -> 5 makes (5 c) -> 6 which beats (c d) -> 7.
  MergeMap m3;
  m3.insert(0, 1, 5);
  m3.insert(5, 2, 6);
  m3.insert(2, 3, 7);
  std::vector<TokenId> t{0, 1, 2, 3};
  CHECK((run_scratch(m3, t, sc) == std::vector<TokenId>{6, 3}));
  std::vector<TokenId> t40(40, 9);
  t40[20] = 0, t40[21] = 1, t40[22] = 2, t40[23] = 3;
  auto g40 = run_scratch(m3, t40, sc);
  CHECK(g40.size() == 38 && g40[20] == 6 && g40[21] == 3);

  // Ranked: rank orders, merged id is what the pair becomes.
  RankedMergeMap rm;
  rm.insert(0, 1, 100, 2);
  rm.insert(1, 2, 200, 1);
  std::vector<TokenId> u{0, 1, 2};
  CHECK((run_ranked(rm, u) == std::vector<TokenId>{0, 200}));
}

TEST(merge_map_copies_share_until_written) {
  MergeMap a;
  a.insert(1, 2, 3);
  MergeMap b = a;
  CHECK(&a.table() == &b.table());
  b.insert(3, 3, 4);
  CHECK(&a.table() != &b.table());
  CHECK_EQ(a.size(), size_t(1));
  CHECK_EQ(b.size(), size_t(2));
  CHECK_EQ(a.find(3, 3), NO_TOKEN);
  CHECK_EQ(b.find(1, 2), TokenId(3));
  CHECK(!a.insert(1, 2, 9));  // first insert of a pair wins
  CHECK_EQ(a.find(1, 2), TokenId(3));
}

namespace {
std::vector<ByteStr> byte_vocab(const std::vector<int>& order) {
  std::vector<ByteStr> v;
  for (int b : order) v.push_back(make_bytes(std::string(1, char(b))));
  return v;
}
}  // namespace

TEST(byte_remapping) {
  std::vector<int> order;
  for (int b = 0; b < 256; ++b) order.push_back(b);
  {
    auto r = ByteRemapping::from_byte_vocab(byte_vocab(order));
    CHECK(r.ok() && !r->has_value());
  }
  {
    auto rev = order;
    std::reverse(rev.begin(), rev.end());
    auto r = ByteRemapping::from_byte_vocab(byte_vocab(rev));
    CHECK(r.ok() && r->has_value());
    if (r.ok() && r->has_value()) CHECK_EQ((**r)[0], TokenId(255));
  }
  {
    auto missing = order;
    missing.erase(missing.begin() + 10);
    auto r = ByteRemapping::from_byte_vocab(byte_vocab(missing));
    CHECK(!r.ok());
    if (!r.ok()) CHECK_EQ(r.error().message, std::string("Byte remapping failed: no single-byte vocab entry for byte 0x0a"));
  }
  {
    // Bytes that never occur in UTF-8 may be missing; they map to id 0.
    std::vector<ByteStr> v;
    for (int b = 0; b < 256; ++b) {
      if (b == 0xC0 || b == 0xC1 || b >= 0xF5) continue;
      v.push_back(make_bytes(std::string(1, char(b))));
    }
    auto r = ByteRemapping::from_byte_vocab(v);
    CHECK(r.ok() && r->has_value());
    if (r.ok() && r->has_value()) {
      CHECK_EQ((**r)[0xC0], TokenId(0));
      CHECK_EQ((**r)[0xFF], TokenId(0));
      CHECK_EQ((**r)[0xC2], TokenId(0xC0));
    }
  }
  {
    // The same single byte twice (with a multi-byte token and a hole between):
    // the lower id is used.
    auto v = byte_vocab(order);
    v.push_back(make_bytes(std::string_view("ab")));
    v.push_back(make_bytes(std::string_view("")));
    v.push_back(make_bytes(std::string_view("a")));
    auto r = ByteRemapping::from_byte_vocab(v);
    CHECK(r.ok() && !r->has_value());
  }
  {
    auto r = ByteRemapping::from_byte_vocab({});
    CHECK(!r.ok());
    if (!r.ok()) CHECK_EQ(r.error().message, std::string("Byte remapping failed: no single-byte vocab entry for byte 0x00"));
  }
}

TEST_MAIN()
