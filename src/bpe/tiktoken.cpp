#include "bpe/tiktoken.h"

#include <algorithm>
#include <cstring>

#include "bpe/nfc.h"

namespace morvik::bpe {

BytesToIdMap BytesToIdMap::from_id_to_bytes(const std::vector<ByteStr>& id_to_bytes) {
  BytesToIdMap m;
  m.map_->reserve(id_to_bytes.size());
  for (size_t id = 0; id < id_to_bytes.size(); ++id) {
    const ByteStr& b = id_to_bytes[id];
    if (!b || b->empty()) continue;
    (*m.map_)[b] = TokenId(id);  // ascending ids: the higher id stays
  }
  return m;
}

void BytesToIdMap::insert_or_assign(const ByteStr& bytes, TokenId id) {
  if (map_.use_count() > 1) map_ = std::make_shared<Map>(*map_);
  auto it = map_->find(view(bytes));
  if (it != map_->end()) it->second = id;
  else map_->emplace(bytes, id);
}

namespace {

// A 16-byte load at p stays inside p's 4096-byte page.
inline bool load16_stays_in_page(const char* p) { return (reinterpret_cast<uintptr_t>(p) & 4095) <= 4096 - 16; }

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kOverreadAllowed = false;  // the sanitizer would flag the in-page over-read
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kOverreadAllowed = false;
#else
constexpr bool kOverreadAllowed = true;
#endif
#else
constexpr bool kOverreadAllowed = true;
#endif

}  // namespace

Key128 short_pretoken_key(std::string_view s) {
  const size_t n = s.size();
  uint64_t lo, hi;
  if (kOverreadAllowed && load16_stays_in_page(s.data())) {
    // The bytes past the pretoken belong to the same page, so the load cannot
    // fault; they are masked off below.
    std::memcpy(&lo, s.data(), 8);
    std::memcpy(&hi, s.data() + 8, 8);
  } else {
    char buf[16] = {};
    std::memcpy(buf, s.data(), n);
    std::memcpy(&lo, buf, 8);
    std::memcpy(&hi, buf + 8, 8);
  }
  if (n < 8) {
    lo &= (uint64_t{1} << (8 * n)) - 1;
    hi = 0;
  } else {
    hi &= (uint64_t{1} << (8 * (n - 8))) - 1;  // n - 8 <= 7
  }
  hi |= uint64_t(n) << 56;
  return Key128{lo, hi};
}

Result<Tokenizer> Tokenizer::from_ranks(std::vector<std::string> ranks) {
  Tokenizer t;
  t.id_to_bytes.reserve(ranks.size());
  for (auto& r : ranks) t.id_to_bytes.push_back(make_bytes(std::move(r)));
  t.bytes_to_id = BytesToIdMap::from_id_to_bytes(t.id_to_bytes);

  // Each multi-byte token must be the merge of exactly two lower-ranked
  // tokens: run BPE over its bytes with the merges known so far.
  MergeScratch scratch;
  std::vector<TokenId> syms;
  std::array<TokenId, 256> byte_id;
  std::array<bool, 256> byte_known{};
  for (unsigned b = 0; b < 256; ++b) {
    const char c = char(b);
    if (auto id = t.bytes_to_id.find(std::string_view(&c, 1))) {
      // Full 32-bit ids: single-byte tokens at ids of 256 or more still give
      // the right merges instead of being truncated to 8 bits.
      byte_id[b] = *id;
      byte_known[b] = true;
    }
  }
  t.merges.reserve(t.id_to_bytes.size());
  for (size_t id = 0; id < t.id_to_bytes.size(); ++id) {
    const std::string& tok = *t.id_to_bytes[id];
    if (tok.size() < 2) continue;
    syms.clear();
    for (unsigned char c : tok) {
      if (!byte_known[c]) {
        static const char hex[] = "0123456789abcdef";
        std::string msg = "Token " + std::to_string(id) + " contains byte 0x";
        msg += hex[c >> 4];
        msg += hex[c & 15];
        msg += ", which has no single-byte token";
        return Error::make(std::move(msg));
      }
      syms.push_back(byte_id[c]);
    }
    bpe_merge_symbols_with_scratch(t.merges, syms, scratch);
    if (syms.size() != 2)
      return Error::make("Token " + std::to_string(id) + " of " + std::to_string(tok.size()) +
                         " bytes does not reduce to two lower-ranked tokens (it reduces to " +
                         std::to_string(syms.size()) + ")");
    t.merges.insert(syms[0], syms[1], TokenId(id));
  }

  auto remap = ByteRemapping::from_byte_vocab(t.id_to_bytes);
  if (!remap.ok()) return std::move(remap).error();
  t.byte_remapping = *remap;
  t.nfc = false;
  t.pretokenizer_kind = PretokenizerKind::R50k;
  return t;
}

void Tokenizer::set_added_token_list(std::vector<std::pair<ByteStr, TokenId>> tokens) {
  std::erase_if(tokens, [](const auto& e) { return !e.first || e.first->empty(); });
  std::stable_sort(tokens.begin(), tokens.end(),
                   [](const auto& a, const auto& b) { return a.first->size() > b.first->size(); });
  if (tokens.empty()) {
    added_matcher.reset();
  } else {
    std::vector<std::string_view> pats;
    pats.reserve(tokens.size());
    for (const auto& e : tokens) pats.push_back(*e.first);
    added_matcher = std::make_shared<const AhoCorasick>(pats);
  }
  added_tokens = std::move(tokens);
}

void Tokenizer::set_added_tokens(std::vector<std::pair<std::string, TokenId>> tokens) {
  std::vector<std::pair<ByteStr, TokenId>> list;
  list.reserve(tokens.size());
  for (auto& [bytes, id] : tokens) list.emplace_back(make_bytes(std::move(bytes)), id);
  set_added_token_list(std::move(list));
}

void Tokenizer::add_special_token(std::string_view token, TokenId id) {
  ByteStr bytes = make_bytes(token);
  if (size_t(id) >= id_to_bytes.size()) {
    static const ByteStr hole = make_bytes(std::string_view());
    id_to_bytes.resize(size_t(id) + 1, hole);
  }
  ByteStr& slot = id_to_bytes[id];
  if (!slot || slot->empty()) {
    slot = bytes;
    if (!bytes->empty()) bytes_to_id.insert_or_assign(bytes, id);
  }
  auto list = added_tokens;
  list.emplace_back(std::move(bytes), id);
  set_added_token_list(std::move(list));
}

void Tokenizer::encode_with_added_tokens(std::string_view text, std::vector<TokenId>& out) {
  if (text.empty()) return;
  if (!added_matcher) {
    encode_segment(text, out);
    return;
  }
  const AhoCorasick& ac = *added_matcher;
  size_t pos = 0;
  while (pos < text.size()) {
    const auto m = ac.find(text, pos);
    if (!m) break;
    encode_segment(text.substr(pos, m->start - pos), out);
    out.push_back(added_tokens[m->pattern].second);
    pos = m->end;
  }
  if (pos < text.size()) encode_segment(text.substr(pos), out);
}

namespace {

inline void append_ids(std::vector<TokenId>& out, const TokenId* src, size_t n) {
  // Most pretokens are one or two ids: skip the generic range insert.
  if (n <= 2) {
    if (n > 0) out.push_back(src[0]);
    if (n > 1) out.push_back(src[1]);
    return;
  }
  out.insert(out.end(), src, src + n);
}

// Pretokens travel through a short queue between the scanner and the cache:
// each one's cache slot is prefetched when it enters and looked up when it
// leaves, so the lookups (random accesses into a table far larger than the
// L2 cache once many distinct pretokens were seen) overlap instead of
// stalling one after another. Measured with r50k on 16 MiB of each corpus
// (bench_encode, one thread): warm 1.3x (en), 1.4x (code), 1.9x (multi);
// cold 1.1-1.4x.
constexpr size_t kQueue = 8;

}  // namespace

Tokenizer::PendingPretoken Tokenizer::prepare_pretoken(const char* data, size_t size) const {
  PendingPretoken p{data, size, {}, 0};
  if (size <= kShortKeyMax) {
    p.key = short_pretoken_key(std::string_view(data, size));
    p.hash = Key128Traits::hash(p.key);
    pretoken_cache_short.prefetch(p.hash);
  } else {
    p.hash = hash_bytes(std::string_view(data, size));
    pretoken_cache_long.prefetch(p.hash);
  }
  return p;
}

void Tokenizer::encode_segment(std::string_view text, std::vector<TokenId>& out) {
  if (text.empty()) return;
  if (nfc && !is_ascii(text) && is_valid_utf8(text) && nfc_normalize(text, nfc_text, nfc_codepoints)) {
    // nfc_text is only rewritten by the next segment, after this one is done.
    text = nfc_text;
  }
  const char* base = text.data();
  PendingPretoken queue[kQueue];
  size_t head = 0, count = 0;
  pretokenize::for_each_pretoken(pretokenizer_kind, text, [&](size_t offset, size_t length) {
    if (count == kQueue) {
      encode_pretoken(queue[head], out);
      queue[head] = prepare_pretoken(base + offset, length);
      head = (head + 1) % kQueue;
    } else {
      queue[(head + count++) % kQueue] = prepare_pretoken(base + offset, length);
    }
  });
  for (; count > 0; --count, head = (head + 1) % kQueue) encode_pretoken(queue[head], out);
}

inline void Tokenizer::encode_pretoken(const PendingPretoken& p, std::vector<TokenId>& out) {
  const size_t n = p.size;
  const std::string_view piece(p.data, n);
  const CacheSlice* hit =
      n <= kShortKeyMax ? pretoken_cache_short.find(p.key, p.hash) : pretoken_cache_long.find(piece, p.hash);
  if (hit) {
    append_ids(out, cache_arena.data() + hit->start, hit->length);
    return;
  }

  std::optional<TokenId> whole;
  if (ignore_merges) whole = bytes_to_id.find(piece);
  if (whole) {
    symbols_buffer.assign(1, *whole);
  } else {
    symbols_buffer.resize(n);
    TokenId* sym = symbols_buffer.data();
    const auto* bytes = reinterpret_cast<const uint8_t*>(p.data);
    if (byte_remapping) {
      const auto& table = byte_remapping->table;
      for (size_t i = 0; i < n; ++i) sym[i] = table[bytes[i]];
    } else {
      for (size_t i = 0; i < n; ++i) sym[i] = bytes[i];
    }
    bpe_merge_symbols_with_scratch(merges, symbols_buffer, scratch);
  }

  const size_t len = symbols_buffer.size();
  if (len > cache_arena_limit) {
    // Cannot be addressed by a 32-bit slice: emit without caching.
    out.insert(out.end(), symbols_buffer.begin(), symbols_buffer.end());
    return;
  }
  if (cache_arena.size() + len > cache_arena_limit) {
    // Start the caches over rather than wrap 32-bit offsets; the ids are the
    // same, only earlier work is forgotten.
    cache_arena.clear();
    pretoken_cache_short.clear();
    pretoken_cache_long.clear();
  }
  const CacheSlice slice{uint32_t(cache_arena.size()), uint32_t(len)};
  cache_arena.insert(cache_arena.end(), symbols_buffer.begin(), symbols_buffer.end());
  if (n <= kShortKeyMax) pretoken_cache_short.insert(p.key, p.hash, slice);
  else pretoken_cache_long.insert(piece, p.hash, slice);
  append_ids(out, symbols_buffer.data(), len);
}

Tokenizer Tokenizer::fork() const {
  Tokenizer t;
  t.merges = merges;            // shares the table
  t.id_to_bytes = id_to_bytes;  // shares every token's bytes
  t.bytes_to_id = bytes_to_id;  // shares the map
  t.byte_remapping = byte_remapping;
  t.added_tokens = added_tokens;
  t.added_matcher = added_matcher;
  t.nfc = nfc;
  t.pretokenizer_kind = pretokenizer_kind;
  t.ignore_merges = ignore_merges;
  t.cache_arena_limit = cache_arena_limit;
  return t;
}

std::vector<std::array<TokenId, 3>> Tokenizer::merge_entries() const {
  std::vector<std::array<TokenId, 3>> v;
  v.reserve(merges.size());
  merges.for_each([&](TokenId l, TokenId r, TokenId m) { v.push_back({l, r, m}); });
  std::sort(v.begin(), v.end(), [](const auto& a, const auto& b) {
    return a[2] != b[2] ? a[2] < b[2] : (a[0] != b[0] ? a[0] < b[0] : a[1] < b[1]);
  });
  return v;
}

std::optional<TokenId> Tokenizer::decode(std::span<const TokenId> ids, std::string& out) const {
  const size_t vs = id_to_bytes.size();
  size_t total = 0;
  for (TokenId id : ids) {
    if (id >= vs) return id;
    total += view(id_to_bytes[id]).size();
  }
  out.reserve(out.size() + total);
  for (TokenId id : ids) out.append(view(id_to_bytes[id]));
  return std::nullopt;
}

std::string Tokenizer::debug_text() const {
  return "Tokenizer { vocab_size: " + std::to_string(vocab_size()) + ", merges_count: " + std::to_string(merges.size()) +
         ", byte_remapping: " + (byte_remapping ? "true" : "false") + " }";
}

}  // namespace morvik::bpe
