// Byte-level BPE from tokenizer.json: the alphabet decoder, family and NFC
// detection, every build error and its precedence, and the tables the build
// fills (holes, added tokens, merges), on small documents made here.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "check.h"
#include "load_tokenizer/hf_bpe.h"

using namespace morvik::load_tokenizer;
using morvik::bpe::TokenId;
using morvik::pretokenize::PretokenizerKind;

namespace {

// The character byte b is written as, UTF-8 encoded and JSON-escaped as
// needed, so the 256 single-byte tokens can be listed in a document.
std::string byte_token_json(uint8_t b) {
  const uint32_t cp = byte_level_char(b);
  if (cp == '"') return "\\\"";
  if (cp == '\\') return "\\\\";
  std::string s;
  if (cp < 0x80) s += char(cp);
  else {
    s += char(0xC0 | (cp >> 6));
    s += char(0x80 | (cp & 0x3F));
  }
  return s;
}

// A document whose vocabulary holds all 256 bytes at ids 0..255 (so no
// remapping) followed by `extra_vocab` (JSON members, may be empty).
std::string doc(const std::string& extra_vocab = "", const std::string& merges = "[]",
                const std::string& rest = "", const std::string& model_extra = "") {
  std::string v;
  for (int b = 0; b < 256; ++b) {
    if (b) v += ", ";
    v += "\"" + byte_token_json(uint8_t(b)) + "\": " + std::to_string(b);
  }
  if (!extra_vocab.empty()) v += ", " + extra_vocab;
  std::string d = "{\"model\": {\"type\": \"BPE\"" + model_extra + ", \"vocab\": {" + v + "}, \"merges\": " + merges + "}";
  if (!rest.empty()) d += ", " + rest;
  return d + "}";
}

std::string build_error(const std::string& document) {
  auto r = load_bpe_from_hf_json(document);
  return r.ok() ? std::string("OK") : r.error().message;
}

// A JSON string literal for `s` (escapes backslashes, quotes, CR and LF).
std::string json_str(std::string_view s) {
  std::string out = "\"";
  for (char c : s) {
    if (c == '\\') out += "\\\\";
    else if (c == '"') out += "\\\"";
    else if (c == '\r') out += "\\r";
    else if (c == '\n') out += "\\n";
    else out += c;
  }
  return out + "\"";
}

std::string split(std::string_view regex) {
  return "{\"type\": \"Split\", \"pattern\": {\"Regex\": " + json_str(regex) +
         "}, \"behavior\": \"Isolated\", \"invert\": false}";
}
std::string with_byte_level(const std::string& splits) {
  return "\"pre_tokenizer\": {\"type\": \"Sequence\", \"pretokenizers\": [" + splits +
         ", {\"type\": \"ByteLevel\", \"add_prefix_space\": false, \"use_regex\": false}]}";
}

const std::string kR50k = R"('(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)";
const std::string kCl100k =
    R"('(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s+)";
const std::string kCl100kHf =
    R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]|\s+(?!\S)|\s+)";
const std::string kQwen2 =
    R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)";
const std::string kQwen35 =
    R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?[\p{L}\p{M}]+|\p{N}| ?[^\s\p{L}\p{M}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)";
const std::string kOlmo3 =
    R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)";
const std::string kDs1 = R"(\p{N}{1,3})";
const std::string kDs2 = "[\xE4\xB8\x80-\xE9\xBE\xA5\xE3\x81\x80-\xE3\x82\x9F\xE3\x82\xA0-\xE3\x83\xBF]+";
const std::string kDs3 = std::string(R"([!"#$%&'()*+,\-./:;<=>?@\[\\\]^_`{|}~][A-Za-z]+|[^)") + "\r\n" +
                         R"(\p{L}\p{P}\p{S}]?[\p{L}\p{M}]+| ?[\p{P}\p{S}]+[)" + "\r\n" + R"(]*|\s*[)" + "\r\n" +
                         R"(]+|\s+(?!\S)|\s+)";

}  // namespace

TEST(byte_level_alphabet) {
  CHECK_EQ(byte_level_char(0), 0x100u);
  CHECK_EQ(byte_level_char(10), 0x10Au);
  CHECK_EQ(byte_level_char(32), 0x120u);
  CHECK_EQ(byte_level_char(33), 33u);
  CHECK_EQ(byte_level_char(127), 0x121u);
  CHECK_EQ(byte_level_char(160), 0x142u);
  CHECK_EQ(byte_level_char(173), 0x143u);
  CHECK_EQ(byte_level_char(255), 255u);
  struct Case {
    std::string text, bytes;
  };
  const Case cases[] = {
      {"\xC4\xA0hello", " hello"},
      {"<|endoftext|>", "<|endoftext|>"},
      {"\xC4\xA0", " "},
      {"\xC4\xA0\xC4\xA0", "  "},
      {"\xC4\x8A", "\n"},
      {"\xC4\x80\xC5\x83", std::string("\0\xAD", 2)},
      {"\xC3\xA9", "\xE9"},        // U+00E9 is byte 0xE9
      {"", ""},
      // one character outside the alphabet: the whole string as it is
      {"a\xEF\xBD\x9C" "b", "a\xEF\xBD\x9C" "b"},  // full-width vertical bar
      {"x y", "x y"},                              // space is not in the alphabet
      {"\xC5\x84", "\xC5\x84"},                    // U+0144, just past the alphabet
      {"\xC2\xAD", "\xC2\xAD"},                    // U+00AD is written as U+0143
  };
  for (const Case& c : cases) {
    if (unicode_to_bytes(c.text) != c.bytes) {
      std::printf("  unicode_to_bytes(%s)\n", c.text.c_str());
      CHECK_EQ(unicode_to_bytes(c.text), c.bytes);
    }
  }
  // Every byte round-trips through its character.
  for (int b = 0; b < 256; ++b) {
    std::string s = byte_token_json(uint8_t(b));
    if (s == "\\\"") s = "\"";
    if (s == "\\\\") s = "\\";
    CHECK_EQ(unicode_to_bytes(s), std::string(1, char(b)));
  }
}

TEST(pretokenizer_families) {
  struct Case {
    std::string rest;
    PretokenizerKind kind;
  };
  const Case cases[] = {
      {"", PretokenizerKind::R50k},
      {"\"pre_tokenizer\": null", PretokenizerKind::R50k},
      {"\"pre_tokenizer\": {\"type\": \"ByteLevel\", \"add_prefix_space\": true}", PretokenizerKind::R50k},
      {with_byte_level(split(kR50k)), PretokenizerKind::R50k},
      {with_byte_level(split(kCl100k)), PretokenizerKind::Cl100k},
      {with_byte_level(split(kCl100kHf)), PretokenizerKind::Cl100k},
      {with_byte_level(split(kQwen2)), PretokenizerKind::Qwen2},
      {with_byte_level(split(kQwen35)), PretokenizerKind::Qwen3_5},
      {with_byte_level(split(kOlmo3)), PretokenizerKind::Olmo3},
      {with_byte_level(split(kDs1) + ", " + split(kDs2) + ", " + split(kDs3)), PretokenizerKind::DeepSeekV3},
      // a String pattern contributes nothing; the tree is searched at any depth
      {"\"pre_tokenizer\": {\"type\": \"Sequence\", \"pretokenizers\": [{\"type\": \"Split\", \"pattern\": "
       "{\"String\": \"x\"}}, {\"type\": \"Sequence\", \"pretokenizers\": [" + split(kQwen2) + "]}]}",
       PretokenizerKind::Qwen2},
      // a top Split node with its regex
      {"\"pre_tokenizer\": " + split(kOlmo3), PretokenizerKind::Olmo3},
  };
  for (const Case& c : cases) {
    auto r = load_bpe_from_hf_json(doc("", "[]", c.rest));
    CHECK(r.ok());
    if (!r.ok()) {
      std::printf("  %s\n  -> %s\n", c.rest.c_str(), r.error().message.c_str());
      continue;
    }
    CHECK(r->pretokenizer_kind == c.kind);
  }
}

TEST(nfc_detection) {
  struct Case {
    std::string rest;
    bool nfc;
  };
  const Case cases[] = {
      {"", false},
      {"\"normalizer\": null", false},
      {"\"normalizer\": {\"type\": \"NFC\"}", true},
      {"\"normalizer\": {\"type\": \"Sequence\", \"normalizers\": []}", false},
      {"\"normalizer\": {\"type\": \"Sequence\", \"normalizers\": [{\"type\": \"Sequence\", \"normalizers\": []}, "
       "{\"type\": \"NFC\"}]}",
       true},
  };
  for (const Case& c : cases) {
    auto r = load_bpe_from_hf_json(doc("", "[]", c.rest));
    CHECK(r.ok());
    if (r.ok()) CHECK_EQ(r->nfc, c.nfc);
  }
  auto qwen = load_bpe_from_hf_json(doc("", "[]", with_byte_level(split(kQwen2)) + ", \"normalizer\": {\"type\": \"NFC\"}"));
  CHECK(qwen.ok() && qwen->nfc && qwen->pretokenizer_kind == PretokenizerKind::Qwen2);
}

TEST(build_errors) {
  std::string cl100k_changed = kCl100kHf;
  cl100k_changed[cl100k_changed.find("{1,3}") + 3] = '4';
  const std::string q = "\"(?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\\\\r\\\\n\\\\p{L}\\\\p{N}]?\\\\p{L}+|\\\\p{N}{1,4}| "
                        "?[^\\\\s\\\\p{L}\\\\p{N}]+[\\\\r\\\\n]*|\\\\s*[\\\\r\\\\n]|\\\\s+(?!\\\\S)|\\\\s+\"";
  struct Case {
    std::string document;
    std::string message;
  };
  const Case cases[] = {
      {"{\"model\": {\"type\": \"WordPiece\", \"vocab\": {}, \"merges\": []}}",
       "Unsupported model type: WordPiece (expected BPE)"},
      {"{\"model\": {\"type\": \"bpe\", \"vocab\": {}, \"merges\": [], \"byte_fallback\": true}}",
       "Unsupported model type: bpe (expected BPE)"},
      {"{\"model\": {\"vocab\": {}, \"merges\": [], \"byte_fallback\": true}}",
       "byte_fallback tokenizers should use load_hf_sentencepiece instead"},
      {"{\"model\": {\"vocab\": {}, \"merges\": []}}", "Byte remapping failed: no single-byte vocab entry for byte 0x00"},
      // byte 0x0a written as U+010A is missing
      {doc().replace(doc().find("\"\xC4\x8A\": 10"), 8, "\"zz\": 10"),
       "Byte remapping failed: no single-byte vocab entry for byte 0x0a"},
      {doc("", "[]", "\"pre_tokenizer\": {\"type\": \"Sequence\", \"pretokenizers\": [{\"type\": \"ByteLevel\"}]}"),
       "Unsupported pre_tokenizer type: Sequence (no Split regex found)"},
      {doc("", "[]", "\"pre_tokenizer\": {\"type\": \"Split\", \"pattern\": {\"String\": \" \"}}"),
       "Unsupported pre_tokenizer type: Split (no Split regex found)"},
      {doc("", "[]", "\"pre_tokenizer\": {\"type\": \"Whitespace\"}"),
       "Unsupported pre_tokenizer type: Whitespace (no Split regex found)"},
      {doc("", "[]", with_byte_level(split(cl100k_changed))),
       "Unknown pre_tokenizer Split regexes, no fast pretokenizer for: [" + q + "]"},
      {doc("", "[]", with_byte_level(split("a\"b") + ", " + split(kQwen2))),
       "Unknown pre_tokenizer Split regexes, no fast pretokenizer for: [\"a\\\"b\", " +
           debug_quoted(kQwen2) + "]"},
      // the DeepSeek splits must come in their order
      {doc("", "[]", with_byte_level(split(kDs2) + ", " + split(kDs1) + ", " + split(kDs3))),
       "Unknown pre_tokenizer Split regexes, no fast pretokenizer for: [" + debug_quoted(kDs2) + ", " +
           debug_quoted(kDs1) + ", " + debug_quoted(kDs3) + "]"},
      {doc("", "[]", "\"normalizer\": {\"type\": \"Sequence\", \"normalizers\": [{\"type\": \"NFC\"}, {\"type\": \"Lowercase\"}]}"),
       "Unsupported normalizer type: Lowercase"},
      {doc("", "[]", "\"normalizer\": {\"type\": \"NFKC\"}"), "Unsupported normalizer type: NFKC"},
      // precedence: model, then remapping, then pre-tokenizer, then normalizer
      {"{\"model\": {\"vocab\": {}, \"merges\": []}, \"pre_tokenizer\": {\"type\": \"X\"}, \"normalizer\": {\"type\": \"Y\"}}",
       "Byte remapping failed: no single-byte vocab entry for byte 0x00"},
      {doc("", "[]", "\"pre_tokenizer\": {\"type\": \"X\"}, \"normalizer\": {\"type\": \"Y\"}"),
       "Unsupported pre_tokenizer type: X (no Split regex found)"},
      // ids are bounded
      {doc("\"big\": 16777216"), "Token id 16777216 is out of range: ids must be below 16777216"},
      {doc("", "[]", "\"added_tokens\": [{\"id\": 4294967295, \"content\": \"x\"}]"),
       "Token id 4294967295 is out of range: ids must be below 16777216"},
  };
  for (const Case& c : cases) {
    const std::string got = build_error(c.document);
    if (got != c.message) {
      std::printf("  got:  %s\n  want: %s\n", got.c_str(), c.message.c_str());
      CHECK_EQ(got, c.message);
    }
  }
}

TEST(vocabulary_merges_and_added_tokens) {
  // "a"=97, "b"=98, "c"=99 are single bytes; "ab" 300, "abc" 301, "bc" 302;
  // holes at 256..299 and 303..309; "<s>" added beyond the vocabulary.
  const std::string extra = "\"ab\": 300, \"abc\": 301, \"bc\": 302, \"\xC4\xA0" "a\": 309";
  const std::string merges =
      "[\"a b\", [\"ab\", \"c\"], \"b c\", \"a bc\", \"x q\", \"ab zz\", \"\xC4\xA0 a\", [\"a\", \"b\"]]";
  const std::string rest =
      "\"added_tokens\": ["
      "{\"id\": 320, \"content\": \"<s>\", \"special\": true},"
      "{\"id\": 305, \"content\": \"\xC4\xA0hole\"},"
      "{\"id\": 300, \"content\": \"XY\"},"
      "{\"id\": 312, \"content\": \"\"}]";
  auto r = load_bpe_from_hf_json(doc(extra, merges, rest));
  CHECK(r.ok());
  if (!r.ok()) {
    std::printf("  %s\n", r.error().message.c_str());
    return;
  }
  auto& t = *r;
  CHECK_EQ(t.vocab_size(), size_t(321));
  CHECK(!t.byte_remapping);
  CHECK_EQ(morvik::view(t.id_to_bytes[300]), "ab");        // vocabulary bytes are kept
  CHECK_EQ(morvik::view(t.id_to_bytes[309]), " a");
  CHECK_EQ(morvik::view(t.id_to_bytes[305]), "\xC4\xA0hole");  // added text, not decoded
  CHECK_EQ(morvik::view(t.id_to_bytes[320]), "<s>");
  CHECK(morvik::view(t.id_to_bytes[256]).empty());
  CHECK(morvik::view(t.id_to_bytes[312]).empty());          // empty content leaves a hole
  CHECK(t.bytes_to_id.find("ab") == std::optional<TokenId>(300));
  CHECK(t.bytes_to_id.find("<s>") == std::optional<TokenId>(320));
  // Resolved merges; "x q" and "ab zz" name unknown tokens and are dropped;
  // the repeated pair a+b keeps its first merged id.
  const auto entries = t.merge_entries();
  const std::vector<std::array<TokenId, 3>> want = {
      {97, 98, 300}, {300, 99, 301}, {98, 99, 302}, {97, 302, 301}, {32, 97, 309}};
  std::vector<std::array<TokenId, 3>> sorted_want = want;
  std::sort(sorted_want.begin(), sorted_want.end(), [](auto& x, auto& y) { return x[2] < y[2] || (x[2] == y[2] && x < y); });
  std::vector<std::array<TokenId, 3>> got = entries;
  std::sort(got.begin(), got.end(), [](auto& x, auto& y) { return x[2] < y[2] || (x[2] == y[2] && x < y); });
  CHECK(got == sorted_want);
  // Every added token takes part in matching, in document order.
  CHECK_EQ(t.added_tokens.size(), size_t(3));
  std::vector<TokenId> ids;
  t.encode_with_added_tokens("abc<s>XY ab", ids);
  CHECK((ids == std::vector<TokenId>{301, 320, 300, 32, 300}));
}

TEST(duplicate_bytes_and_remapped_vocabularies) {
  // " " (not in the alphabet, so its own byte) and U+0120 both mean byte 0x20;
  // bytes_to_id keeps the higher id. A vocabulary whose single bytes are not
  // at ids 0..255 gets a remapping.
  auto r = load_bpe_from_hf_json(doc("\" \": 400"));
  CHECK(r.ok());
  if (r.ok()) {
    CHECK(r->bytes_to_id.find(" ") == std::optional<TokenId>(400));
    CHECK(!r->byte_remapping);  // the lowest id of a byte wins the remapping
  }
  std::string shifted = "{\"model\": {\"vocab\": {\"pad\": 0";
  for (int b = 0; b < 256; ++b) shifted += ", \"" + byte_token_json(uint8_t(b)) + "\": " + std::to_string(b + 1);
  shifted += "}, \"merges\": []}}";
  auto s = load_bpe_from_hf_json(shifted);
  CHECK(s.ok());
  if (s.ok()) {
    CHECK(s->byte_remapping.has_value());
    if (s->byte_remapping) CHECK_EQ((*s->byte_remapping)[0x41], TokenId(0x42));
    std::vector<TokenId> ids;
    s->encode_with_added_tokens("A", ids);
    CHECK((ids == std::vector<TokenId>{0x42}));
  }
}

TEST(reader_errors_pass_through_the_entry_points) {
  auto r = load_bpe_from_hf_json("{");
  CHECK(!r.ok() && r.error().message == "Failed to parse tokenizer JSON: EOF while parsing an object at line 1 column 2");
  auto f = load_bpe_from_hf_file("/nonexistent/tokenizer.json");
  CHECK(!f.ok() && f.error().message == "Failed to read /nonexistent/tokenizer.json");
}

TEST_MAIN()
