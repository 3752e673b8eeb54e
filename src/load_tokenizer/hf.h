// HuggingFace tokenizer.json: the records of the subset this system reads,
// and the reader that fills them.
//
// Guarantees of the reader: the whole input is valid JSON (UTF-8, at most
// JSON_MAX_DEPTH levels of nesting, nothing but whitespace after the value);
// every listed key is read with its type checked, missing required keys and
// repeated keys are refused; every unlisted key is skipped whatever its value.
// Every failure is an Error whose message ends in " at line L column C".
// Nothing of a failed parse survives. The builders (byte-level BPE in
// hf_bpe.h, SentencePiece later) only read these records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "common/error.h"

namespace morvik::load_tokenizer {

// A Split pattern or a Replace pattern; either or both may be absent.
struct PatternJson {
  std::optional<std::string> regex;   // "Regex"
  std::optional<std::string> string;  // "String"
};

struct PreTokenizerJson {
  std::string type;                              // "ByteLevel", "Split", "Sequence", "Metaspace", ...
  std::vector<PreTokenizerJson> pretokenizers;   // children of a "Sequence"
  std::optional<PatternJson> pattern;            // pattern of a "Split"
  std::optional<std::string> replacement;        // Metaspace
  std::optional<std::string> prepend_scheme;     // Metaspace
  std::optional<bool> split;                     // Metaspace
  std::optional<bool> add_prefix_space;
};

struct NormalizerJson {
  std::string type;                             // "NFC", "Sequence", "Prepend", "Replace", ...
  std::vector<NormalizerJson> normalizers;      // children of a "Sequence"
  std::optional<PatternJson> pattern;           // Replace
  std::optional<std::string> content;           // Replace
  std::optional<std::string> prepend;           // Prepend
  std::optional<bool> strip_left;               // Strip
  std::optional<bool> strip_right;              // Strip
  std::optional<std::string> precompiled_charsmap;  // Precompiled, base64 text
};

struct AddedToken {
  uint32_t id = 0;
  std::string content;
  bool special = false;
  bool lstrip = false;
  bool rstrip = false;
  bool normalized = false;
};

// One merge rule: the two token strings, as written in the vocabulary.
struct Merge {
  std::string left;
  std::string right;
};

// One vocabulary pair. Token strings are unique within Model::vocab: when a
// document repeats a key, the later id replaces the earlier one, keeping the
// first occurrence's position.
struct VocabEntry {
  std::string token;
  uint32_t id;
};

struct Model {
  std::string type = "BPE";
  std::vector<VocabEntry> vocab;  // document order
  std::vector<Merge> merges;      // document order
  bool byte_fallback = false;
  // Emit a pretoken that is itself a vocabulary entry without merging it
  // (llama3-style models). Such models' merges alone do not always rebuild
  // every vocabulary entry, so ignoring the flag would give other ids.
  bool ignore_merges = false;
};

struct TokenizerJson {
  Model model;
  std::vector<AddedToken> added_tokens;  // document order
  std::optional<PreTokenizerJson> pre_tokenizer;
  std::optional<NormalizerJson> normalizer;
};

// Documents of this many bytes or more are refused before parsing.
inline constexpr uint64_t MAX_JSON_BYTES = uint64_t(1) << 32;

// Parses a whole in-memory document. Errors: "Failed to parse tokenizer JSON: "
// followed by the description of the problem and its position.
Result<TokenizerJson> read_tokenizer_json(std::string_view data);

// The same name the SentencePiece builder and Python layer know it by.
inline Result<TokenizerJson> parse_tokenizer_json(std::string_view data) { return read_tokenizer_json(data); }

// Reads and parses a file. Errors: "Failed to read " + path caused by the OS
// error; "Failed to parse " + path caused by the in-memory parse error.
Result<TokenizerJson> read_tokenizer_json_file(const std::string& path);

// Debug form of a string: wrapped in double quotes, with backslash escapes for
// double quotes, backslashes and control characters. Used in messages that
// show document text (merge entries, regexes).
std::string debug_quoted(std::string_view text);

// A path's bytes as message text: invalid UTF-8 becomes U+FFFD.
std::string path_text(std::string_view path);

}  // namespace morvik::load_tokenizer
