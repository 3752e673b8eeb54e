// The documents of one range of a loaded file, whatever its format: the one
// loop the encoder runs per file chunk.
//
// Guarantees: documents are passed to `emit` in file order, each a view that
// is valid only during the call (plain-text documents are slices of `data`;
// JSON Lines documents are unescaped into the reader's buffer). For JSON
// Lines the returned status tells how many lines were consumed and, if the
// range stopped at a bad line, which one (see jsonl.h, `first_bad_line`);
// for plain text it is always clean.
#pragma once

#include <string_view>
#include <type_traits>

#include "input/file_source.h"
#include "input/jsonl.h"
#include "input/mod.h"

namespace morvik::input {

template <class Emit>
JsonlRangeStatus for_each_document(std::string_view data, ByteRange range, const DocFormat& format, Emit&& emit) {
  static_assert(std::is_invocable_v<Emit&, std::string_view>);
  if (const auto* j = format.as_jsonl()) {
    JsonLinesSlice slice(data, range.start, range.end, j->field);
    while (auto doc = slice.next()) emit(*doc);
    return slice.status();
  }
  DocumentIter it(data, text_separator(*format.as_text()), range.start, range.end);
  while (auto doc = it.next()) emit(*doc);
  return {};
}

}  // namespace morvik::input
