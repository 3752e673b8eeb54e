// The Olmo3 pretokenizer (kind 4):
//   (?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+
// A cl100k-family kind: numbers in threes; a white-space run at the end of the text is cut like any other.
#pragma once

#include "pretokenize/fast/cl100k_family.h"

namespace morvik::pretokenize {

struct Olmo3Params {
  static constexpr bool digits_by_three = true;
  static constexpr bool trailing_space_whole = false;
  static constexpr bool marks_join = false;
};

using FastOlmo3Pretokenizer = FastCl100kFamilyPretokenizer<Olmo3Params>;

}  // namespace morvik::pretokenize
