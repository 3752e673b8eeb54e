// The rank-based byte-level BPE tokenizer (tiktoken convention: a token's
// rank is its id) with its pretoken caches and added tokens.
//
// Guarantees: encoding never fails and is a pure function of the tables (the
// caches only save work: a fork with empty caches gives the same ids, and a
// cache reset changes nothing); ids are appended to the caller's vector,
// which is never cleared. Added tokens are matched on the raw bytes before
// any normalisation and split the text, so the pretokenizer never sees text
// across one. A Tokenizer is used by one thread at a time; forks share the
// immutable tables (token bytes, merge table, bytes-to-id map, matcher).
//
// The fields are public so that the tokenizer.json builder can fill them;
// after filling `id_to_bytes`, build `bytes_to_id` with
// BytesToIdMap::from_id_to_bytes and call set_added_tokens.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "bpe/aho_corasick.h"
#include "bpe/flat_map.h"
#include "bpe/mod.h"
#include "common/bytes.h"
#include "common/error.h"
#include "pretokenize/mod.h"

namespace morvik::bpe {

using morvik::pretokenize::PretokenizerKind;

// Token bytes -> id. Copies share the map until one of them is written.
class BytesToIdMap {
 public:
  BytesToIdMap() : map_(std::make_shared<Map>()) {}

  // Every non-empty entry in ascending id order; when bytes repeat, the
  // higher id is kept. Holes (empty strings) are not tokens and stay out.
  static BytesToIdMap from_id_to_bytes(const std::vector<ByteStr>& id_to_bytes);

  std::optional<TokenId> find(std::string_view bytes) const {
    auto it = map_->find(bytes);
    if (it == map_->end()) return std::nullopt;
    return it->second;
  }
  void insert_or_assign(const ByteStr& bytes, TokenId id);
  size_t size() const { return map_->size(); }

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const noexcept { return hash_bytes(s); }
    size_t operator()(const ByteStr& s) const noexcept { return hash_bytes(view(s)); }
  };
  struct Eq {
    using is_transparent = void;
    bool operator()(std::string_view a, const ByteStr& b) const noexcept { return a == view(b); }
    bool operator()(const ByteStr& a, std::string_view b) const noexcept { return view(a) == b; }
    bool operator()(const ByteStr& a, const ByteStr& b) const noexcept { return view(a) == view(b); }
  };
  using Map = std::unordered_map<ByteStr, TokenId, Hash, Eq>;
  std::shared_ptr<Map> map_;
};

// A slice of the cache arena: a cached pretoken's ids.
struct CacheSlice {
  uint32_t start = 0;
  uint32_t length = 0;
};

using ShortPretokenCache = FlatMap<Key128, CacheSlice, Key128Traits>;
using LongPretokenCache = BytesKeyMap<CacheSlice>;

// Pretokens of up to this many bytes are keyed by a 128-bit value.
inline constexpr size_t kShortKeyMax = 15;

// Bytes 0..14 hold the pretoken (zero-filled), byte 15 its length, so keys
// of different lengths never collide. 1 <= s.size() <= 15.
Key128 short_pretoken_key(std::string_view s);

struct Tokenizer {
  MergeMap merges;
  std::vector<ByteStr> id_to_bytes;
  BytesToIdMap bytes_to_id;
  std::optional<ByteRemapping> byte_remapping;
  std::vector<TokenId> cache_arena;
  ShortPretokenCache pretoken_cache_short;
  LongPretokenCache pretoken_cache_long;
  MergeScratch scratch;
  std::vector<TokenId> symbols_buffer;
  std::vector<std::pair<ByteStr, TokenId>> added_tokens;  // longest first
  std::shared_ptr<const AhoCorasick> added_matcher;        // null when there are none
  bool nfc = false;
  PretokenizerKind pretokenizer_kind = PretokenizerKind::R50k;
  // A pretoken found whole in `bytes_to_id` is that one id, unmerged.
  bool ignore_merges = false;

  // Work buffers of NFC normalisation (reused across calls).
  std::string nfc_text;
  std::vector<int32_t> nfc_codepoints;
  // The arena is addressed by 32-bit offsets; when an insertion would pass
  // this many ids, both caches and the arena start over. Lowered by tests.
  size_t cache_arena_limit = 0xFFFFFFFFu;

  Tokenizer() = default;
  Tokenizer(Tokenizer&&) = default;
  Tokenizer& operator=(Tokenizer&&) = default;
  // Copying would duplicate the caches; fork() is the way to get another.
  Tokenizer(const Tokenizer&) = delete;
  Tokenizer& operator=(const Tokenizer&) = delete;

  // `ranks[k]` is the token of rank and id k. Derives the merge table and the
  // byte remapping; the result uses the R50k pretokenizer and has no NFC and
  // no added tokens.
  static Result<Tokenizer> from_ranks(std::vector<std::string> ranks);

  void set_added_tokens(std::vector<std::pair<std::string, TokenId>> tokens);
  void add_special_token(std::string_view token, TokenId id);

  void encode_with_added_tokens(std::string_view text, std::vector<TokenId>& out);
  void encode_segment(std::string_view text, std::vector<TokenId>& out);

  Tokenizer fork() const;

  size_t vocab_size() const { return id_to_bytes.size(); }
  // (left, right, merged) for every merge, by merged id ascending.
  std::vector<std::array<TokenId, 3>> merge_entries() const;
  // Appends the bytes of `ids` (holes add nothing). If some id is not below
  // vocab_size, returns the first such id and appends nothing.
  std::optional<TokenId> decode(std::span<const TokenId> ids, std::string& out) const;
  std::string debug_text() const;

 private:
  struct PendingPretoken {
    const char* data;
    size_t size;
    Key128 key;  // short pretokens only
    uint64_t hash;
  };
  PendingPretoken prepare_pretoken(const char* data, size_t size) const;
  void encode_pretoken(const PendingPretoken& p, std::vector<TokenId>& out);
  void set_added_token_list(std::vector<std::pair<ByteStr, TokenId>> tokens);
};

}  // namespace morvik::bpe
