// Plain-text documents and chunk ranges: the documents of a file are the same
// whether it is read whole or range by range, for every target size.
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "input/mod.h"
#include "input/range_documents.h"

using namespace morvik::input;

namespace {

std::vector<std::string> docs(std::string_view text, std::string_view sep, std::size_t start, std::size_t end) {
  std::vector<std::string> out;
  DocumentIter it(text, sep, start, end);
  while (auto d = it.next()) out.emplace_back(*d);
  CHECK(!it.next());  // stays finished
  return out;
}

std::vector<std::string> docs(std::string_view text, std::string_view sep) {
  return docs(text, sep, 0, text.size());
}

using Docs = std::vector<std::string>;

// Reads every range of chunk_ranges and checks that the ranges tile the data
// and give exactly the documents of one pass over all of it.
void check_ranges_keep_documents(const std::string& text, const std::string& sep, std::size_t target) {
  const auto ranges = chunk_ranges(text, DocFormat::text(sep), target);
  CHECK(!ranges.empty());
  Docs joined;
  std::size_t prev_end = 0;
  for (std::size_t i = 0; i < ranges.size(); ++i) {
    const auto& r = ranges[i];
    CHECK(r.start <= r.end && r.end <= text.size());
    if (i == 0) CHECK(r.start == 0);
    else CHECK(r.start == prev_end + sep.size() && text.compare(prev_end, sep.size(), sep) == 0);
    if (i + 1 < ranges.size()) CHECK(r.end - r.start >= target);
    prev_end = r.end;
    for (auto& d : docs(text, sep, r.start, r.end)) joined.push_back(std::move(d));
  }
  // The last range ends the data, or ends at a separator that ends the data.
  CHECK(prev_end == text.size() || prev_end + sep.size() == text.size());
  const Docs whole = docs(text, sep);
  if (joined != whole) std::printf("  sep=%s target=%zu len=%zu\n", sep.c_str(), target, text.size());
  CHECK(joined == whole);
}

}  // namespace

TEST(separator_cases) {
  struct Case {
    const char* text;
    const char* sep;
    Docs want;
  };
  const std::vector<Case> cases = {
      {"a##b####c##", "##", {"a", "b", "c"}},
      {"##", "##", {}},
      {"abc", "##", {"abc"}},
      {"", "##", {}},
      {"#", "##", {"#"}},
      {"##a", "##", {"a"}},
      {"a##", "##", {"a"}},
      {"a###b", "##", {"a", "#b"}},  // occurrences are taken left to right
      {"a|b||c|", "|", {"a", "b", "c"}},
      {"|||", "|", {}},
      {"abc", "abc", {}},
      {"xabcabcx", "abc", {"x", "x"}},
      {"abcab", "abc", {"ab"}},
      {"only text", "", {"only text"}},
      {"", "", {}},
  };
  for (const auto& c : cases) {
    const Docs got = docs(c.text, c.sep);
    if (got != c.want) std::printf("  text=%s sep=%s\n", c.text, c.sep);
    CHECK(got == c.want);
  }
  // A range of a larger buffer: the iterator never reads outside it.
  const std::string buf = "xx|a|b|yy";
  CHECK((docs(buf, "|", 3, 6) == Docs{"a", "b"}));
  CHECK((docs(buf, "", 3, 6) == Docs{"a|b"}));
  CHECK(docs(buf, "", 4, 4).empty());
  CHECK((docs(buf, "|", 0, 100) == Docs{"xx", "a", "b", "yy"}));  // end clamped
}

TEST(chunk_range_cases) {
  const std::string lines = "aaaaaaaaa\nbbbbbbbbb\nccccccccc\n";
  CHECK((chunk_ranges(lines, DocFormat::jsonl(), 5) == std::vector<ByteRange>{{0, 10}, {10, 20}, {20, 30}}));
  CHECK((chunk_ranges(lines, DocFormat::jsonl(), 100) == std::vector<ByteRange>{{0, 30}}));
  CHECK((chunk_ranges(lines.substr(0, 29), DocFormat::jsonl(), 5) ==
         std::vector<ByteRange>{{0, 10}, {10, 20}, {20, 29}}));
  CHECK((chunk_ranges("", DocFormat::jsonl(), 5) == std::vector<ByteRange>{{0, 0}}));
  CHECK((chunk_ranges("aaaa|bbbb|cccc", DocFormat::text("|"), 2) ==
         std::vector<ByteRange>{{0, 4}, {5, 9}, {10, 14}}));
  CHECK((chunk_ranges("aaaa|bbbb|", DocFormat::text("|"), 2) == std::vector<ByteRange>{{0, 4}, {5, 9}}));
  CHECK((chunk_ranges("", DocFormat::text("|"), 2) == std::vector<ByteRange>{{0, 0}}));
  CHECK((chunk_ranges("a|b|c", DocFormat::text(), 1) == std::vector<ByteRange>{{0, 5}}));
  CHECK((chunk_ranges("a|b|c", DocFormat::text(""), 1) == std::vector<ByteRange>{{0, 5}}));
  // A run of an overlapping separator is never cut inside: "x###y" is "x", "#y".
  CHECK((chunk_ranges("x###y", DocFormat::text("##"), 2) == std::vector<ByteRange>{{0, 5}}));
  CHECK((chunk_ranges("x###y##z", DocFormat::text("##"), 2) == std::vector<ByteRange>{{0, 5}, {7, 8}}));
  // Huge targets do not overflow.
  CHECK((chunk_ranges(lines, DocFormat::jsonl(), SIZE_MAX) == std::vector<ByteRange>{{0, 30}}));
  CHECK((chunk_ranges("a|b", DocFormat::text("|"), SIZE_MAX) == std::vector<ByteRange>{{0, 3}}));
}

TEST(ranges_keep_every_document_for_every_target) {
  std::mt19937 rng(99);
  // Alphabets rich in separator bytes, so that runs and partial matches are
  // common; separators with and without self-overlap.
  const std::vector<std::pair<std::string, std::string>> setups = {
      {"|", "ab|"}, {"##", "a#"}, {"\n\n", "x\n"}, {"aba", "ab"}, {"<|endoftext|>", "ab<|endoftext"},
      {"aaa", "ab"}, {"abcab", "abc"},
  };
  for (const auto& [sep, alphabet] : setups) {
    for (int trial = 0; trial < 40; ++trial) {
      std::string text;
      const std::size_t n = rng() % 300;
      while (text.size() < n) {
        if (rng() % 8 == 0) text += sep;
        else text += alphabet[rng() % alphabet.size()];
      }
      for (std::size_t target : {0, 1, 2, 3, 5, 8, 13, 40, 1000}) check_ranges_keep_documents(text, sep, target);
    }
  }
}

TEST(jsonl_ranges_end_after_line_breaks) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 200; ++trial) {
    std::string text;
    const std::size_t n = rng() % 200;
    while (text.size() < n) text += rng() % 5 == 0 ? '\n' : 'x';
    for (std::size_t target : {0, 1, 4, 17, 500}) {
      const auto ranges = chunk_ranges(text, DocFormat::jsonl(), target);
      std::size_t c = 0;
      for (std::size_t i = 0; i < ranges.size(); ++i) {
        CHECK(ranges[i].start == c);
        if (i + 1 < ranges.size()) {
          CHECK(ranges[i].end > ranges[i].start && text[ranges[i].end - 1] == '\n');
          CHECK(ranges[i].end - ranges[i].start >= target);
        }
        c = ranges[i].end;
      }
      CHECK(c == text.size());
    }
  }
}

TEST(one_loop_for_every_format) {
  const std::string text = "a|b||c";
  std::vector<std::string> got;
  auto st = for_each_document(text, ByteRange{0, text.size()}, DocFormat::text("|"),
                              [&](std::string_view d) { got.emplace_back(d); });
  CHECK((got == std::vector<std::string>{"a", "b", "c"}) && !st.bad);
  const std::string lines = "{\"text\":\"x\"}\n\n{\"f\":\"y\"}\n{\"text\":\"z\"}\n";
  got.clear();
  st = for_each_document(lines, ByteRange{0, lines.size()}, DocFormat::jsonl(),
                         [&](std::string_view d) { got.emplace_back(d); });
  CHECK((got == std::vector<std::string>{"x"}));
  CHECK(st.bad && st.bad->line == 3 && st.bad->fault == JsonlFault::FieldMissing && st.lines == 3);
}

TEST_MAIN()
