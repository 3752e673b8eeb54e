// Pretokenizer of the DeepSeek V3 family: one left-to-right pass that yields
// exactly the pieces of its three isolating splits applied in sequence,
//   1. \p{N}{1,3}
//   2. [一-龥぀-ゟ゠-ヿ]+
//   3. [!"#$%&'()*+,\-./:;<=>?@\[\\\]^_`{|}~][A-Za-z]+|[^\r\n\p{L}\p{P}\p{S}]?[\p{L}\p{M}]+
//      | ?[\p{P}\p{S}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+
// without building the intermediate pieces.
//
// Guarantees: on valid UTF-8 the spans are those pieces; on any byte string
// the spans are non-empty, in order, and tile the text exactly, and the
// scanner never reads outside the text or the class table (a character is
// sized by its lead byte alone and clipped to the end of the text). The state
// is three words and a table pointer; nothing is allocated.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "pretokenize/block_scan.h"

namespace morvik::pretokenize {

class FastDeepSeekV3Pretokenizer {
 public:
  explicit FastDeepSeekV3Pretokenizer(std::string_view text);

  // The next piece, or none once the text is exhausted (and ever after).
  std::optional<PretokenSpan> next();

  // f(offset, length) for every remaining piece.
  template <class F>
  void for_each(F&& f) {
    while (auto s = next()) f(s->offset, s->length);
  }

 private:
  const uint8_t* text_;
  size_t len_;
  size_t pos_;
  const uint8_t* table_;
};

}  // namespace morvik::pretokenize
