// Merge-table lookups: the open-addressing FlatMap against
// std::unordered_map with the same hash, on the pair lookups that encoding
// a real corpus performs (recorded first, then replayed in order).
//
// Usage: bench_flat_map RANKS_FILE CORPUS [--mb N]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "bpe/tiktoken.h"
#include "load_tokenizer/tiktoken.h"
#include "pretokenize/mod.h"

using namespace morvik;
using namespace morvik::bpe;
using Clock = std::chrono::steady_clock;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s RANKS_FILE CORPUS [--mb N]\n", argv[0]);
    return 2;
  }
  size_t limit = 4u << 20;
  if (argc > 4 && !std::strcmp(argv[3], "--mb")) limit = size_t(std::atof(argv[4]) * 1048576);
  auto ranks = load_tokenizer::load_tiktoken(argv[1]);
  if (!ranks.ok()) return 1;
  auto tok = Tokenizer::from_ranks(std::move(*ranks));
  if (!tok.ok()) return 1;
  std::string text;
  {
    FILE* f = std::fopen(argv[2], "rb");
    if (!f) return 1;
    text.resize(limit);
    text.resize(std::fread(text.data(), 1, limit, f));
    std::fclose(f);
  }

  // Record the lookups of a plain BPE over every distinct pretoken's bytes
  // (the cache makes repeated pretokens free, so distinct ones are the load).
  std::vector<uint64_t> queries;
  BytesKeyMap<char> seen;
  std::vector<TokenId> s;
  pretokenize::for_each_pretoken(pretokenize::PretokenizerKind::R50k, text, [&](size_t off, size_t len) {
    std::string_view piece(text.data() + off, len);
    if (!seen.insert(piece, 0)) return;
    s.clear();
    for (unsigned char c : piece) s.push_back(tok->byte_remapping ? (*tok->byte_remapping)[c] : c);
    for (;;) {
      TokenId best = NO_TOKEN;
      size_t bi = 0;
      for (size_t i = 0; i + 1 < s.size(); ++i) {
        queries.push_back(pair_key(s[i], s[i + 1]));
        TokenId m = tok->merges.find(s[i], s[i + 1]);
        if (m < best) best = m, bi = i;
      }
      if (best == NO_TOKEN) break;
      s[bi] = best;
      s.erase(s.begin() + bi + 1);
    }
  });

  struct H {
    size_t operator()(uint64_t k) const noexcept { return hash_u64(k); }
  };
  std::unordered_map<uint64_t, TokenId, H> um;
  um.reserve(tok->merges.size());
  tok->merges.for_each([&](TokenId l, TokenId r, TokenId m) { um.emplace(pair_key(l, r), m); });
  const MergeMap::Table& fm = tok->merges.table();

  auto time_it = [&](auto&& lookup) {
    double best = 1e30;
    uint64_t sum = 0;
    for (int rep = 0; rep < 5; ++rep) {
      const auto t0 = Clock::now();
      for (uint64_t q : queries) sum += lookup(q);
      best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
    }
    return std::make_pair(best * 1e9 / double(queries.size()), sum);
  };
  auto [flat_ns, a] = time_it([&](uint64_t q) -> uint64_t {
    const TokenId* v = fm.find(q);
    return v ? *v : NO_TOKEN;
  });
  auto [std_ns, b] = time_it([&](uint64_t q) -> uint64_t {
    auto it = um.find(q);
    return it == um.end() ? NO_TOKEN : it->second;
  });
  if (a != b) {
    std::fprintf(stderr, "lookup results differ\n");
    return 1;
  }
  std::printf("%zu lookups over %zu merges, threads: 1\n", queries.size(), um.size());
  std::printf("FlatMap %.2f ns/lookup, std::unordered_map %.2f ns/lookup, ratio (ours / std) %.2f\n", flat_ns, std_ns,
              flat_ns / std_ns);
  return 0;
}
