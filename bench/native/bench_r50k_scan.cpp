// Throughput of the r50k pretokenizer (single thread) over one corpus file.
// Usage: bench_r50k_scan [FILE] (default ~/.cache/morvik-corpus/en.txt).
// Before timing it checks that the spans tile the file and, with PCRE2, that
// they equal the GPT-2 expression's matches; then it times the scanner on
// the whole file as one text and per document (split at <|endoftext|>, as
// the encoder sees them), and PCRE2 JIT on the same documents.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pretokenize/mod.h"

#ifdef MORVIK_HAVE_PCRE2
#define PCRE2_CODE_UNIT_WIDTH 8
#include <pcre2.h>
#endif

using namespace morvik::pretokenize;
using Clock = std::chrono::steady_clock;

static const char* R50K_EXPRESSION = R"('(?:[sdmt]|ll|ve|re)| ?\p{L}+| ?\p{N}+| ?[^\s\p{L}\p{N}]+|\s+(?!\S)|\s+)";

template <class F>
static double best_seconds(int reps, F&& f) {
  double best = 1e30;
  for (int r = 0; r < reps; ++r) {
    auto t0 = Clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(Clock::now() - t0).count());
  }
  return best;
}

#ifdef MORVIK_HAVE_PCRE2
struct Pcre2 {
  pcre2_code* code = nullptr;
  pcre2_match_data* md = nullptr;
  Pcre2() {
    int err;
    PCRE2_SIZE erroff;
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(R50K_EXPRESSION), PCRE2_ZERO_TERMINATED, PCRE2_UTF | PCRE2_UCP,
                         &err, &erroff, nullptr);
    if (!code || pcre2_jit_compile(code, PCRE2_JIT_COMPLETE) != 0) {
      std::fprintf(stderr, "PCRE2 compile failed\n");
      std::exit(1);
    }
    md = pcre2_match_data_create_from_pattern(code, nullptr);
  }
  ~Pcre2() {
    pcre2_match_data_free(md);
    pcre2_code_free(code);
  }
  template <class F>
  void for_each(std::string_view text, uint32_t opts, F&& f) {
    size_t at = 0;
    while (at < text.size()) {
      int rc = pcre2_jit_match(code, reinterpret_cast<PCRE2_SPTR>(text.data()), text.size(), at, opts, md, nullptr);
      if (rc < 0) {
        std::fprintf(stderr, "PCRE2 match failed (%d)\n", rc);
        std::exit(1);
      }
      PCRE2_SIZE* ov = pcre2_get_ovector_pointer(md);
      f(ov[0], ov[1] - ov[0]);
      at = ov[1];
    }
  }
};
#endif

int main(int argc, char** argv) {
  std::string path = argc > 1 ? argv[1] : std::string(std::getenv("HOME") ? std::getenv("HOME") : ".") +
                                              "/.cache/morvik-corpus/en.txt";
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  std::stringstream ss;
  ss << in.rdbuf();
  const std::string data = ss.str();
  const std::string_view text(data);
  std::vector<std::string_view> docs;
  for (size_t at = 0;;) {
    size_t e = text.find("<|endoftext|>", at);
    docs.push_back(text.substr(at, (e == std::string_view::npos ? text.size() : e) - at));
    if (e == std::string_view::npos) break;
    at = e + 13;
  }
  size_t doc_bytes = 0;
  for (auto d : docs) doc_bytes += d.size();

  // Verification.
  size_t expect = 0, count = 0;
  bool tiles = true;
  for_each_pretoken(PretokenizerKind::R50k, text, [&](size_t o, size_t l) {
    tiles = tiles && o == expect && l > 0;
    expect = o + l;
    ++count;
  });
  if (!tiles || expect != text.size()) {
    std::fprintf(stderr, "spans do not tile %s\n", path.c_str());
    return 1;
  }
#ifdef MORVIK_HAVE_PCRE2
  Pcre2 peer;
  size_t mismatched_docs = 0;
  for (auto d : docs) {
    std::vector<std::pair<size_t, size_t>> ours, theirs;
    for_each_pretoken(PretokenizerKind::R50k, d, [&](size_t o, size_t l) { ours.emplace_back(o, l); });
    peer.for_each(d, 0, [&](size_t o, size_t l) { theirs.emplace_back(o, l); });
    if (ours != theirs) {
      if (++mismatched_docs <= 3) {
        size_t i = 0;
        while (i < std::min(ours.size(), theirs.size()) && ours[i] == theirs[i]) ++i;
        size_t at = i < ours.size() ? ours[i].first : d.size();
        std::fprintf(stderr, "differs from PCRE2 at byte %zu of a document: \"%.*s\"\n", at,
                     static_cast<int>(std::min<size_t>(24, d.size() - at)), d.data() + at);
      }
    }
  }
  std::printf("verified against PCRE2 JIT: %zu of %zu documents differ\n", mismatched_docs, docs.size());
#endif

  const double mb = text.size() / 1e6, doc_mb = doc_bytes / 1e6;
  size_t sink = 0;
  double t_whole = best_seconds(5, [&] {
    for_each_pretoken(PretokenizerKind::R50k, text, [&](size_t o, size_t l) { sink += l; });
  });
  double t_docs = best_seconds(5, [&] {
    for (auto d : docs) for_each_pretoken(PretokenizerKind::R50k, d, [&](size_t o, size_t l) { sink += l; });
  });
  double t_next = best_seconds(5, [&] {
    for (auto d : docs) {
      FastPretokenizerDispatch it(PretokenizerKind::R50k, d);
      while (auto s = it.next()) sink += s->length;
    }
  });
  std::printf("corpus %s: %.1f MB, %zu documents, %zu pretokens, threads 1\n", path.c_str(), mb, docs.size(), count);
  std::printf("r50k for_each, whole file:      %8.1f MB/s\n", mb / t_whole);
  std::printf("r50k for_each, per document:    %8.1f MB/s\n", doc_mb / t_docs);
  std::printf("r50k dispatch next(), per doc:  %8.1f MB/s\n", doc_mb / t_next);
#ifdef MORVIK_HAVE_PCRE2
  double t_peer = best_seconds(1, [&] {
    for (auto d : docs) peer.for_each(d, PCRE2_NO_UTF_CHECK, [&](size_t o, size_t l) { sink += l; });
  });
  std::printf("PCRE2 JIT, per document:        %8.1f MB/s\n", doc_mb / t_peer);
  std::printf("ratio ours / PCRE2 (throughput): %.1fx\n", t_peer / t_docs);
#endif
  if (sink == 42) std::printf(" ");
  return 0;
}
