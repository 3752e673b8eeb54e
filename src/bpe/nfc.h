// UTF-8 checks and NFC normalisation of text segments (utf8proc underneath).
//
// `nfc_normalize` guarantees: when it returns false the input is already in
// NFC (nothing was written); when it returns true `out` holds the NFC form.
// Already-normalised text is recognised by a quick check (one table lookup
// per code point) before any rewrite, so the common case costs one pass.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace morvik::bpe {

bool is_ascii(std::string_view s);
bool is_valid_utf8(std::string_view s);

// True when every code point of the valid UTF-8 text `s` is one whose
// presence can never change under NFC (no canonical decomposition that
// differs from its composition, combining class 0, never the second part of
// a composition). Sound, not complete: false means "normalise to find out".
bool nfc_quick_check(std::string_view s);

// `s` must be valid UTF-8. `codepoints` is reusable working memory.
bool nfc_normalize(std::string_view s, std::string& out, std::vector<int32_t>& codepoints);

}  // namespace morvik::bpe
