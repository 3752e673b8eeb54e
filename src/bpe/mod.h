// Token ids, the byte-to-token remapping and the two BPE merge kernels.
//
// The kernels rewrite a symbol sequence in place to its BPE result: while some
// adjacent pair is in the merge table, the pair of lowest priority is replaced
// by its merged token, the leftmost one among equal priorities. They never
// fail, never look at token bytes, and keep no state between calls. Up to 32
// symbols they run on fixed stack arrays (no heap memory is touched); longer
// inputs use a linked list with a lazily pruned min-heap.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "bpe/flat_map.h"
#include "common/bytes.h"
#include "common/error.h"

namespace morvik::bpe {

using TokenId = uint32_t;

// Reserved inside the kernels for "no merge" and "no neighbour"; never a
// merged id, never a rank.
inline constexpr TokenId NO_TOKEN = 0xFFFFFFFFu;

inline constexpr uint64_t pair_key(TokenId left, TokenId right) {
  return (uint64_t{left} << 32) | right;
}

// (left, right) -> merged id; the merged id is also the priority (tiktoken
// convention: a token's rank is its id). Copies share the table (copy on
// write), so tokenizer forks do not duplicate it.
//
// Pairs of two ids below 256 are also kept in a direct 256 x 256 array: every
// pair the kernels look up before their first merge is a pair of byte tokens
// in byte-level vocabularies, and the array (256 KiB) answers those without
// hashing or probing.
class MergeMap {
 public:
  using Table = FlatMap<uint64_t, TokenId, U64KeyTraits>;
  static constexpr TokenId kSmall = 256;

  MergeMap() : data_(std::make_shared<Data>()) {}

  // Adds the pair unless it is present; returns whether it was added.
  bool insert(TokenId left, TokenId right, TokenId merged) {
    Data& d = mut();
    if (!d.table.insert(pair_key(left, right), merged)) return false;
    if (left < kSmall && right < kSmall) d.small[left * kSmall + right] = merged;
    return true;
  }
  // NO_TOKEN when the pair does not merge.
  TokenId find(TokenId left, TokenId right) const {
    if (left < kSmall && right < kSmall) return data_->small[left * kSmall + right];
    const TokenId* v = data_->table.find(pair_key(left, right));
    return v ? *v : NO_TOKEN;
  }
  size_t size() const { return data_->table.size(); }
  bool empty() const { return data_->table.empty(); }
  void reserve(size_t n) { mut().table.reserve(n); }
  // f(left, right, merged) for every entry, in table order.
  template <class F>
  void for_each(F&& f) const {
    data_->table.for_each([&](uint64_t k, TokenId m) { f(TokenId(k >> 32), TokenId(k), m); });
  }
  const Table& table() const { return data_->table; }
  // Entry left * 256 + right: the merge of two ids below 256, or NO_TOKEN.
  const TokenId* small_pairs() const { return data_->small.data(); }

 private:
  struct Data {
    Table table;
    std::array<TokenId, kSmall * kSmall> small;
    Data() { small.fill(NO_TOKEN); }
  };
  Data& mut() {
    if (data_.use_count() > 1) data_ = std::make_shared<Data>(*data_);
    return *data_;
  }
  std::shared_ptr<Data> data_;
};

struct RankedMerge {
  TokenId merged = NO_TOKEN;
  uint32_t rank = NO_TOKEN;
};

// pair_key(left, right) -> (merged id, rank); the rank alone orders merges.
class RankedMergeMap {
 public:
  using Table = FlatMap<uint64_t, RankedMerge, U64KeyTraits>;

  bool insert(uint64_t key, RankedMerge value) { return table_.insert(key, value); }
  bool insert(TokenId left, TokenId right, TokenId merged, uint32_t rank) {
    return table_.insert(pair_key(left, right), RankedMerge{merged, rank});
  }
  const RankedMerge* find(uint64_t key) const { return table_.find(key); }
  const RankedMerge* find(TokenId left, TokenId right) const { return table_.find(pair_key(left, right)); }
  size_t size() const { return table_.size(); }
  bool empty() const { return table_.empty(); }
  void reserve(size_t n) { table_.reserve(n); }
  template <class F>
  void for_each(F&& f) const {
    table_.for_each([&](uint64_t k, const RankedMerge& m) { f(TokenId(k >> 32), TokenId(k), m); });
  }
  const Table& table() const { return table_; }

 private:
  Table table_;
};

// Working memory of the long path of bpe_merge_symbols_with_scratch; grows to
// the longest sequence seen and is reused, so steady-state calls allocate
// nothing.
struct MergeScratch {
  std::vector<uint32_t> next;
  std::vector<uint32_t> prev;
  std::vector<uint64_t> heap;  // priority << 32 | position, as a min-heap
};

// Entry b: the id of the single-byte token whose byte is b.
struct ByteRemapping {
  std::array<TokenId, 256> table{};

  TokenId operator[](uint8_t b) const { return table[b]; }

  // Absent when byte b is token b for every b. Fails when a byte that can
  // occur in UTF-8 text has no single-byte token.
  static Result<std::optional<ByteRemapping>> from_byte_vocab(const std::vector<ByteStr>& vocab);
};

void bpe_merge_symbols_with_scratch(const MergeMap& merges, std::vector<TokenId>& symbols, MergeScratch& scratch);
void bpe_merge_symbols_ranked(const RankedMergeMap& merges, std::vector<TokenId>& symbols);

namespace detail {
// The long path with 64-bit positions, used for sequences whose positions do
// not fit 32 bits; exposed so that tests can run it on small inputs.
void merge_long_wide(const MergeMap& merges, std::vector<TokenId>& symbols);
// The long path of the ranked kernel, whatever the length.
void merge_ranked_long(const RankedMergeMap& merges, std::vector<TokenId>& symbols);
}  // namespace detail

}  // namespace morvik::bpe
