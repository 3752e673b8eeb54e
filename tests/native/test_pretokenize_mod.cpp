#include <random>
#include <string>
#include <unordered_map>
#include <vector>

#include "check.h"
#include "pretokenize/mod.h"
#include "pretokenize_test_util.h"

using namespace morvik::pretokenize;

static std::vector<PretokenSpan> dispatch_spans(PretokenizerKind kind, std::string_view text) {
  FastPretokenizerDispatch d(kind, text);
  std::vector<PretokenSpan> out;
  while (auto s = d.next()) out.push_back(*s);
  CHECK(!d.next().has_value());
  return out;
}

static std::vector<PretokenSpan> callback_spans(PretokenizerKind kind, std::string_view text) {
  std::vector<PretokenSpan> out;
  for_each_pretoken(kind, text, [&](size_t o, size_t l) { out.push_back({o, l}); });
  return out;
}

TEST(dispatch_and_callback_agree_with_the_scanner) {
  std::mt19937_64 rng(99);
  for (size_t len : {0, 1, 63, 64, 69, 70, 127, 128, 133, 134, 1000}) {
    std::string s = ptest::random_text(rng, len);
    s.resize(len);
    while (!s.empty() && static_cast<unsigned char>(s.back()) >= 0x80) s.pop_back();
    ptest::Exact e(s);
    auto direct = ptest::r50k_spans(s);
    CHECK(ptest::tiles(direct, 0, s.size()));
    CHECK(dispatch_spans(PretokenizerKind::R50k, e.view()) == direct);
    CHECK(callback_spans(PretokenizerKind::R50k, e.view()) == direct);
  }
  CHECK(dispatch_spans(PretokenizerKind::R50k, "").empty());
  CHECK(callback_spans(PretokenizerKind::R50k, "").empty());
  CHECK((dispatch_spans(PretokenizerKind::R50k, "x") == std::vector<PretokenSpan>{{0, 1}}));
}

TEST(kind_without_scanner_keeps_the_whole_text) {
  CHECK((dispatch_spans(PretokenizerKind::None, "ab cd") == std::vector<PretokenSpan>{{0, 5}}));
  CHECK((callback_spans(PretokenizerKind::None, "ab cd") == std::vector<PretokenSpan>{{0, 5}}));
  CHECK(dispatch_spans(PretokenizerKind::None, "").empty());
}

static std::string joined(std::string_view text, const std::vector<std::pair<size_t, size_t>>& r) {
  std::string out;
  size_t at = 0;
  for (auto [a, b] : r) {
    CHECK_EQ(a, at);
    CHECK(b > a);
    out += text.substr(a, b - a);
    at = b;
  }
  return out;
}

static bool candidate(std::string_view t, size_t c) {
  auto letter = [](unsigned char b) { return (b | 0x20) >= 'a' && (b | 0x20) <= 'z'; };
  auto alnum = [&](unsigned char b) { return letter(b) || (b >= '0' && b <= '9'); };
  return c >= 1 && c + 1 < t.size() && t[c] == ' ' && alnum(t[c - 1]) && letter(t[c + 1]);
}

TEST(safe_split_cuts_at_first_candidate_after_each_target) {
  const size_t MiB = 1 << 20;
  std::string text;
  for (size_t i = 0; text.size() < 3 * MiB; ++i) {
    if (i) text += ' ';
    text += (i % 3 == 2) ? "12" : "ab";
  }
  auto r = safe_split_ranges(text, MiB, {});
  CHECK(joined(text, r) == text);
  CHECK(r.size() >= 3);
  size_t piece = 0;
  for (size_t k = 0; k + 1 < r.size(); ++k) {
    size_t c = piece + MiB;
    while (!candidate(text, c)) ++c;
    CHECK_EQ(r[k].second, c);
    piece = c;
  }
  // Pieces pretokenize exactly as the whole.
  auto whole = ptest::r50k_spans(text);
  std::vector<PretokenSpan> parts;
  for (auto [a, b] : r)
    for (auto s : ptest::r50k_spans(std::string_view(text).substr(a, b - a))) parts.push_back({s.offset + a, s.length});
  CHECK(parts == whole);
}

TEST(safe_split_without_candidates_is_one_piece) {
  std::string none(5000, 'x');
  CHECK((safe_split_ranges(none, 100, {}) == std::vector<std::pair<size_t, size_t>>{{0, 5000}}));
  std::string digits_after;
  while (digits_after.size() < 5000) digits_after += "ab 12.";
  CHECK((safe_split_ranges(digits_after, 100, {}) == std::vector<std::pair<size_t, size_t>>{{0, digits_after.size()}}));
  CHECK((safe_split_ranges("", 100, {}) == std::vector<std::pair<size_t, size_t>>{{0, 0}}));
}

TEST(safe_split_never_cuts_inside_an_added_token) {
  // Candidate at 10 is the space inside "a b": the cut moves to the next candidate.
  std::string text = "xxxxxxxxxa bxxxxxxx yyyyyy";
  auto r = safe_split_ranges(text, 10, {"a b"});
  CHECK_EQ(r[0].second, size_t{19});
  // Overlapping occurrences: "a a" at 0 ends at the candidate at 3, the one at 2 straddles it.
  std::string t2 = "a a a" + std::string(20, 'b') + " cc";
  auto r2 = safe_split_ranges(t2, 3, {"a a", "q q q"});
  CHECK(r2[0].second != 3);
  CHECK(joined(t2, r2) == t2);
}

TEST(pretoken_keys_compare_and_hash_as_bytes) {
  std::string a = "hello hello";
  Pretoken p{a.data(), 5}, q{a.data() + 6, 5}, r{a.data(), 4};
  CHECK(p == q);
  CHECK(!(p == r));
  CHECK_EQ(PretokenHash{}(p), PretokenHash{}(q));
  std::unordered_map<Pretoken, uint64_t, PretokenHash> counts;
  ++counts[p];
  ++counts[q];
  ++counts[r];
  CHECK_EQ(counts.size(), size_t{2});
  CHECK_EQ(counts[p], uint64_t{2});
}

TEST_MAIN()
