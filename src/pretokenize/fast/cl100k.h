// The Cl100k pretokenizer (kind 1, tiktoken cl100k_base and both textual forms of its expression):
//   '(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s+
// A cl100k-family kind: numbers in threes, and a white-space run that ends the text is one piece (the \s++$ alternative).
#pragma once

#include "pretokenize/fast/cl100k_family.h"

namespace morvik::pretokenize {

struct Cl100kParams {
  static constexpr bool digits_by_three = true;
  static constexpr bool trailing_space_whole = true;
  static constexpr bool marks_join = false;
};

using FastCl100kPretokenizer = FastCl100kFamilyPretokenizer<Cl100kParams>;

}  // namespace morvik::pretokenize
