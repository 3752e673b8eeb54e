// Single-thread encoding throughput of the rank-based tokenizer.
//
// Usage: bench_encode RANKS_FILE CORPUS... [--mb N] [--dump-ids DIR]
// For each corpus file (its first N MiB, default all) it reports MB/s of
// encode_with_added_tokens on one thread, cold (a fresh fork, empty pretoken
// cache: the figure comparable to tokenizers without a cache) and warm (the
// same text again on that fork). The text is encoded in documents of about
// 64 KiB cut at line ends, like a batch of documents would be. With
// --dump-ids the ids of each corpus are written to DIR/<basename>.ids
// (u32 little-endian) so that bench/bench_encode_peers.py can check them
// against a peer before comparing speeds.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "bpe/tiktoken.h"
#include "load_tokenizer/tiktoken.h"

using namespace morvik;
using Clock = std::chrono::steady_clock;

namespace {

std::string read_prefix(const char* path, size_t limit) {
  std::string s;
  FILE* f = std::fopen(path, "rb");
  if (!f) return s;
  char buf[1 << 16];
  size_t n;
  while (s.size() < limit && (n = std::fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  std::fclose(f);
  if (s.size() > limit) s.resize(limit);
  // Do not end inside a UTF-8 character.
  while (!s.empty() && (uint8_t(s.back()) & 0xC0) == 0x80) s.pop_back();
  if (!s.empty() && uint8_t(s.back()) >= 0xC0) s.pop_back();
  return s;
}

std::vector<std::string_view> split_docs(std::string_view text, size_t target) {
  std::vector<std::string_view> docs;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t end = pos + target < text.size() ? text.find('\n', pos + target) : std::string_view::npos;
    end = end == std::string_view::npos ? text.size() : end + 1;
    docs.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return docs;
}

double encode_all(bpe::Tokenizer& t, const std::vector<std::string_view>& docs, std::vector<bpe::TokenId>& ids) {
  ids.clear();
  const auto t0 = Clock::now();
  for (auto d : docs) t.encode_with_added_tokens(d, ids);
  return std::chrono::duration<double>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<const char*> corpora;
  const char* ranks_path = nullptr;
  const char* dump_dir = nullptr;
  size_t limit = size_t(-1);
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--mb") && i + 1 < argc) limit = size_t(std::atof(argv[++i]) * 1048576);
    else if (!std::strcmp(argv[i], "--dump-ids") && i + 1 < argc) dump_dir = argv[++i];
    else if (!ranks_path) ranks_path = argv[i];
    else corpora.push_back(argv[i]);
  }
  if (!ranks_path || corpora.empty()) {
    std::fprintf(stderr, "usage: %s RANKS_FILE CORPUS... [--mb N] [--dump-ids DIR]\n", argv[0]);
    return 2;
  }
  auto ranks = load_tokenizer::load_tiktoken(ranks_path);
  if (!ranks.ok()) {
    std::fprintf(stderr, "%s\n", ranks.error().message.c_str());
    return 1;
  }
  const auto n_ranks = bpe::TokenId(ranks->size());
  const auto t_load = Clock::now();
  auto tok = bpe::Tokenizer::from_ranks(std::move(*ranks));
  if (!tok.ok()) {
    std::fprintf(stderr, "%s\n", tok.error().message.c_str());
    return 1;
  }
  tok->add_special_token("<|endoftext|>", n_ranks);
  std::printf("tokenizer: %s (from_ranks %.0f ms)\n", tok->debug_text().c_str(),
              std::chrono::duration<double, std::milli>(Clock::now() - t_load).count());
  std::printf("threads: 1\n");

  std::vector<bpe::TokenId> ids;
  for (const char* path : corpora) {
    const std::string text = read_prefix(path, limit);
    if (text.empty()) {
      std::printf("%s: missing or empty, skipped\n", path);
      continue;
    }
    const auto docs = split_docs(text, 65536);
    const double mb = double(text.size()) / 1e6;
    double cold = 1e30, warm = 1e30;
    for (int rep = 0; rep < 3; ++rep) {
      bpe::Tokenizer f = tok->fork();
      cold = std::min(cold, encode_all(f, docs, ids));
      warm = std::min(warm, encode_all(f, docs, ids));
    }
    const char* base = std::strrchr(path, '/');
    base = base ? base + 1 : path;
    std::printf("%-12s %8.2f MB  %8zu ids  cold %7.1f MB/s  warm %7.1f MB/s\n", base, mb, ids.size(), mb / cold,
                mb / warm);
    if (dump_dir) {
      const std::string out = std::string(dump_dir) + "/" + base + ".ids";
      FILE* f = std::fopen(out.c_str(), "wb");
      if (!f) {
        std::fprintf(stderr, "cannot write %s\n", out.c_str());
        return 1;
      }
      std::fwrite(ids.data(), sizeof(bpe::TokenId), ids.size(), f);
      std::fclose(f);
    }
    std::fflush(stdout);
  }
  return 0;
}
