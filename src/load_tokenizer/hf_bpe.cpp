#include "load_tokenizer/hf_bpe.h"

#include <array>
#include <utility>

#include "bpe/flat_map.h"

namespace morvik::load_tokenizer {

using bpe::TokenId;
using pretokenize::PretokenizerKind;

namespace {

// Code points 0..0x143 that stand for a byte, and the byte each stands for
// (-1: not in the alphabet). An array rather than a hash map: the alphabet is
// dense, and every vocabulary and merge string is decoded through it.
constexpr uint32_t ALPHABET_END = 0x144;

struct Alphabet {
  std::array<int16_t, ALPHABET_END> byte_of{};
  std::array<uint16_t, 256> char_of{};
};

constexpr bool maps_to_itself(unsigned b) { return (b >= 33 && b <= 126) || (b >= 161 && b <= 172) || b >= 174; }

constexpr Alphabet make_alphabet() {
  Alphabet a;
  for (auto& v : a.byte_of) v = -1;
  unsigned next = 0x100;
  for (unsigned b = 0; b < 256; ++b) {
    const unsigned cp = maps_to_itself(b) ? b : next++;
    a.char_of[b] = uint16_t(cp);
    a.byte_of[cp] = int16_t(b);
  }
  return a;
}

constexpr Alphabet kAlphabet = make_alphabet();
static_assert(kAlphabet.char_of[0] == 0x100 && kAlphabet.char_of[10] == 0x10A && kAlphabet.char_of[32] == 0x120);
static_assert(kAlphabet.char_of[127] == 0x121 && kAlphabet.char_of[160] == 0x142 && kAlphabet.char_of[173] == 0x143);

// Decodes `text` as byte-level characters into `out`; false as soon as a
// character is outside the alphabet (or the text is not UTF-8).
bool decode_byte_level(std::string_view text, std::string& out) {
  out.clear();
  const auto* p = reinterpret_cast<const unsigned char*>(text.data());
  const size_t n = text.size();
  size_t i = 0;
  while (i < n) {
    uint32_t cp;
    const unsigned char c = p[i];
    if (c < 0x80) {
      cp = c;
      ++i;
    } else if (c >= 0xC2 && c <= 0xDF && i + 1 < n && (p[i + 1] & 0xC0) == 0x80) {
      // Every character of the alphabet is below U+0800: two bytes at most.
      cp = (uint32_t(c & 0x1F) << 6) | (p[i + 1] & 0x3F);
      i += 2;
    } else {
      return false;
    }
    if (cp >= ALPHABET_END) return false;
    const int16_t b = kAlphabet.byte_of[cp];
    if (b < 0) return false;
    out.push_back(char(b));
  }
  return true;
}

// Byte strings to ids for resolving merges: the vocabulary's decoded strings.
// The map ignores empty keys, so the empty string's id is kept beside it.
class LookupMap {
 public:
  void reserve(size_t) {}
  void insert(std::string_view bytes, TokenId id) {
    if (bytes.empty()) {
      if (!has_empty_) empty_id_ = id;
      has_empty_ = true;
      return;
    }
    map_.insert(bytes, id);
  }
  const TokenId* find(std::string_view bytes) const {
    if (bytes.empty()) return has_empty_ ? &empty_id_ : nullptr;
    return map_.find(bytes);
  }
  bool empty() const { return !has_empty_ && map_.size() == 0; }

 private:
  bpe::BytesKeyMap<TokenId> map_;
  TokenId empty_id_ = 0;
  bool has_empty_ = false;
};

Error id_out_of_range(uint32_t id) {
  return Error::make("Token id " + std::to_string(id) + " is out of range: ids must be below " +
                     std::to_string(MAX_TOKEN_ID));
}

// The Split expressions each family reproduces, byte for byte as they stand
// in a document once its JSON escapes are decoded.
struct FamilyRegex {
  std::string_view regex;
  PretokenizerKind kind;
};

constexpr FamilyRegex kSingleRegexFamilies[] = {
    {R"re('(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)re", PretokenizerKind::R50k},
    {R"re('(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s+)re",
     PretokenizerKind::Cl100k},
    {R"re((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]|\s+(?!\S)|\s+)re",
     PretokenizerKind::Cl100k},
    {R"re((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)re",
     PretokenizerKind::Qwen2},
    {R"re((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?[\p{L}\p{M}]+|\p{N}| ?[^\s\p{L}\p{M}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)re",
     PretokenizerKind::Qwen3_5},
    {R"re((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)re",
     PretokenizerKind::Olmo3},
};

// DeepSeek V3's three isolated splits, in order. The third holds raw CR LF
// bytes (not escapes) in its three line-break classes.
constexpr std::string_view kDeepSeekRegexes[] = {
    R"re(\p{N}{1,3})re",
    "[\xE4\xB8\x80-\xE9\xBE\xA5\xE3\x81\x80-\xE3\x82\x9F\xE3\x82\xA0-\xE3\x83\xBF]+",
    R"re([!"#$%&'()*+,\-./:;<=>?@\[\\\]^_`{|}~][A-Za-z]+|[^)re"
    "\r\n"
    R"re(\p{L}\p{P}\p{S}]?[\p{L}\p{M}]+| ?[\p{P}\p{S}]+[)re"
    "\r\n"
    R"re(]*|\s*[)re"
    "\r\n"
    R"re(]+|\s+(?!\S)|\s+)re",
};
static_assert(kSingleRegexFamilies[0].regex.size() == 71 && kSingleRegexFamilies[1].regex.size() == 118 &&
              kSingleRegexFamilies[2].regex.size() == 114 && kSingleRegexFamilies[3].regex.size() == 110 &&
              kSingleRegexFamilies[4].regex.size() == 122 && kSingleRegexFamilies[5].regex.size() == 115);
static_assert(kDeepSeekRegexes[0].size() == 10 && kDeepSeekRegexes[1].size() == 24 &&
              kDeepSeekRegexes[2].size() == 126);

void collect_into(const PreTokenizerJson& node, std::vector<std::string>& out) {
  if (node.type == "Split" && node.pattern && node.pattern->regex) out.push_back(*node.pattern->regex);
  for (const PreTokenizerJson& child : node.pretokenizers) collect_into(child, out);
}

Error unmatched_regexes(const std::vector<std::string>& regexes) {
  std::string list = "[";
  for (size_t i = 0; i < regexes.size(); ++i) {
    if (i) list += ", ";
    list += debug_quoted(regexes[i]);
  }
  list += "]";
  return Error::make("Unknown pre_tokenizer Split regexes, no fast pretokenizer for: " + list);
}

}  // namespace

uint32_t byte_level_char(uint8_t b) { return kAlphabet.char_of[b]; }

void unicode_to_bytes_into(std::string_view text, std::string& out) {
  if (!decode_byte_level(text, out)) out.assign(text);
}

std::string unicode_to_bytes(std::string_view text) {
  std::string out;
  unicode_to_bytes_into(text, out);
  return out;
}

std::vector<std::string> collect_split_regexes(const PreTokenizerJson& pre_tokenizer) {
  std::vector<std::string> out;
  collect_into(pre_tokenizer, out);
  return out;
}

Result<PretokenizerKind> detect_pretokenizer_type(const std::optional<PreTokenizerJson>& pre_tokenizer) {
  if (!pre_tokenizer) return PretokenizerKind::R50k;
  const std::vector<std::string> regexes = collect_split_regexes(*pre_tokenizer);
  if (regexes.empty()) {
    if (pre_tokenizer->type == "ByteLevel") return PretokenizerKind::R50k;
    return Error::make("Unsupported pre_tokenizer type: " + pre_tokenizer->type + " (no Split regex found)");
  }
  if (regexes.size() == 1) {
    for (const FamilyRegex& f : kSingleRegexFamilies)
      if (regexes[0] == f.regex) return f.kind;
    return unmatched_regexes(regexes);
  }
  if (regexes.size() == 3 && regexes[0] == kDeepSeekRegexes[0] && regexes[1] == kDeepSeekRegexes[1] &&
      regexes[2] == kDeepSeekRegexes[2])
    return PretokenizerKind::DeepSeekV3;
  return unmatched_regexes(regexes);
}

// Recursion depth is that of the document, which the reader bounds.
Result<bool> is_nfc(const NormalizerJson& normalizer) {
  if (normalizer.type == "NFC") return true;
  if (normalizer.type == "Sequence") {
    bool any = false;
    for (const NormalizerJson& child : normalizer.normalizers) {
      Result<bool> r = is_nfc(child);
      if (!r.ok()) return std::move(r).error();
      any |= *r;
    }
    return any;
  }
  return Error::make("Unsupported normalizer type: " + normalizer.type);
}

Result<bool> detect_nfc_normalizer(const std::optional<NormalizerJson>& normalizer) {
  if (!normalizer) return false;
  return is_nfc(*normalizer);
}

Result<bpe::Tokenizer> build_bpe(const TokenizerJson& json) {
  const Model& model = json.model;
  if (model.type != "BPE") return Error::make("Unsupported model type: " + model.type + " (expected BPE)");
  if (model.byte_fallback) return Error::make("byte_fallback tokenizers should use load_hf_sentencepiece instead");

  // Vocabulary: the table is sized by the largest id, holes in between.
  uint32_t max_id = 0;
  for (const VocabEntry& e : model.vocab) max_id = std::max(max_id, e.id);
  for (const AddedToken& t : json.added_tokens) max_id = std::max(max_id, t.id);
  if (max_id >= MAX_TOKEN_ID) return id_out_of_range(max_id);

  uint32_t vocab_len = 1;
  for (const VocabEntry& e : model.vocab) vocab_len = std::max(vocab_len, e.id + 1);
  const ByteStr hole = make_bytes(std::string());
  std::vector<ByteStr> id_to_bytes(vocab_len, hole);
  LookupMap lookup;
  std::string buffer;
  for (const VocabEntry& e : model.vocab) {
    unicode_to_bytes_into(e.token, buffer);
    lookup.insert(buffer, e.id);
    id_to_bytes[e.id] = buffer.empty() ? hole : make_bytes(std::string_view(buffer));
  }

  // Added tokens fill holes with their text as it is; they are not entered in
  // the lookup map, so merges never resolve to them.
  for (const AddedToken& t : json.added_tokens) {
    if (t.id >= id_to_bytes.size()) id_to_bytes.resize(size_t(t.id) + 1, hole);
    if (id_to_bytes[t.id]->empty() && !t.content.empty()) id_to_bytes[t.id] = make_bytes(std::string_view(t.content));
  }

  // Merges: the merged id is the priority, so only which pair becomes which
  // token matters, not the order of the list; the first rule for a pair wins.
  bpe::MergeMap merges;
  merges.reserve(model.merges.size());
  if (!lookup.empty()) {
    std::string left, right;
    for (const Merge& m : model.merges) {
      unicode_to_bytes_into(m.left, left);
      const TokenId* l = lookup.find(left);
      if (!l) continue;
      unicode_to_bytes_into(m.right, right);
      const TokenId* r = lookup.find(right);
      if (!r) continue;
      left += right;
      const TokenId* merged = lookup.find(left);
      if (!merged) continue;
      merges.insert(*l, *r, *merged);
    }
  }

  auto remapping = bpe::ByteRemapping::from_byte_vocab(id_to_bytes);
  if (!remapping.ok()) return std::move(remapping).error();
  auto kind = detect_pretokenizer_type(json.pre_tokenizer);
  if (!kind.ok()) return std::move(kind).error();
  auto nfc = detect_nfc_normalizer(json.normalizer);
  if (!nfc.ok()) return std::move(nfc).error();

  std::vector<std::pair<std::string, TokenId>> added;
  added.reserve(json.added_tokens.size());
  for (const AddedToken& t : json.added_tokens) added.emplace_back(t.content, t.id);

  bpe::Tokenizer tokenizer;
  tokenizer.merges = std::move(merges);
  tokenizer.id_to_bytes = std::move(id_to_bytes);
  tokenizer.byte_remapping = std::move(*remapping);
  tokenizer.bytes_to_id = bpe::BytesToIdMap::from_id_to_bytes(tokenizer.id_to_bytes);
  tokenizer.pretokenizer_kind = *kind;
  tokenizer.nfc = *nfc;
  tokenizer.ignore_merges = json.model.ignore_merges;
  tokenizer.set_added_tokens(std::move(added));
  return tokenizer;
}

Result<bpe::Tokenizer> load_bpe_from_hf_file(const std::string& path) {
  auto json = read_tokenizer_json_file(path);
  if (!json.ok()) return std::move(json).error();
  return build_bpe(*json);
}

Result<bpe::Tokenizer> load_bpe_from_hf_json(std::string_view data) {
  auto json = read_tokenizer_json(data);
  if (!json.ok()) return std::move(json).error();
  return build_bpe(*json);
}

}  // namespace morvik::load_tokenizer
