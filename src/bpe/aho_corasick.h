// Leftmost-longest multi-pattern matcher over byte strings (Aho-Corasick).
//
// find(text, from) returns the match that starts earliest at or after
// `from`; among matches starting at the same byte, the longest; among
// identical patterns, the one given first. Search time is linear in the bytes
// examined: the automaton stops as soon as no longer or earlier match can
// still complete. Empty patterns never match. The matcher is immutable after
// construction and safe to search from any number of threads; tokenizers and
// their forks share one instance by shared_ptr.
//
// Representation: a full transition table over byte classes when it is small
// (nodes x classes <= 2^20 entries), else a sparse trie with failure links and
// a dense root row. Positions where the automaton sits in its root state are
// skipped by a first-byte prefilter (memchr for one first byte, a 16-byte
// vector compare for up to four, a byte table otherwise).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace morvik::bpe {

struct AcMatch {
  uint32_t pattern;  // index into the pattern list given at construction
  size_t start;
  size_t end;  // exclusive
};

class AhoCorasick {
 public:
  static constexpr size_t kDefaultDenseLimit = size_t{1} << 20;

  // `dense_limit`: the largest transition table (in entries) built in the
  // dense form; tests lower it to exercise the sparse form.
  explicit AhoCorasick(const std::vector<std::string_view>& patterns, size_t dense_limit = kDefaultDenseLimit);

  std::optional<AcMatch> find(std::string_view text, size_t from = 0) const;

  size_t pattern_count() const { return pattern_len_.size(); }
  bool is_dense() const { return !dfa_.empty(); }

 private:
  static constexpr uint32_t kNone = 0xFFFFFFFFu;

  uint32_t step_sparse(uint32_t state, uint8_t byte) const;
  size_t skip_to_candidate(const uint8_t* t, size_t i, size_t n) const;

  std::vector<uint32_t> pattern_len_;
  std::vector<uint32_t> depth_;    // per state: length of the state's string
  std::vector<uint32_t> out_;      // per state: longest pattern that is a suffix, or kNone
  std::vector<uint32_t> fail_;     // per state (sparse form)
  std::vector<uint32_t> edge_begin_;  // per state: range into edge_byte_/edge_to_ (sparse form)
  std::vector<uint8_t> edge_byte_;
  std::vector<uint32_t> edge_to_;
  std::array<uint32_t, 256> root_{};  // root row: next state per byte (0 = stay)

  std::array<uint8_t, 256> byte_class_{};
  uint32_t classes_ = 1;
  std::vector<uint32_t> dfa_;  // dense form: dfa_[state * classes_ + class]

  std::array<bool, 256> first_byte_{};
  uint8_t first_bytes_[4] = {};
  int n_first_bytes_ = 0;  // distinct first bytes, capped at 5 (= "many")
};

}  // namespace morvik::bpe
