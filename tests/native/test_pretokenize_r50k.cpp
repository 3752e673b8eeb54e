#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "pretokenize/fast/r50k.h"
#include "pretokenize_test_util.h"

using namespace morvik::pretokenize;
using ptest::pieces;
using ptest::r50k_scalar_spans;
using ptest::r50k_spans;
using Pieces = std::vector<std::string>;

static Pieces split(const std::string& text) { return pieces(text, r50k_spans(text)); }

TEST(r50k_documented_examples) {
  struct Case {
    std::string text;
    Pieces want;
  };
  const Case cases[] = {
      {"Hello world", {"Hello", " world"}},
      {"I'm", {"I", "'m"}},
      {"I'M", {"I", "'", "M"}},
      {"we'll", {"we", "'ll"}},
      {"a 's", {"a", " '", "s"}},
      {"a  b", {"a", " ", " b"}},
      {"a\t\tb", {"a", "\t", "\t", "b"}},
      {"a \nb", {"a", " ", "\n", "b"}},
      {"a  ", {"a", "  "}},
      {"x\xC2\xA0y", {"x", "\xC2\xA0", "y"}},
      {"123abc", {"123", "abc"}},
      {"abc123", {"abc", "123"}},
      {"?!x", {"?!", "x"}},
      {" ?!", {" ?!"}},
      {"\xC3\xA9x", {"\xC3\xA9x"}},
      {"e\xCC\x81", {"e", "\xCC\x81"}},
      {"", {}},
      {"a", {"a"}},
      {" ", {" "}},
      {"'", {"'"}},
      {"'s's", {"'s", "'s"}},
      {"x'd'll've", {"x", "'d", "'ll", "'ve"}},
      {"?'s", {"?'", "s"}},
      {"it's", {"it", "'s"}},
      {"'lx", {"'", "lx"}},
      {"'rex", {"'re", "x"}},
      {" \t a", {" \t", " a"}},
      {"\xE3\x80\x80\xE3\x80\x80x", {"\xE3\x80\x80", "\xE3\x80\x80", "x"}},
      {"  \xE3\x80\x80", {"  \xE3\x80\x80"}},
      {" 42 \xD9\xA3", {" 42", " \xD9\xA3"}},
  };
  for (const Case& c : cases) {
    Pieces got = split(c.text);
    if (got != c.want) std::printf("  text \"%s\"\n", c.text.c_str());
    CHECK(got == c.want);
    CHECK(pieces(c.text, r50k_scalar_spans(c.text)) == c.want);
  }
}

TEST(r50k_long_runs_and_block_positions) {
  std::string letters(200, 'q');
  CHECK(split(letters) == Pieces{letters});
  std::string five_hundred(500, 'x');
  std::string t = "a " + five_hundred + " b";
  CHECK((split(t) == Pieces{"a", " " + five_hundred, " b"}));
  // A contraction lands on the same pieces wherever it sits in a block.
  for (size_t bit = 0; bit < 140; ++bit) {
    std::string s(bit, 'w');
    s += "'s";
    s += std::string(150, 'k');
    Pieces want;
    if (bit) want.push_back(std::string(bit, 'w'));
    want.push_back("'s");
    want.push_back(std::string(150, 'k'));
    Pieces got = split(s);
    if (got != want) std::printf("  apostrophe at %zu\n", bit);
    CHECK(got == want);
  }
}

// The block driver must give exactly the scalar matcher's pieces; lengths
// around the 64/70/128/134 thresholds with wide white space at the borders.
TEST(r50k_blocks_match_scalar_at_thresholds) {
  const char* ideo_space = "\xE3\x80\x80";
  const char* fillers[] = {"a", " ", "\t", "'", "9", "\xC3\xA9", ideo_space};
  for (size_t len : {63, 64, 65, 69, 70, 71, 127, 128, 133, 134, 135, 200}) {
    for (size_t at = 0; at + 3 <= len; ++at) {
      for (const char* f : fillers) {
        std::string s;
        while (s.size() < at) s += f;
        s.resize(at);  // may cut a filler character; the rest stays valid below
        while (!s.empty() && (static_cast<unsigned char>(s.back()) & 0xC0) == 0x80) s.pop_back();
        while (!s.empty() && static_cast<unsigned char>(s.back()) >= 0xC0) s.pop_back();
        s += ideo_space;
        while (s.size() < len) s += (s.size() % 7 == 0) ? " " : "b";
        auto fast = r50k_spans(s);
        auto slow = r50k_scalar_spans(s);
        if (!(fast == slow)) std::printf("  len %zu at %zu filler %s\n", len, at, f);
        CHECK(fast == slow);
      }
    }
  }
}

TEST(r50k_random_valid_text_matches_scalar_and_resumes) {
  std::mt19937_64 rng(12345);
  for (int round = 0; round < 400; ++round) {
    std::string s = ptest::random_text(rng, 1 + rng() % 600);
    auto fast = r50k_spans(s);
    auto slow = r50k_scalar_spans(s);
    CHECK(ptest::tiles(fast, 0, s.size()));
    if (!(fast == slow)) {
      std::printf("  round %d differs\n", round);
      CHECK(fast == slow);
      continue;
    }
    // Resuming at any pretoken boundary gives the same spans from there on.
    for (size_t k = 0; k < fast.size(); k += 1 + fast.size() / 8) {
      auto rest = r50k_spans(s, fast[k].offset);
      CHECK(std::vector<PretokenSpan>(fast.begin() + k, fast.end()) == rest);
    }
  }
}

// Bytes that are not UTF-8: the pieces still tile the text and nothing is
// read outside it (the texts sit in exact-size heap blocks for the sanitizer).
TEST(r50k_invalid_bytes_tile_from_every_offset) {
  std::mt19937_64 rng(777);
  const unsigned char tails[] = {0xC3, 0xE3, 0xE3, 0x80, 0xF0, 0x9F, 0x98, 0xFF, 0xF8, 0x80, 0xBF, 0xC0, 0xC1, 0xED};
  for (int round = 0; round < 300; ++round) {
    std::string s;
    size_t n = rng() % 300;
    int mode = round % 3;
    for (size_t i = 0; i < n; ++i) {
      if (mode == 0) s += static_cast<char>(rng() & 0xFF);
      else if (mode == 1) s += static_cast<char>(tails[rng() % sizeof tails]);
      else s += (rng() % 3) ? static_cast<char>("ab '\t\n9"[rng() % 7]) : static_cast<char>(0x80 | (rng() & 0x7F));
    }
    // Truncated sequences right at the end.
    if (round % 4 == 1) s += static_cast<char>(0xF0);
    if (round % 4 == 2) s += "\xE3\x80";
    if (round % 4 == 3) s += "\xF0\x9F\x98";
    for (size_t start = 0; start <= s.size(); start += (s.size() > 80 ? 7 : 1)) {
      auto spans = r50k_spans(s, start);
      CHECK(ptest::tiles(spans, start, s.size()));
      CHECK(ptest::tiles(r50k_scalar_spans(s, start), start, s.size()));
    }
  }
}

TEST(r50k_truncated_characters_at_the_end) {
  const char* cases[] = {"abc\xE3", "abc\xE3\x80", "\xF0\x9F\x98", "x \xC3", "'\xF0", " \xE3\x80"};
  for (const char* c : cases) {
    std::string s(c);
    for (size_t pad : {0, 64, 70, 130}) {
      std::string t = std::string(pad, 'a') + s;
      CHECK(ptest::tiles(r50k_spans(t), 0, t.size()));
    }
  }
}

TEST(r50k_next_keeps_returning_none) {
  std::string s = "hi there";
  ptest::Exact e(s);
  FastR50kPretokenizer p(e.view());
  int n = 0;
  while (p.next()) ++n;
  CHECK_EQ(n, 2);
  CHECK(!p.next().has_value());
  CHECK(!p.next().has_value());
}

TEST_MAIN()
