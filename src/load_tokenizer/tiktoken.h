// Reader of tiktoken ranks files: one "<base64 token> <rank>" per line.
//
// Guarantees: the result lists the decoded tokens in rank order, rank k being
// entry k; ranks must run 0, 1, 2, ... exactly. Any malformed line (no space,
// a rank that is not a decimal unsigned 32-bit number or differs from the
// line's index, a token that is not canonical padded base64) is an error
// naming the 1-based line number; nothing is returned in that case. An empty
// token decodes to an empty string (a hole in the id space).
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "common/error.h"

namespace morvik::load_tokenizer {

Result<std::vector<std::string>> load_tiktoken(const std::string& path);

// The same rules on a file already in memory (no UTF-8 check).
Result<std::vector<std::string>> parse_tiktoken(std::string_view data);

}  // namespace morvik::load_tokenizer
