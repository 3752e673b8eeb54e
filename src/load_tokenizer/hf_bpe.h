// Building a byte-level BPE `Tokenizer` from a parsed tokenizer.json.
//
// Guarantees: vocabulary strings and merge strings are decoded through the
// byte-level alphabet; merges that name unknown tokens are dropped, never an
// error; the pre-tokenizer and normalizer must map exactly onto one fast
// pretokenizer family and the NFC switch, otherwise the build fails with a
// message naming what was found (nothing is approximated). Token ids are
// bounded by MAX_TOKEN_ID, so a hostile document cannot make the id table
// arbitrarily large. The build only reads the records.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "bpe/tiktoken.h"
#include "common/error.h"
#include "load_tokenizer/hf.h"
#include "pretokenize/mod.h"

namespace morvik::load_tokenizer {

// Ids at or above this bound are refused: the id table holds one entry per id
// up to the largest, and real vocabularies stay far below 2^24 (the largest in
// use have about 256k tokens). The bound also keeps the id 0xFFFFFFFF, which
// the merge kernels reserve, out of every table.
inline constexpr uint32_t MAX_TOKEN_ID = 1u << 24;

// The bytes a vocabulary string stands for: one byte per character when every
// character is in the byte-level alphabet, else the string's own UTF-8 bytes.
std::string unicode_to_bytes(std::string_view text);
// The same into `out` (cleared first), for loops that reuse one buffer.
void unicode_to_bytes_into(std::string_view text, std::string& out);

// The byte-level alphabet: the character (code point) byte b is written as.
uint32_t byte_level_char(uint8_t b);

// "Regex" strings of the "Split" nodes of a pre-tokenizer tree, depth first,
// a node before its children.
std::vector<std::string> collect_split_regexes(const PreTokenizerJson& pre_tokenizer);

// The fast pretokenizer family for a document's pre-tokenizer (R50k when absent).
Result<pretokenize::PretokenizerKind> detect_pretokenizer_type(const std::optional<PreTokenizerJson>& pre_tokenizer);

// Whether a normalizer amounts to NFC (or to nothing); any other normaliser fails.
Result<bool> is_nfc(const NormalizerJson& normalizer);
// False when the document has no normalizer, else is_nfc.
Result<bool> detect_nfc_normalizer(const std::optional<NormalizerJson>& normalizer);

Result<bpe::Tokenizer> build_bpe(const TokenizerJson& json);

// The entry points of the Python layer: read or parse, then build_bpe.
Result<bpe::Tokenizer> load_bpe_from_hf_file(const std::string& path);
Result<bpe::Tokenizer> load_bpe_from_hf_json(std::string_view data);

}  // namespace morvik::load_tokenizer
