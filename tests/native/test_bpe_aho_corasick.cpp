// The leftmost-longest matcher against a naive search, in both forms.
#include <memory>
#include <random>
#include <string>

#include "bpe/aho_corasick.h"
#include "check.h"

using namespace morvik::bpe;

namespace {

std::optional<AcMatch> naive_find(const std::vector<std::string>& pats, std::string_view text, size_t from) {
  for (size_t s = from; s < text.size(); ++s) {
    std::optional<AcMatch> best;
    for (uint32_t k = 0; k < pats.size(); ++k) {
      const auto& p = pats[k];
      if (p.empty() || text.substr(s, p.size()) != p) continue;
      if (!best || p.size() > best->end - best->start) best = AcMatch{k, s, s + p.size()};
    }
    if (best) return best;
  }
  return std::nullopt;
}

bool same(const std::optional<AcMatch>& a, const std::optional<AcMatch>& b) {
  if (!a || !b) return !a && !b;
  return a->pattern == b->pattern && a->start == b->start && a->end == b->end;
}

std::vector<std::string_view> views(const std::vector<std::string>& v) { return {v.begin(), v.end()}; }

}  // namespace

TEST(random_patterns_match_naive_search) {
  std::mt19937_64 rng(7);
  for (int round = 0; round < 400; ++round) {
    const int alphabet = 2 + int(rng() % 4);
    const int n_pats = 1 + int(rng() % 12);
    std::vector<std::string> pats;
    for (int k = 0; k < n_pats; ++k) {
      std::string p;
      const int len = int(rng() % 6);  // includes empty patterns, which never match
      for (int i = 0; i < len; ++i) p += char('a' + rng() % alphabet);
      pats.push_back(p);
    }
    if (rng() % 4 == 0) pats.push_back(pats[0]);  // a duplicate: the first wins
    for (size_t limit : {AhoCorasick::kDefaultDenseLimit, size_t(0)}) {
      const AhoCorasick ac(views(pats), limit);
      CHECK_EQ(ac.is_dense(), limit != 0);
      for (int t = 0; t < 10; ++t) {
        std::string text;
        const int len = int(rng() % 60);
        for (int i = 0; i < len; ++i) text += char('a' + rng() % (alphabet + 1));  // some bytes never in patterns
        for (size_t from = 0; from <= text.size(); from += 1 + rng() % 5)
          CHECK(same(ac.find(text, from), naive_find(pats, text, from)));
      }
    }
  }
}

TEST(semantics_cases) {
  struct Case {
    std::vector<std::string> pats;
    std::string text;
    std::optional<AcMatch> want;
  };
  const std::vector<Case> cases = {
      {{"<|endoftext|>"}, "ab <|endoftext|> c", AcMatch{0, 3, 16}},
      {{"<|end"}, "<|en", std::nullopt},
      {{"ab", "abcd"}, "xabcde", AcMatch{1, 1, 5}},       // longest at the same start
      {{"bcdef", "ab"}, "abcdef", AcMatch{1, 0, 2}},      // earliest start beats a longer later one
      {{"abc", "abc"}, "abc", AcMatch{0, 0, 3}},          // identical: first given wins
      {{"b", "abcx"}, "abcy", AcMatch{0, 1, 2}},          // a failed longer candidate falls back
      {{"aaab", "aa"}, "aaaab", AcMatch{1, 0, 2}},
      {{"", "x"}, "yx", AcMatch{1, 1, 2}},
      {{"\n", "[", "\xe2\x96\x81", "<s>"}, "abc xyz [a", AcMatch{1, 8, 9}},  // four first bytes
      {{"\n", "[", "\xe2", "<", "{"}, "abc xyz {a", AcMatch{4, 8, 9}},       // five first bytes
  };
  for (const auto& c : cases) {
    for (size_t limit : {AhoCorasick::kDefaultDenseLimit, size_t(0)}) {
      const AhoCorasick ac(views(c.pats), limit);
      CHECK(same(ac.find(c.text, 0), c.want));
    }
  }
  // Long texts cross the 16-byte prefilter blocks; matches near the ends.
  std::vector<std::string> pats{"<|a|>", "<|bb|>", "\n\n", "["};
  const AhoCorasick ac(views(pats));
  for (size_t pos : {0, 1, 15, 16, 17, 31, 250, 295}) {
    std::string text(300, 'x');
    text.replace(pos, 5, "<|a|>");
    CHECK(same(ac.find(text, 0), AcMatch{0, pos, pos + 5}));
    CHECK(same(ac.find(text, pos + 1), std::nullopt));
  }
}

TEST(many_patterns) {
  // Shaped like the reserved special tokens of large vocabularies.
  std::vector<std::string> pats;
  for (int k = 0; k < 800; ++k) pats.push_back("<|reserved_special_token_" + std::to_string(k) + "|>");
  pats.push_back("<|begin_of_text|>");
  const AhoCorasick ac(views(pats));
  std::string text = "hello <|reserved_special_token_79|><|reserved_special_token_7|> <|begin_of_text|>";
  auto m = ac.find(text, 0);
  CHECK(same(m, AcMatch{79, 6, 6 + pats[79].size()}));
  auto m2 = ac.find(text, m->end);
  CHECK(same(m2, AcMatch{7, m->end, m->end + pats[7].size()}));
  auto m3 = ac.find(text, m2->end);
  CHECK(m3 && m3->pattern == 800);
  CHECK(!ac.find("<|reserved_special_token_|> <|reserved", 0));
}

TEST_MAIN()
