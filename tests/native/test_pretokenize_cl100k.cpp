// The cl100k-family scanners (Cl100k, Qwen2, Qwen3.5, OLMo 3): documented
// pieces per kind, block masks against the scalar matcher alone around the
// block thresholds and at every offset, resuming, and safety on bytes that
// are not UTF-8 (run under ASan/UBSan with exact-size heap copies).
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "pretokenize/fast/cl100k.h"
#include "pretokenize/fast/olmo3.h"
#include "pretokenize/fast/qwen2.h"
#include "pretokenize/fast/qwen3_5.h"
#include "pretokenize/mod.h"
#include "pretokenize_test_util.h"

using namespace morvik::pretokenize;
using ptest::pieces;
using Pieces = std::vector<std::string>;
using Spans = std::vector<PretokenSpan>;

template <class P>
static Spans fast_spans(std::string_view text, size_t start = 0) {
  ptest::Exact e(text);
  FastCl100kFamilyPretokenizer<P> s(e.view(), start);
  Spans out;
  while (auto sp = s.next()) out.push_back(*sp);
  return out;
}

template <class P>
static Spans scalar_spans(std::string_view text, size_t start = 0) {
  ptest::Exact e(text);
  const auto* t = reinterpret_cast<const uint8_t*>(e.buf.get());
  const uint8_t* table = cl100k_family::table_for<P>();
  Spans out;
  for (size_t x = start; x < e.n;) {
    size_t end = cl100k_family::match_end<P>(t, e.n, x, table);
    if (end <= x || end > e.n) return {};  // reported by the caller as a mismatch
    out.push_back({x, end - x});
    x = end;
  }
  return out;
}

// Runs `f.template operator()<P>(kind)` for every kind of the family.
template <class F>
static void each_kind(F&& f) {
  f.template operator()<Cl100kParams>(PretokenizerKind::Cl100k);
  f.template operator()<Qwen2Params>(PretokenizerKind::Qwen2);
  f.template operator()<Qwen3_5Params>(PretokenizerKind::Qwen3_5);
  f.template operator()<Olmo3Params>(PretokenizerKind::Olmo3);
}

static const char* kind_name(PretokenizerKind k) {
  switch (k) {
    case PretokenizerKind::Cl100k: return "cl100k";
    case PretokenizerKind::Qwen2: return "qwen2";
    case PretokenizerKind::Qwen3_5: return "qwen3_5";
    default: return "olmo3";
  }
}

TEST(cl100k_family_documented_examples) {
  // Which kinds a row applies to: C = Cl100k, Q = Qwen2, M = Qwen3_5, O = Olmo3.
  struct Case {
    const char* kinds;
    std::string text;
    Pieces want;
  };
  const Case cases[] = {
      {"CO", "12345", {"123", "45"}},
      {"QM", "12345", {"1", "2", "3", "4", "5"}},
      {"CQMO", "I'M", {"I", "'M"}},
      {"CQMO", "we'LL", {"we", "'LL"}},
      {"CQMO", "it'\xC5\xBF", {"it", "'\xC5\xBF"}},
      {"CQMO", "'sa", {"'s", "a"}},
      {"CQMO", "'x", {"'x"}},
      {"CQMO", "hello world", {"hello", " world"}},
      {"CQMO", "(hello", {"(hello"}},
      {"CQMO", "((hello", {"((", "hello"}},
      {"CQMO", " (hello", {" (", "hello"}},
      {"CQMO", "!!\n\nx", {"!!\n\n", "x"}},
      {"CQMO", "a \n b", {"a", " \n", " b"}},
      {"C", "a\n  ", {"a", "\n  "}},
      {"QMO", "a\n  ", {"a", "\n", "  "}},
      {"M", "e\xCC\x81", {"e\xCC\x81"}},
      {"CQO", "e\xCC\x81", {"e", "\xCC\x81"}},
      {"CQMO", "  ab", {" ", " ab"}},
      {"CQMO", "\t\tab", {"\t", "\tab"}},
      {"CQMO", "\nab", {"\n", "ab"}},
      {"CQMO", "", {}},
      {"CQMO", "a", {"a"}},
      {"CQMO", "'", {"'"}},
      {"CQMO", " 1", {" ", "1"}},
      {"CQMO", "x'Ve'rE", {"x", "'Ve", "'rE"}},
      {"CQMO", "!'s", {"!'", "s"}},
      {"CQMO", " 's", {" '", "s"}},
      {"CQMO", "\xE3\x80\x80x", {"\xE3\x80\x80x"}},
      {"CQMO", "!\n \n x", {"!\n", " \n", " x"}},
      {"C", "a  ", {"a", "  "}},
      {"QMO", "a \n ", {"a", " \n", " "}},
      {"CQMO", "\xE2\x84\xAA'\xE2\x84\xAA", {"\xE2\x84\xAA", "'\xE2\x84\xAA"}},  // K sign: folds to k, no contraction
  };
  each_kind([&]<class P>(PretokenizerKind kind) {
    const char tag = "?CQMO"[static_cast<int>(kind)];
    for (const Case& c : cases) {
      if (std::string_view(c.kinds).find(tag) == std::string_view::npos) continue;
      Pieces got = pieces(c.text, fast_spans<P>(c.text));
      if (got != c.want) std::printf("  %s: text \"%s\"\n", kind_name(kind), c.text.c_str());
      CHECK(got == c.want);
      CHECK(pieces(c.text, scalar_spans<P>(c.text)) == c.want);
    }
  });
}

// The block path must land on exactly the scalar matcher's pieces wherever a
// feature sits: digit runs crossing block borders (70 digits from bit 60),
// contractions near bit 63, wide white space and CR/LF runs at the borders,
// at text lengths around the 64/70/128/134 thresholds.
TEST(cl100k_family_blocks_match_scalar_at_every_offset) {
  const char* features[] = {"(70 digits)", "'s", "'LL", "'\xC5\xBF", "\xE3\x80\x80", "\r\n\r\n",
                            " \n\t", "!\n\n", "\xD9\xA3\xD9\xA4\xD9\xA5\xD9\xA6", "e\xCC\x81\xCC\x81", "  ", "(x"};
  std::string digits70(70, '7');
  each_kind([&]<class P>(PretokenizerKind kind) {
    for (size_t len : {63, 64, 65, 69, 70, 71, 127, 128, 133, 134, 135, 200}) {
      for (size_t fi = 0; fi < std::size(features); ++fi) {
        std::string feat = fi == 0 ? digits70 : features[fi];
        for (size_t at = 0; at + feat.size() <= len + 70; ++at) {
          std::string s;
          while (s.size() < at) s += (s.size() % 5 == 4) ? ' ' : 'b';
          s += feat;
          while (s.size() < len) s += (s.size() % 7 == 0) ? " " : "c";
          Spans fast = fast_spans<P>(s), slow = scalar_spans<P>(s);
          if (!(fast == slow)) std::printf("  %s: len %zu feature %zu at %zu\n", kind_name(kind), len, fi, at);
          CHECK(fast == slow);
        }
      }
    }
  });
}

TEST(cl100k_family_random_valid_text_matches_scalar_and_resumes) {
  each_kind([&]<class P>(PretokenizerKind kind) {
    std::mt19937_64 rng(4242);
    for (int round = 0; round < 400; ++round) {
      std::string s = ptest::random_text(rng, 1 + rng() % 600);
      Spans fast = fast_spans<P>(s), slow = scalar_spans<P>(s);
      CHECK(ptest::tiles(fast, 0, s.size()));
      if (!(fast == slow)) {
        std::printf("  %s: round %d differs\n", kind_name(kind), round);
        CHECK(fast == slow);
        continue;
      }
      // Resuming at any pretoken boundary gives the same spans from there on.
      for (size_t k = 0; k < fast.size(); k += 1 + fast.size() / 8)
        CHECK(Spans(fast.begin() + k, fast.end()) == fast_spans<P>(s, fast[k].offset));
    }
  });
}

// Bytes that are not UTF-8: pieces still tile the text from any start, through
// the scanner, the dispatch and the callback form, and nothing outside the
// text is read.
TEST(cl100k_family_invalid_bytes_tile_from_every_offset) {
  const unsigned char tails[] = {0xC3, 0xE3, 0xE3, 0x80, 0xF0, 0x9F, 0x98, 0xFF, 0xF8, 0x80, 0xBF, 0xC0, 0xC1, 0xED, 0xC5};
  each_kind([&]<class P>(PretokenizerKind kind) {
    std::mt19937_64 rng(99);
    for (int round = 0; round < 300; ++round) {
      std::string s;
      size_t n = rng() % 300;
      int mode = round % 3;
      for (size_t i = 0; i < n; ++i) {
        if (mode == 0) s += static_cast<char>(rng() & 0xFF);
        else if (mode == 1) s += static_cast<char>(tails[rng() % sizeof tails]);
        else s += (rng() % 3) ? "ab '\t\n\r9"[rng() % 8] : static_cast<char>(0x80 | (rng() & 0x7F));
      }
      if (round % 4 == 1) s += static_cast<char>(0xF0);
      if (round % 4 == 2) s += "'\xC5";
      if (round % 4 == 3) s += "\xF0\x9F\x98";
      for (size_t start = 0; start <= s.size(); start += (s.size() > 80 ? 7 : 1)) {
        CHECK(ptest::tiles(fast_spans<P>(s, start), start, s.size()));
        CHECK(ptest::tiles(scalar_spans<P>(s, start), start, s.size()));
      }
      ptest::Exact e(s);
      Spans via_next, via_callback;
      FastPretokenizerDispatch d(kind, e.view());
      while (auto sp = d.next()) via_next.push_back(*sp);
      for_each_pretoken(kind, e.view(), [&](size_t off, size_t n2) { via_callback.push_back({off, n2}); });
      CHECK(ptest::tiles(via_next, 0, s.size()));
      CHECK(via_next == via_callback);
    }
  });
}

TEST(cl100k_family_long_runs_and_exhaustion) {
  std::string five_hundred(500, 'x');
  std::string t = "a " + five_hundred + " b";
  each_kind([&]<class P>(PretokenizerKind kind) {
    CHECK((pieces(t, fast_spans<P>(t)) == Pieces{"a", " " + five_hundred, " b"}));
    ptest::Exact e("hi there");
    FastPretokenizerDispatch d(kind, e.view());
    int n = 0;
    while (d.next()) ++n;
    CHECK_EQ(n, 2);
    CHECK(!d.next().has_value());
    CHECK(!d.next().has_value());
  });
}

TEST_MAIN()
