// The DeepSeek V3 scanner: the documented piece boundaries, block-size and
// word-size boundaries of the fast paths, and tiling and bounds on arbitrary
// (mostly invalid) bytes. Texts are copied into exactly sized heap buffers so
// that the sanitizer build catches any read past the end.
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "pretokenize/fast/deepseek_v3.h"

using morvik::pretokenize::FastDeepSeekV3Pretokenizer;

namespace {

std::vector<std::string> pieces(const std::string& text) {
  std::unique_ptr<char[]> buf(new char[text.size() ? text.size() : 1]);
  std::memcpy(buf.get(), text.data(), text.size());
  std::string_view view(buf.get(), text.size());
  FastDeepSeekV3Pretokenizer scan(view);
  std::vector<std::string> out;
  size_t expect = 0;
  while (auto span = scan.next()) {
    CHECK_EQ(span->offset, expect);
    CHECK(span->length >= 1);
    CHECK(span->offset + span->length <= text.size());
    if (span->offset + span->length > text.size()) break;
    out.emplace_back(text.substr(span->offset, span->length));
    expect = span->offset + span->length;
  }
  CHECK_EQ(expect, text.size());
  CHECK(!scan.next().has_value());  // stays exhausted
  return out;
}

void expect_pieces(const std::string& text, const std::vector<std::string>& want) {
  std::vector<std::string> got = pieces(text);
  if (got != want) {
    ++::check::failures();
    std::printf("pieces of \"%s\":", text.c_str());
    for (auto& p : got) std::printf(" [%s]", p.c_str());
    std::printf("\n");
  }
}

std::string repeat(const std::string& s, size_t n) {
  std::string out;
  for (size_t i = 0; i < n; ++i) out += s;
  return out;
}

}  // namespace

TEST(documented_boundaries) {
  struct Case {
    std::string text;
    std::vector<std::string> want;
  };
  const std::vector<Case> cases = {
      {"", {}},
      {"a", {"a"}},
      {"12345", {"123", "45"}},
      {"a1b", {"a", "1", "b"}},
      {"Hello world", {"Hello", " world"}},
      {"it's", {"it", "'s"}},
      {"(hello", {"(hello"}},
      {"...abc", {"...", "abc"}},
      {"(h\xC3\xA9llo", {"(h", "\xC3\xA9llo"}},  // (héllo: only ASCII letters join the punctuation
      {" \xE6\x97\xA5\xE6\x9C\xAC", {" ", "\xE6\x97\xA5\xE6\x9C\xAC"}},  // " 日本"
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E", {"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E"}},  // 日本語
      {"\xE6\x97\xA5\xE6\x9C\xAC\xE3\x83\xBB\xE8\xAA\x9E",  // 日本・語
       {"\xE6\x97\xA5\xE6\x9C\xAC", "\xE3\x83\xBB", "\xE8\xAA\x9E"}},
      {"  7", {"  ", "7"}},
      {"  a", {" ", " a"}},
      {"!!\n\n", {"!!\n\n"}},
      {"\x01" "a", {"\x01" "a"}},
      {"\x01\x02", {"\x01\x02"}},
      {"\r\n\r\n  x", {"\r\n\r\n", " ", " x"}},
      {"x \n y", {"x", " \n", " y"}},
      {"x  ", {"x", "  "}},
      {"\t!", {"\t", "!"}},
      {" !?\n", {" !?\n"}},
      {"$x$ 1", {"$x", "$", " ", "1"}},
      {"a\xE3\x80\x80" "b", {"a", "\xE3\x80\x80" "b"}},  // U+3000 prefixes a letter
      {"a\xC2\x85" "b", {"a", "\xC2\x85" "b"}},          // so does NEL
      {"\x01 b", {"\x01", " b"}},
      {"ab\xE2\x80\x8B\xE2\x80\x8B" "cd", {"ab", "\xE2\x80\x8B", "\xE2\x80\x8B" "cd"}},  // U+200B twice
      {"\xC2\xB9\xC2\xB2\xC2\xB3\xE2\x81\xB4", {"\xC2\xB9\xC2\xB2\xC2\xB3", "\xE2\x81\xB4"}},  // ¹²³⁴
      {"\xD9\xA3\xD9\xA4\xD9\xA5\xD9\xA6" "7", {"\xD9\xA3\xD9\xA4\xD9\xA5", "\xD9\xA6" "7"}},  // Arabic-Indic digits
      {"\xE6\x97\xA5\xE6\x9C\xAC" "123", {"\xE6\x97\xA5\xE6\x9C\xAC", "123"}},
      {"\xE3\x81\x8B\xE3\x82\x99", {"\xE3\x81\x8B\xE3\x82\x99"}},  // か + combining voiced mark
      {"  \xE3\x83\xBB", {"  ", "\xE3\x83\xBB"}},                   // spaces end before a CJK piece
      {"\xEF\xBD\xB6\xEF\xBE\x80", {"\xEF\xBD\xB6\xEF\xBE\x80"}},   // halfwidth kana are plain letters
  };
  for (const auto& c : cases) expect_pieces(c.text, c.want);
}

TEST(runs_across_blocks_and_words) {
  // Letter runs of every length around the 8-byte stride, then a stop byte.
  for (size_t n = 1; n <= 40; ++n) {
    std::string run = repeat("k", n);
    expect_pieces(run, {run});
    expect_pieces(run + ",", {run, ","});
    expect_pieces(run + "\xC3\xA9z.", {run + "\xC3\xA9z", "."});
    expect_pieces("#" + run + "\xC3\xA9", {"#" + run, "\xC3\xA9"});
    expect_pieces(run + "9", {run, "9"});
  }
  std::string long_run = repeat("abcdefghij", 50);
  expect_pieces(long_run, {long_run});
  expect_pieces(" " + long_run + " ", {" " + long_run, " "});
  // Digits group by three from the start of each run.
  std::vector<std::string> groups(1000, "123");
  expect_pieces(repeat("123", 1000), groups);
  groups.push_back("4");
  expect_pieces(repeat("123", 1000) + "4", groups);
  // Long white-space runs keep their last space for the following word.
  std::string spaces = repeat(" ", 300);
  expect_pieces(spaces + "a", {repeat(" ", 299), " a"});
  expect_pieces(spaces, {spaces});
}

TEST(truncated_and_invalid_sequences) {
  // A character cut by the end of the text is the bytes that remain.
  expect_pieces("a\xE4\xB8", {"a", "\xE4\xB8"});
  expect_pieces("\xF0", {"\xF0"});
  expect_pieces("ab\xF0\x9F\x98", {"ab", "\xF0\x9F\x98"});
  expect_pieces("1\xE0", {"1", "\xE0"});
  // Lead bytes beyond U+10FFFF decode out of table range and class as Other.
  expect_pieces("\xFF\xFF\xFF\xFF", {"\xFF\xFF\xFF\xFF"});
  expect_pieces("\xF7\xBF\xBF\xBF" "a", {"\xF7\xBF\xBF\xBF" "a"});
}

TEST(random_bytes_tile_the_text) {
  std::mt19937_64 rng(12345);
  // Alphabets biased toward the bytes the scanner branches on.
  const std::string interesting =
      std::string("aZ09 \t\r\n\x0b!.'(\x01\x7f", 16) + "\x80\xBF\xC2\xC3\xCC\xD9\xE3\xE4\xE6\xE9\xEF\xF0\xF4\xF8\xFF";
  for (int round = 0; round < 4000; ++round) {
    size_t len = rng() % 160;
    std::string text(len, '\0');
    int mode = round % 3;
    for (auto& ch : text) {
      if (mode == 0) ch = static_cast<char>(rng() & 0xFF);
      else if (mode == 1) ch = interesting[rng() % interesting.size()];
      else ch = static_cast<char>((rng() % 4 == 0) ? (0x80 | (rng() & 0x3F)) : interesting[rng() % interesting.size()]);
    }
    pieces(text);  // checks order, tiling and bounds
  }
}

TEST(valid_mixed_text_around_block_lengths) {
  const std::vector<std::string> atoms = {"a",  "Zed", " ",  "  ", "\n", "\r\n", "7",  "12345", ",",  "...", "\xC3\xA9",
                                          "\xE6\x97\xA5", "\xE3\x83\xBB", "\xE3\x82\x99", "\xE2\x80\x8B", "\xF0\x9F\x98\x80",
                                          "\xE3\x80\x80", "\x01"};
  std::mt19937 rng(7);
  for (size_t target : {63u, 64u, 69u, 70u, 127u, 128u, 133u, 134u}) {
    for (int k = 0; k < 200; ++k) {
      std::string text;
      while (text.size() < target) text += atoms[rng() % atoms.size()];
      pieces(text);
    }
  }
}

TEST_MAIN()
