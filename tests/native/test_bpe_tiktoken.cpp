// The rank-based Tokenizer: construction from ranks, caches, forks, added
// tokens, decoding, NFC segments.
#include <sys/mman.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bpe/nfc.h"
#include "bpe/tiktoken.h"
#include "check.h"
#include "load_tokenizer/tiktoken.h"

using namespace morvik;
using namespace morvik::bpe;
using namespace std::string_literals;
using std::string_view;

namespace {

// 256 single bytes in byte order, then the given multi-byte tokens.
std::vector<std::string> ranks_with(std::vector<std::string> extra) {
  std::vector<std::string> r;
  for (int b = 0; b < 256; ++b) r.push_back(std::string(1, char(b)));
  for (auto& e : extra) r.push_back(std::move(e));
  return r;
}

Tokenizer small_tokenizer() {
  auto t = Tokenizer::from_ranks(ranks_with({"ab", "abc", " a", " ab", "aa", "aaaa", "aaaaaaaa"}));
  CHECK(t.ok());
  return std::move(*t);
}

std::vector<TokenId> enc(Tokenizer& t, string_view text) {
  std::vector<TokenId> out;
  t.encode_with_added_tokens(text, out);
  return out;
}

using Ids = std::vector<TokenId>;

}  // namespace

TEST(from_ranks_derivation_and_failures) {
  Tokenizer t = small_tokenizer();
  CHECK_EQ(t.vocab_size(), size_t(263));
  CHECK_EQ(t.debug_text(), "Tokenizer { vocab_size: 263, merges_count: 7, byte_remapping: false }"s);
  const auto m = t.merge_entries();
  CHECK(m.size() == 7);
  CHECK((m[0] == std::array<TokenId, 3>{'a', 'b', 256}));
  CHECK((m[1] == std::array<TokenId, 3>{256, 'c', 257}));
  CHECK((m[3] == std::array<TokenId, 3>{' ', 256, 259}));  // "ab" merges before " a"
  CHECK((m[6] == std::array<TokenId, 3>{261, 261, 262}));
  for (size_t i = 1; i < m.size(); ++i) CHECK(m[i - 1][2] < m[i][2]);

  struct Case {
    std::vector<std::string> ranks;
    const char* message;
  };
  const std::vector<Case> cases = {
      // Derives (0, 1) -> 2, then most bytes lack a single-byte token.
      {{"!", "\"", "!\""}, "Byte remapping failed: no single-byte vocab entry for byte 0x00"},
      {{}, "Byte remapping failed: no single-byte vocab entry for byte 0x00"},
      {ranks_with({"abc"}), "Token 256 of 3 bytes does not reduce to two lower-ranked tokens (it reduces to 3)"},
      {ranks_with({"ab", "ab"}), "Token 257 of 2 bytes does not reduce to two lower-ranked tokens (it reduces to 1)"},
      {{"a", "ab"}, "Token 1 contains byte 0x62, which has no single-byte token"},
  };
  for (const auto& c : cases) {
    auto r = Tokenizer::from_ranks(c.ranks);
    CHECK(!r.ok());
    if (!r.ok() && r.error().message != c.message) {
      std::printf("  got: %s\n", r.error().message.c_str());
      CHECK(false);
    }
  }
  // Single bytes in another order: a remapping, and merges over the real ids.
  std::vector<std::string> rev;
  for (int b = 255; b >= 0; --b) rev.push_back(std::string(1, char(b)));
  rev.push_back("ab");
  auto r = Tokenizer::from_ranks(rev);
  CHECK(r.ok());
  if (r.ok()) {
    CHECK(r->byte_remapping.has_value());
    CHECK_EQ(r->merges.find(255 - 'a', 255 - 'b'), TokenId(256));
    CHECK((enc(*r, "xab") == Ids{255 - 'x', 256}));
  }
}

TEST(encode_segments_and_cache) {
  Tokenizer t = small_tokenizer();
  CHECK(enc(t, "").empty());
  // R50k pieces: "ab", " abc", " aaaaaaaaaaaa".
  const Ids first = enc(t, "ab abc aaaaaaaaaaaa");
  CHECK((first == Ids{256, ' ', 257, 258, 262, 260, 'a'}));
  CHECK_EQ(t.pretoken_cache_short.size(), size_t(3));
  const size_t arena = t.cache_arena.size();
  CHECK((enc(t, "ab abc aaaaaaaaaaaa") == first));  // from the cache
  CHECK_EQ(t.cache_arena.size(), arena);
  Tokenizer f = t.fork();
  CHECK(f.cache_arena.empty() && f.pretoken_cache_short.size() == 0);
  CHECK((enc(f, "ab abc aaaaaaaaaaaa") == first));
  CHECK(&f.merges.table() == &t.merges.table());
  CHECK(f.id_to_bytes[256].get() == t.id_to_bytes[256].get());
  // Results are appended, never cleared.
  Ids out{7};
  t.encode_with_added_tokens("ab", out);
  CHECK((out == Ids{7, 256}));
}

TEST(short_and_long_cache_keys) {
  Tokenizer t = small_tokenizer();
  const std::string a15(15, 'a'), a16(16, 'a');
  CHECK((enc(t, a15) == Ids{262, 261, 260, 'a'}));
  CHECK(t.pretoken_cache_short.size() == 1 && t.pretoken_cache_long.size() == 0);
  CHECK((enc(t, a16) == Ids{262, 262}));
  CHECK(t.pretoken_cache_short.size() == 1 && t.pretoken_cache_long.size() == 1);
  CHECK((enc(t, a16) == Ids{262, 262}));
  CHECK((enc(t, a15) == Ids{262, 261, 260, 'a'}));

  CHECK(!(short_pretoken_key("ab") == short_pretoken_key("ab\0"s)));
  CHECK(!(short_pretoken_key("a") == short_pretoken_key("a\0\0"s)));
  CHECK(!(short_pretoken_key("\0"s) == short_pretoken_key("\0\0"s)));
  // Through the caches: R50k cuts "ab\0" into "ab" and "\0"; each keeps
  // its own entry beside the two-NUL and one-NUL pretokens.
  Tokenizer u = small_tokenizer();
  CHECK((enc(u, "ab") == Ids{256}));
  CHECK((enc(u, "ab\0"s) == Ids{256, 0}));
  CHECK((enc(u, "\0\0"s) == Ids{0, 0}));
  CHECK((enc(u, "\0"s) == Ids{0}));
}

TEST(short_key_load_near_page_end) {
  // Pretokens that end at, or start within 15 bytes of, a page end followed
  // by an inaccessible page: the key must not read across.
  const size_t page = 4096;
  char* mem = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  CHECK(mem != MAP_FAILED);
  if (mem == MAP_FAILED) return;
  CHECK(mprotect(mem + page, page, PROT_NONE) == 0);
  std::memset(mem, 'z', page);
  for (size_t n = 1; n <= 15; ++n) {
    for (size_t back = n; back <= 40; ++back) {
      const char* p = mem + page - back;
      char buf[16] = {};
      std::memcpy(buf, p, n);
      uint64_t lo, hi;
      std::memcpy(&lo, buf, 8);
      std::memcpy(&hi, buf + 8, 8);
      hi |= uint64_t(n) << 56;
      CHECK((short_pretoken_key(string_view(p, n)) == Key128{lo, hi}));
    }
  }
  munmap(mem, 2 * page);
}

TEST(arena_reset_keeps_results) {
  Tokenizer t = small_tokenizer();
  const std::string text = "ab abc aaaaaaaaaaaa aab ba abab aaaaaaaaaaaaaaaaaaaaa";
  const Ids want = enc(t, text);
  Tokenizer f = t.fork();
  f.cache_arena_limit = 5;  // forces resets, and pretokens too long to cache
  for (int i = 0; i < 3; ++i) CHECK(enc(f, text) == want);
  CHECK(f.cache_arena.size() <= 5);
}

TEST(added_tokens) {
  Tokenizer t = small_tokenizer();
  const TokenId eot = TokenId(t.vocab_size());
  t.add_special_token("<|endoftext|>", eot);
  CHECK_EQ(t.vocab_size(), size_t(eot) + 1);
  struct Case {
    std::string text;
    Ids want;
  };
  const std::vector<Case> cases = {
      {"<|endoftext|>", {eot}},
      {"ab<|endoftext|>ab", {256, eot, 256}},
      {"<|endoftext|><|endoftext|>", {eot, eot}},
      {"ab<|endoftext|>", {256, eot}},
      {"<|endoftext", {'<', '|', 'e', 'n', 'd', 'o', 'f', 't', 'e', 'x', 't'}},
  };
  for (const auto& c : cases) CHECK(enc(t, c.text) == c.want);
  std::string dec;
  CHECK(!t.decode(Ids{eot, 256}, dec).has_value());
  CHECK_EQ(dec, "<|endoftext|>ab"s);

  // Prefix pairs: the longer wins; an earlier start beats a longer later one.
  t.set_added_tokens({{"<x>", 900}, {"", 901}, {"<x>>", 902}, {"x>>>", 903}, {"<x>", 904}});
  CHECK_EQ(t.added_tokens.size(), size_t(4));
  CHECK(t.added_tokens[0].first->size() == 4 && t.added_tokens[2].second == 900);  // stable, longest first
  CHECK((enc(t, "<x>>") == Ids{902}));
  CHECK((enc(t, "<x>") == Ids{900}));  // the first of two identical strings
  CHECK((enc(t, "a<x>>>") == Ids{'a', 902, '>'}));
  CHECK_EQ(t.vocab_size(), size_t(eot) + 1);  // set_added_tokens leaves the tables alone
  t.set_added_tokens({{"", 5}});
  CHECK(!t.added_matcher && t.added_tokens.empty());

  // Far above the vocabulary: holes in between; an id that has bytes keeps them.
  Tokenizer u = small_tokenizer();
  u.add_special_token("<s>", 1000);
  CHECK_EQ(u.vocab_size(), size_t(1001));
  CHECK(u.id_to_bytes[500]->empty());
  dec.clear();
  CHECK(!u.decode(Ids{500, 1000, 'a'}, dec).has_value());
  CHECK_EQ(dec, "<s>a"s);
  u.add_special_token("<t>", 'q');
  CHECK((enc(u, "<t>") == Ids{'q'}));
  dec.clear();
  CHECK(!u.decode(Ids{'q'}, dec).has_value());
  CHECK_EQ(dec, "q"s);
  // The same bytes twice with different ids: the first registration matches.
  u.add_special_token("<s>", 2000);
  CHECK((enc(u, "<s>") == Ids{1000}));
  Tokenizer f = u.fork();
  CHECK(f.added_matcher == u.added_matcher);
  CHECK(enc(f, "x<s><t>y") == enc(u, "x<s><t>y"));

  dec = "keep";
  CHECK_EQ(u.decode(Ids{'a', 5000, 6000}, dec), std::optional<TokenId>(5000));
  CHECK_EQ(dec, "keep"s);
}

TEST(nfc_segments) {
  Tokenizer t = small_tokenizer();
  t.nfc = true;
  // "é" composed and decomposed encode alike; ASCII and invalid UTF-8 untouched.
  CHECK(enc(t, "caf\xc3\xa9") == enc(t, "cafe\xcc\x81"));
  CHECK((enc(t, "ab") == Ids{256}));
  const std::string bad = "e\xcc\x81\xff";
  CHECK((enc(t, bad) == Ids{'e', 0xcc, 0x81, 0xff}));
  // Added tokens are matched before normalisation.
  t.set_added_tokens({{"e\xcc\x81", 777}});
  CHECK((enc(t, "e\xcc\x81") == Ids{777}));
  CHECK((enc(t, "\xc3\xa9") == Ids{0xc3, 0xa9}));
}

TEST(nfc_quick_check_is_sound) {
  // Whenever the quick check accepts a string, NFC must leave it unchanged.
  std::mt19937 rng(3);
  auto utf8 = [](uint32_t c, std::string& s) {
    if (c < 0x80) s += char(c);
    else if (c < 0x800) s += char(0xC0 | (c >> 6)), s += char(0x80 | (c & 63));
    else if (c < 0x10000) s += char(0xE0 | (c >> 12)), s += char(0x80 | ((c >> 6) & 63)), s += char(0x80 | (c & 63));
    else
      s += char(0xF0 | (c >> 18)), s += char(0x80 | ((c >> 12) & 63)), s += char(0x80 | ((c >> 6) & 63)),
          s += char(0x80 | (c & 63));
  };
  const std::pair<uint32_t, uint32_t> ranges[] = {{0x20, 0x2FF},     {0x300, 0x3FF},     {0x400, 0x1FFF},
                                                  {0x3040, 0x30FF},  {0x1100, 0x11FF},   {0xAC00, 0xD7A3},
                                                  {0x0900, 0x0DFF},  {0x11000, 0x119FF}, {0x1D100, 0x1D1FF},
                                                  {0x2F800, 0x2FA1F}, {0xF900, 0xFAFF}};
  std::string out;
  std::vector<int32_t> cps;
  int accepted = 0, checked = 0;
  for (int i = 0; i < 200000; ++i) {
    std::string s;
    const int n = 1 + int(rng() % 4);
    for (int k = 0; k < n; ++k) {
      const auto& r = ranges[rng() % std::size(ranges)];
      uint32_t c = r.first + rng() % (r.second - r.first + 1);
      if (c >= 0xD800 && c <= 0xDFFF) c = 'a';
      utf8(c, s);
    }
    ++checked;
    if (!nfc_quick_check(s)) continue;
    ++accepted;
    std::string s2 = s;
    const bool changed = nfc_normalize(s2 + "\xcc\x81", out, cps);
    CHECK(changed);
    // The mark may compose with the last character only; the text before the
    // last character must be unchanged.
    size_t last = s.size();
    while (last > 0 && (uint8_t(s[last - 1]) & 0xC0) == 0x80) --last;
    if (last > 0) --last;
    if (out.compare(0, last, s, 0, last) != 0) {
      CHECK(false);
      break;
    }
  }
  CHECK(accepted > 1000 && accepted < checked);
}

namespace {
std::string shared_file(const char* name) {
  std::vector<std::string> dirs;
  if (const char* d = std::getenv("MORVIK_TOKENIZERS_DIR")) dirs.push_back(d);
  dirs.push_back("../shared/tokenizers");
  dirs.push_back("../../shared/tokenizers");
  for (const auto& d : dirs) {
    std::string p = d + "/" + name;
    if (FILE* f = std::fopen(p.c_str(), "rb")) {
      std::fclose(f);
      return p;
    }
  }
  return {};
}
}  // namespace

TEST(real_r50k_ranks) {
  const std::string path = shared_file("r50k_base.tiktoken");
  if (path.empty()) {
    std::printf("  skipped: r50k_base.tiktoken not found\n");
    return;
  }
  auto ranks = load_tokenizer::load_tiktoken(path);
  CHECK(ranks.ok() && ranks->size() == 50256);
  if (!ranks.ok()) return;
  auto t = Tokenizer::from_ranks(std::move(*ranks));
  CHECK(t.ok());
  if (!t.ok()) return;
  t->add_special_token("<|endoftext|>", 50256);
  CHECK_EQ(t->debug_text(), "Tokenizer { vocab_size: 50257, merges_count: 50000, byte_remapping: true }"s);
  CHECK((enc(*t, "Hello world<|endoftext|>") == Ids{15496, 995, 50256}));
  std::string dec;
  const Ids ids = enc(*t, "The quick brown fox \xe6\x97\xa5\xe6\x9c\xac  \n\n jumps.");
  CHECK(!t->decode(ids, dec).has_value());
  CHECK_EQ(dec, "The quick brown fox \xe6\x97\xa5\xe6\x9c\xac  \n\n jumps."s);
}

TEST_MAIN()
