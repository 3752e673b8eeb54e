// Encodes documents with a tokenizer built from a tiktoken ranks file, for
// the differential tests against peers.
//
// Usage: morvik_encode_ranks RANKS_FILE [KIND] < docs > ids
// `docs` is a sequence of (u32 little-endian byte length, bytes); `ids` is,
// per document, (u32 count, count u32 ids). KIND is the pretokenizer kind
// number (default 0, R50k). "<|endoftext|>" is added with the id one past
// the last rank, as the Python constructors do.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bpe/tiktoken.h"
#include "load_tokenizer/tiktoken.h"

using namespace morvik;

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s RANKS_FILE [KIND] < docs > ids\n", argv[0]);
    return 2;
  }
  auto ranks = load_tokenizer::load_tiktoken(argv[1]);
  if (!ranks.ok()) {
    std::fprintf(stderr, "%s\n", ranks.error().message.c_str());
    return 1;
  }
  const auto n = bpe::TokenId(ranks->size());
  auto tok = bpe::Tokenizer::from_ranks(std::move(*ranks));
  if (!tok.ok()) {
    std::fprintf(stderr, "%s\n", tok.error().message.c_str());
    return 1;
  }
  tok->add_special_token("<|endoftext|>", n);
  if (argc > 2) tok->pretokenizer_kind = pretokenize::PretokenizerKind(std::atoi(argv[2]));
  std::vector<bpe::TokenId> ids;
  std::string doc;
  uint32_t len;
  while (std::fread(&len, 4, 1, stdin) == 1) {
    doc.resize(len);
    if (len && std::fread(doc.data(), 1, len, stdin) != len) return 1;
    ids.clear();
    tok->encode_with_added_tokens(doc, ids);
    const uint32_t count = uint32_t(ids.size());
    std::fwrite(&count, 4, 1, stdout);
    std::fwrite(ids.data(), 4, ids.size(), stdout);
  }
  return 0;
}
