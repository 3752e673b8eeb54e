// Turning raw bytes (paths, separators, field names) into text for messages.
//
// Guarantees: every output is valid UTF-8; invalid input sequences become
// U+FFFD, one per maximal invalid subpart, like Python's "replace" decoding.
#pragma once

#include <string>
#include <string_view>

namespace morvik::input {

// True when `bytes` is well-formed UTF-8.
bool is_utf8(std::string_view bytes) noexcept;

// `bytes` decoded as UTF-8 with invalid sequences replaced by U+FFFD.
std::string lossy_utf8(std::string_view bytes);

// `bytes` (decoded lossily) between double quotes: quote and backslash are
// escaped, TAB/CR/LF/NUL become \t \r \n \0, other control characters
// \u{hex}; everything else is kept as it is.
std::string debug_quote(std::string_view bytes);

}  // namespace morvik::input
