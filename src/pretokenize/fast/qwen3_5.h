// The Qwen3_5 pretokenizer (kind 3):
//   (?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?[\p{L}\p{M}]+|\p{N}| ?[^\s\p{L}\p{M}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+
// A cl100k-family kind: combining marks count as letters (classes from class_of_marks_join), every number alone.
#pragma once

#include "pretokenize/fast/cl100k_family.h"

namespace morvik::pretokenize {

struct Qwen3_5Params {
  static constexpr bool digits_by_three = false;
  static constexpr bool trailing_space_whole = false;
  static constexpr bool marks_join = true;
};

using FastQwen3_5Pretokenizer = FastCl100kFamilyPretokenizer<Qwen3_5Params>;

}  // namespace morvik::pretokenize
