// The Qwen2 pretokenizer (kind 2):
//   (?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+
// A cl100k-family kind: every number is a piece of its own.
#pragma once

#include "pretokenize/fast/cl100k_family.h"

namespace morvik::pretokenize {

struct Qwen2Params {
  static constexpr bool digits_by_three = false;
  static constexpr bool trailing_space_whole = false;
  static constexpr bool marks_join = false;
};

using FastQwen2Pretokenizer = FastCl100kFamilyPretokenizer<Qwen2Params>;

}  // namespace morvik::pretokenize
