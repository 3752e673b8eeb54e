// tokenizer.json reader: every message it fixes, the record mapping, the
// syntax checker against simdjson, and hostile input (truncated, mutated,
// random) that must give errors and never crash.
#include <simdjson.h>
#include <unistd.h>

#include <cstdio>
#include <random>
#include <string>

#include "check.h"
#include "load_tokenizer/hf.h"
#include "load_tokenizer/json_syntax.h"

using namespace morvik::load_tokenizer;

namespace {

// The error message of parsing `doc`, or "OK".
std::string parse_message(std::string_view doc) {
  auto r = read_tokenizer_json(doc);
  return r.ok() ? std::string("OK") : r.error().message;
}

const std::string P = "Failed to parse tokenizer JSON: ";

// A small but complete document in the shape real files have.
const std::string kValid = R"({
  "version": "1.0",
  "truncation": null,
  "added_tokens": [
    {"id": 5, "content": "<|end|>", "single_word": false, "lstrip": false, "rstrip": true,
     "normalized": false, "special": true}
  ],
  "normalizer": {"type": "Sequence", "normalizers": [{"type": "NFC"}]},
  "pre_tokenizer": {"type": "Sequence", "pretokenizers": [
    {"type": "Split", "pattern": {"Regex": "\\p{N}{1,3}"}, "behavior": "Isolated", "invert": false},
    {"type": "ByteLevel", "add_prefix_space": false, "trim_offsets": true, "use_regex": false}]},
  "post_processor": {"type": "ByteLevel", "nested": [[[{"deep": [1, 2.5e3, true, null]}]]]},
  "decoder": {"type": "ByteLevel"},
  "model": {"type": "BPE", "dropout": null, "unk_token": null, "fuse_unk": false,
    "byte_fallback": false, "ignore_merges": true,
    "vocab": {"a": 0, "b": 1, "ab": 2, "\u0120": 3, "c": 4},
    "merges": ["a b", ["ab", "c"]]}
}
)";

}  // namespace

TEST(reads_the_records_of_a_full_document) {
  auto r = read_tokenizer_json(kValid);
  CHECK(r.ok());
  if (!r.ok()) {
    std::printf("%s\n", r.error().message.c_str());
    return;
  }
  const TokenizerJson& j = *r;
  CHECK_EQ(j.model.type, "BPE");
  CHECK(!j.model.byte_fallback);
  CHECK_EQ(j.model.vocab.size(), size_t(5));
  CHECK_EQ(j.model.vocab[3].token, "\xC4\xA0");
  CHECK_EQ(j.model.vocab[3].id, 3u);
  CHECK_EQ(j.model.merges.size(), size_t(2));
  CHECK_EQ(j.model.merges[0].left, "a");
  CHECK_EQ(j.model.merges[1].right, "c");
  CHECK_EQ(j.added_tokens.size(), size_t(1));
  CHECK_EQ(j.added_tokens[0].id, 5u);
  CHECK_EQ(j.added_tokens[0].content, "<|end|>");
  CHECK(j.added_tokens[0].special && j.added_tokens[0].rstrip && !j.added_tokens[0].lstrip);
  CHECK(j.normalizer && j.normalizer->type == "Sequence" && j.normalizer->normalizers.size() == 1);
  CHECK(j.pre_tokenizer && j.pre_tokenizer->pretokenizers.size() == 2);
  const auto& split = j.pre_tokenizer->pretokenizers[0];
  CHECK(split.pattern && split.pattern->regex && *split.pattern->regex == "\\p{N}{1,3}");
  CHECK(!split.pattern->string);
  CHECK(j.pre_tokenizer->pretokenizers[1].add_prefix_space == std::optional<bool>(false));
}

TEST(defaults_nulls_and_optional_fields) {
  auto r = read_tokenizer_json(R"({"model": {"vocab": {}, "merges": []}, "pre_tokenizer": null, "normalizer": null})");
  CHECK(r.ok());
  if (r.ok()) {
    CHECK_EQ(r->model.type, "BPE");
    CHECK(r->added_tokens.empty());
    CHECK(!r->pre_tokenizer && !r->normalizer);
  }
  // Metaspace and normaliser fields the SentencePiece builder reads.
  auto s = read_tokenizer_json(R"({"model": {"vocab": {}, "merges": [], "byte_fallback": true},
    "pre_tokenizer": {"type": "Metaspace", "replacement": "\u2581", "prepend_scheme": "first", "split": false},
    "normalizer": {"type": "Sequence", "normalizers": [
      {"type": "Prepend", "prepend": "x"}, {"type": "Replace", "pattern": {"String": " "}, "content": "y"},
      {"type": "Strip", "strip_left": true, "strip_right": null},
      {"type": "Precompiled", "precompiled_charsmap": "AAAA"}]}})");
  CHECK(s.ok());
  if (s.ok()) {
    CHECK(s->model.byte_fallback);
    CHECK_EQ(*s->pre_tokenizer->replacement, "\xE2\x96\x81");
    CHECK_EQ(*s->pre_tokenizer->prepend_scheme, "first");
    CHECK(s->pre_tokenizer->split == std::optional<bool>(false));
    const auto& n = s->normalizer->normalizers;
    CHECK_EQ(n.size(), size_t(4));
    CHECK_EQ(*n[0].prepend, "x");
    CHECK_EQ(*n[1].pattern->string, " ");
    CHECK_EQ(*n[1].content, "y");
    CHECK(n[2].strip_left == std::optional<bool>(true) && !n[2].strip_right);
    CHECK_EQ(*n[3].precompiled_charsmap, "AAAA");
  }
}

TEST(merge_forms) {
  auto r = read_tokenizer_json(R"({"model": {"vocab": {}, "merges": ["a b c", " x", "y ", ["p", "q"], ["", ""]]}})");
  CHECK(r.ok());
  if (!r.ok()) return;
  const auto& m = r->model.merges;
  CHECK_EQ(m.size(), size_t(5));
  CHECK(m[0].left == "a" && m[0].right == "b c");
  CHECK(m[1].left == "" && m[1].right == "x");
  CHECK(m[2].left == "y" && m[2].right == "");
  CHECK(m[3].left == "p" && m[3].right == "q");
  CHECK(m[4].left == "" && m[4].right == "");
}

TEST(repeated_vocab_key_keeps_the_later_id) {
  auto r = read_tokenizer_json(R"({"model": {"vocab": {"a": 1, "b": 2, "a": 7, "\u0061": 9}, "merges": []}})");
  CHECK(r.ok());
  if (!r.ok()) return;
  CHECK_EQ(r->model.vocab.size(), size_t(2));
  CHECK(r->model.vocab[0].token == "a" && r->model.vocab[0].id == 9);
  CHECK(r->model.vocab[1].token == "b" && r->model.vocab[1].id == 2);
}

TEST(escaped_keys_and_unusual_but_valid_json) {
  // Keys are compared after unescaping; integers beyond 64 bits are valid
  // JSON wherever they are skipped; whitespace of every kind is allowed.
  auto r = read_tokenizer_json(
      "\r\n\t {\"\\u006dodel\" : {\"vocab\":{\"x\":4294967295},\"merges\":[],"
      "\"big\": 123456789012345678901234567890, \"tiny\": 1e-400}}\n\n ");
  CHECK(r.ok());
  if (r.ok()) CHECK_EQ(r->model.vocab[0].id, 4294967295u);
}

TEST(error_messages) {
  struct Case {
    const char* doc;
    std::string message;  // full message, position included
  };
  const Case cases[] = {
      // required keys, at the closing brace of their object
      {R"({})", P + "missing field `model` at line 1 column 2"},
      {R"({"model": {"merges": []}})", P + "missing field `vocab` at line 1 column 24"},
      {R"({"model": {"vocab": {}}})", P + "missing field `merges` at line 1 column 23"},
      {R"({"model": {"vocab": {}, "merges": []}, "added_tokens": [{"content": "x"}]})",
       P + "missing field `id` at line 1 column 72"},
      {R"({"model": {"vocab": {}, "merges": []}, "added_tokens": [{"id": 1}]})",
       P + "missing field `content` at line 1 column 65"},
      {R"({"model": {"vocab": {}, "merges": []}, "pre_tokenizer": {"pretokenizers": []}})",
       P + "missing field `type` at line 1 column 77"},
      {R"({"model": {"vocab": {}, "merges": []}, "normalizer": {"type": "Sequence", "normalizers": [{}]}})",
       P + "missing field `type` at line 1 column 92"},
      // repeated keys, at the second key
      {R"({"model": {"vocab": {}, "merges": []}, "model": 1})", P + "duplicate field `model` at line 1 column 40"},
      {R"({"model": {"vocab": {}, "vocab": {}, "merges": []}})", P + "duplicate field `vocab` at line 1 column 25"},
      {R"({"model": {"type": "BPE", "vocab": {}, "merges": [], "type": "BPE"}})",
       P + "duplicate field `type` at line 1 column 54"},
      {"{\"model\": {\"vocab\": {}, \"merges\": []},\n \"normalizer\": {\"type\": \"NFC\", \"t\\u0079pe\": \"NFC\"}}",
       P + "duplicate field `type` at line 2 column 32"},
      {R"({"model": {"vocab": {}, "merges": []}, "added_tokens": [{"id": 1, "content": "x", "id": 2}]})",
       P + "duplicate field `id` at line 1 column 83"},
      {R"({"model": {"vocab": {}, "merges": []}, "pre_tokenizer": {"type": "Split", "pattern": {"Regex": "a", "Regex": "b"}}})",
       P + "duplicate field `Regex` at line 1 column 101"},
      // merge elements
      {R"({"model": {"vocab": {}, "merges": [["a", "b", "c"]]}})",
       P + "data did not match any variant of untagged enum Merge at line 1 column 36"},
      {R"({"model": {"vocab": {}, "merges": [["a"]]}})",
       P + "data did not match any variant of untagged enum Merge at line 1 column 36"},
      {R"({"model": {"vocab": {}, "merges": [["a", 1]]}})",
       P + "data did not match any variant of untagged enum Merge at line 1 column 36"},
      {R"({"model": {"vocab": {}, "merges": ["a b", 7]}})",
       P + "data did not match any variant of untagged enum Merge at line 1 column 43"},
      {R"({"model": {"vocab": {}, "merges": [{"a": "b"}]}})",
       P + "data did not match any variant of untagged enum Merge at line 1 column 36"},
      {R"({"model": {"vocab": {}, "merges": ["ab"]}})", P + "invalid merge entry: \"ab\" at line 1 column 36"},
      {R"({"model": {"vocab": {}, "merges": ["a b", "q\"\\\t\u0001"]}})",
       P + "invalid merge entry: \"q\\\"\\\\\\t\\u{1}\" at line 1 column 43"},
      // a malformed element after a space-less string is reported first
      {R"({"model": {"vocab": {}, "merges": ["ab", "c d", null]}})",
       P + "data did not match any variant of untagged enum Merge at line 1 column 49"},
      // types
      {R"([])", P + "invalid type: sequence, expected struct TokenizerJson at line 1 column 1"},
      {R"({"model": {"vocab": {}, "merges": []}, "added_tokens": null})",
       P + "invalid type: null, expected a sequence at line 1 column 56"},
      {R"({"model": {"type": null, "vocab": {}, "merges": []}})",
       P + "invalid type: null, expected a string at line 1 column 20"},
      {R"({"model": {"vocab": {}, "merges": [], "byte_fallback": 1}})",
       P + "invalid type: integer `1`, expected a boolean at line 1 column 56"},
      {R"({"model": {"vocab": {"a": -1}, "merges": []}})",
       P + "invalid value: integer `-1`, expected u32 at line 1 column 27"},
      {R"({"model": {"vocab": {"a": 4294967296}, "merges": []}})",
       P + "invalid value: integer `4294967296`, expected u32 at line 1 column 27"},
      {R"({"model": {"vocab": {"a": 1.0}, "merges": []}})",
       P + "invalid type: floating point `1.0`, expected u32 at line 1 column 27"},
      {R"({"model": {"vocab": {"a": "1"}, "merges": []}})",
       P + "invalid type: string \"1\", expected u32 at line 1 column 27"},
      {R"({"model": {"vocab": [], "merges": []}})", P + "invalid type: sequence, expected a map at line 1 column 21"},
      {R"({"model": {"vocab": {}, "merges": []}, "pre_tokenizer": {"type": "Split", "pattern": "x"}})",
       P + "invalid type: string \"x\", expected struct PatternJson at line 1 column 86"},
      // syntax
      {"", P + "EOF while parsing a value at line 1 column 1"},
      {"   \n ", P + "EOF while parsing a value at line 2 column 2"},
      {R"({"model": {"vocab": {}, "merges": []}} x)",
       P + "JSON has non-whitespace trailing characters after the value at line 1 column 40"},
      {R"({"model": {"vocab": {}, "merges": []}}{})",
       P + "JSON has non-whitespace trailing characters after the value at line 1 column 39"},
      {"{\"model\": {\"vocab\": {}, \"merges\": []},}", P + "trailing comma at line 1 column 39"},
      {"{\"model\": {\"vocab\": {}, \"merges\": [1 2]}}", P + "expected `,` or `]` at line 1 column 38"},
      {"{\"model\"}", P + "expected `:` at line 1 column 9"},
      {"{\"model\": {\"vocab\": {}, \"merges\": []}", P + "EOF while parsing an object at line 1 column 38"},
      {"{\"x\": \"abc", P + "EOF while parsing a string at line 1 column 11"},
      {"{\"x\": \"a\xFF\"}", P + "invalid unicode code point at line 1 column 9"},
      {"{\"x\": \"\xED\xA0\x80\"}", P + "invalid unicode code point at line 1 column 8"},
      {"{\"x\": \"\\ud800\"}", P + "lone leading surrogate in hex escape at line 1 column 8"},
      {"{\"x\": \"\\q\"}", P + "invalid escape at line 1 column 9"},
      {"{\"x\": \"a\tb\"}", P + "control character (\\u0000-\\u001F) found while parsing a string at line 1 column 9"},
      {"{\"x\": tru}", P + "expected ident at line 1 column 10"},
      {"{\"x\": 01}", P + "expected `,` or `}` at line 1 column 8"},
      {"{\"x\": 1e999}", P + "number out of range at line 1 column 7"},
      {"{\"x\": -}", P + "invalid number at line 1 column 8"},
      {"{1: 2}", P + "key must be a string at line 1 column 2"},
  };
  for (const Case& c : cases) {
    const std::string got = parse_message(c.doc);
    if (got != c.message) {
      std::printf("  doc:  %s\n  got:  %s\n  want: %s\n", c.doc, got.c_str(), c.message.c_str());
      CHECK_EQ(got, c.message);
    }
  }
}

TEST(nesting_limit) {
  // The top object is level 1: 127 more levels inside a skipped key are fine.
  auto nested = [](int levels) {
    std::string s = R"({"model": {"vocab": {}, "merges": []}, "x": )";
    for (int i = 1; i < levels; ++i) s += '[';
    for (int i = 1; i < levels; ++i) s += ']';
    return s + "}";
  };
  CHECK_EQ(parse_message(nested(128)), "OK");
  const std::string deep = parse_message(nested(129));
  CHECK_EQ(deep, P + "recursion limit exceeded at line 1 column 172");
}

TEST(size_limit_message) {
  // The bound is checked before anything is read or copied; a view of the
  // right length over a small buffer is enough to reach it.
  static const char byte = '{';
  std::string_view huge(&byte, size_t(1) << 32);
  auto r = read_tokenizer_json(huge);
  CHECK(!r.ok());
  if (!r.ok())
    CHECK_EQ(r.error().message,
             P + "Only support JSON less than 4 GB, the input JSON is too large here, len is 4294967296");
}

TEST(file_entry_errors) {
  auto missing = read_tokenizer_json_file("/nonexistent/dir/tokenizer.json");
  CHECK(!missing.ok());
  if (!missing.ok()) {
    CHECK_EQ(missing.error().message, "Failed to read /nonexistent/dir/tokenizer.json");
    CHECK_EQ(missing.error().causes.size(), size_t(1));
    if (!missing.error().causes.empty())
      CHECK_EQ(missing.error().causes[0], "No such file or directory (os error 2)");
  }
  auto dir = read_tokenizer_json_file("/tmp");
  CHECK(!dir.ok());
  if (!dir.ok()) {
    CHECK_EQ(dir.error().message, "Failed to read /tmp");
    CHECK(!dir.error().causes.empty() && dir.error().causes[0] == "Is a directory (os error 21)");
  }

  char path[] = "/tmp/morvik_hf_reader_XXXXXX";
  const int fd = mkstemp(path);
  CHECK(fd >= 0);
  if (fd < 0) return;
  const std::string bad = "{\"model\": 1}";
  CHECK_EQ(write(fd, bad.data(), bad.size()), ssize_t(bad.size()));
  close(fd);
  auto r = read_tokenizer_json_file(path);
  CHECK(!r.ok());
  if (!r.ok()) {
    CHECK_EQ(r.error().message, std::string("Failed to parse ") + path);
    CHECK(!r.error().causes.empty() &&
          r.error().causes[0] == P + "invalid type: integer `1`, expected struct Model at line 1 column 11");
  }
  FILE* f = std::fopen(path, "wb");
  std::fwrite(kValid.data(), 1, kValid.size(), f);
  std::fclose(f);
  auto ok = read_tokenizer_json_file(path);
  CHECK(ok.ok());
  if (ok.ok()) CHECK_EQ(ok->model.vocab.size(), size_t(5));
  unlink(path);

  // Paths are shown as text; bytes that are not UTF-8 become U+FFFD.
  CHECK_EQ(path_text("/a/\xFF\xC3\xA9/\xE2\x82"), "/a/\xEF\xBF\xBD\xC3\xA9/\xEF\xBF\xBD");
  auto odd = read_tokenizer_json_file("/nonexistent/\xFF.json");
  CHECK(!odd.ok() && odd.error().message == "Failed to read /nonexistent/\xEF\xBF\xBD.json");
}

TEST(debug_quoting) {
  CHECK_EQ(debug_quoted("a\"b\\c"), "\"a\\\"b\\\\c\"");
  CHECK_EQ(debug_quoted(std::string("\r\n\t\0\x1b\x7f", 6)), "\"\\r\\n\\t\\0\\u{1b}\\u{7f}\"");
  CHECK_EQ(debug_quoted("\xC2\x85\xC3\xA9"), "\"\\u{85}\xC3\xA9\"");
  CHECK_EQ(debug_quoted("\\p{L}"), "\"\\\\p{L}\"");
}

// Every strict prefix of a document is invalid; so is nearly every mutation.
// Both must come back as errors (never crash), and the syntax checker must
// agree with simdjson on what is valid JSON.
TEST(truncated_mutated_and_random_input) {
  auto simdjson_valid = [](std::string_view s) {
    simdjson::dom::parser p;
    if (p.allocate(s.size() + 1, JSON_MAX_DEPTH)) return false;
    simdjson::padded_string ps(s);
    return !p.parse(ps).error();
  };
  for (size_t n = 0; n < kValid.size(); ++n) {
    const std::string_view prefix(kValid.data(), n);
    // Only a prefix that ends after the final brace is complete.
    const bool complete = prefix.find_last_of('}') == kValid.find_last_of('}');
    auto r = read_tokenizer_json(prefix);
    CHECK_EQ(r.ok(), complete);
    CHECK_EQ(!find_json_syntax_error(prefix).has_value(), complete);
  }
  std::mt19937_64 rng(12345);
  const char alphabet[] = "{}[]\":, \\u0aZ-1.e\n\x80\xC3\xFF";
  size_t disagreements = 0;
  for (int round = 0; round < 4000; ++round) {
    std::string doc = kValid;
    const int edits = 1 + int(rng() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = rng() % doc.size();
      switch (rng() % 3) {
        case 0: doc[at] = alphabet[rng() % (sizeof alphabet - 1)]; break;
        case 1: doc.erase(at, 1 + rng() % 3); break;
        default: doc.insert(at, 1, alphabet[rng() % (sizeof alphabet - 1)]); break;
      }
      if (doc.empty()) doc = "{";
    }
    auto r = read_tokenizer_json(doc);
    if (!r.ok()) CHECK(r.error().message.rfind(P, 0) == 0);
    const bool checker_ok = !find_json_syntax_error(doc).has_value();
    if (checker_ok != simdjson_valid(doc)) {
      if (disagreements++ < 5) std::printf("  checker and simdjson disagree on: %s\n", doc.c_str());
    }
  }
  CHECK_EQ(disagreements, size_t(0));
  for (int round = 0; round < 2000; ++round) {
    std::string doc(rng() % 200, '\0');
    for (char& c : doc) c = char(rng());
    if (round % 2) doc[0] = '{';
    auto r = read_tokenizer_json(doc);
    CHECK(!r.ok());
  }
}

TEST_MAIN()
