// Shared immutable byte strings.
//
// A vocabulary's token bytes are allocated once and shared by reference
// counting between its id-to-bytes table, its bytes-to-id map, the added-token
// list and every fork of the tokenizer. An empty string marks a hole.
#pragma once

#include <memory>
#include <string>
#include <string_view>

namespace morvik {

using ByteStr = std::shared_ptr<const std::string>;

inline ByteStr make_bytes(std::string_view s) { return std::make_shared<const std::string>(s); }
inline ByteStr make_bytes(std::string&& s) { return std::make_shared<const std::string>(std::move(s)); }
inline std::string_view view(const ByteStr& b) { return b ? std::string_view(*b) : std::string_view(); }

}  // namespace morvik
