// Throughput of the cl100k-family pretokenizers (single thread), per kind,
// on the corpora en, code and multi (~/.cache/morvik-corpus/NAME.txt, or the
// files given as arguments), split into documents at <|endoftext|> as the
// encoder sees them. Before timing, each kind's spans must tile every
// document and, with PCRE2, equal the kind's expression's matches (the count
// of differing documents is printed; PCRE2's Unicode version may differ from
// utf8proc's). Then MB/s per kind, and PCRE2 JIT with the ratio.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
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

struct KindInfo {
  PretokenizerKind kind;
  const char* name;
  const char* expression;
};

static const KindInfo KINDS[] = {
    {PretokenizerKind::Cl100k, "cl100k",
     R"('(?i:[sdmt]|ll|ve|re)|[^\r\n\p{L}\p{N}]?+\p{L}++|\p{N}{1,3}+| ?[^\s\p{L}\p{N}]++[\r\n]*+|\s++$|\s*[\r\n]|\s+(?!\S)|\s+)"},
    {PretokenizerKind::Qwen2, "qwen2",
     R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)"},
    {PretokenizerKind::Qwen3_5, "qwen3_5",
     R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?[\p{L}\p{M}]+|\p{N}| ?[^\s\p{L}\p{M}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)"},
    {PretokenizerKind::Olmo3, "olmo3",
     R"((?i:'s|'t|'re|'ve|'m|'ll|'d)|[^\r\n\p{L}\p{N}]?\p{L}+|\p{N}{1,3}| ?[^\s\p{L}\p{N}]+[\r\n]*|\s*[\r\n]+|\s+(?!\S)|\s+)"},
};

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
  explicit Pcre2(const char* expr) {
    int err;
    PCRE2_SIZE erroff;
    code = pcre2_compile(reinterpret_cast<PCRE2_SPTR>(expr), PCRE2_ZERO_TERMINATED, PCRE2_UTF | PCRE2_UCP, &err, &erroff,
                         nullptr);
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

static bool read_file(const std::string& path, std::string& out) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::stringstream ss;
  ss << in.rdbuf();
  out = ss.str();
  return true;
}

static void bench_corpus(const std::string& path) {
  std::string data;
  if (!read_file(path, data)) {
    std::printf("corpus %s: not present, skipped\n", path.c_str());
    return;
  }
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
  const double doc_mb = doc_bytes / 1e6;
  std::printf("corpus %s: %.1f MB in %zu documents, threads 1\n", path.c_str(), doc_mb, docs.size());
  size_t sink = 0;
  auto r50k = best_seconds(3, [&] {
    for (auto d : docs) for_each_pretoken(PretokenizerKind::R50k, d, [&](size_t, size_t l) { sink += l; });
  });
  std::printf("  %-8s for_each %8.1f MB/s (reference)\n", "r50k", doc_mb / r50k);
  for (const KindInfo& k : KINDS) {
    size_t count = 0;
    for (auto d : docs) {
      size_t expect = 0;
      bool ok = true;
      for_each_pretoken(k.kind, d, [&](size_t o, size_t l) {
        ok = ok && o == expect && l > 0;
        expect = o + l;
        ++count;
      });
      if (!ok || expect != d.size()) {
        std::fprintf(stderr, "%s: spans do not tile a document of %s\n", k.name, path.c_str());
        std::exit(1);
      }
    }
#ifdef MORVIK_HAVE_PCRE2
    Pcre2 peer(k.expression);
    size_t differ = 0;
    for (auto d : docs) {
      std::vector<std::pair<size_t, size_t>> ours, theirs;
      for_each_pretoken(k.kind, d, [&](size_t o, size_t l) { ours.emplace_back(o, l); });
      peer.for_each(d, 0, [&](size_t o, size_t l) { theirs.emplace_back(o, l); });
      differ += ours != theirs;
    }
#endif
    double t = best_seconds(3, [&] {
      for (auto d : docs) for_each_pretoken(k.kind, d, [&](size_t, size_t l) { sink += l; });
    });
    double t_next = best_seconds(3, [&] {
      for (auto d : docs) {
        FastPretokenizerDispatch it(k.kind, d);
        while (auto s = it.next()) sink += s->length;
      }
    });
    std::printf("  %-8s for_each %8.1f MB/s, next() %8.1f MB/s, %zu pretokens", k.name, doc_mb / t, doc_mb / t_next,
                count);
#ifdef MORVIK_HAVE_PCRE2
    double t_peer = best_seconds(1, [&] {
      for (auto d : docs) peer.for_each(d, PCRE2_NO_UTF_CHECK, [&](size_t, size_t l) { sink += l; });
    });
    std::printf("; PCRE2 JIT %6.1f MB/s, ratio %.1fx, %zu docs differ from PCRE2", doc_mb / t_peer, t_peer / t, differ);
#endif
    std::printf("\n");
  }
  if (sink == 42) std::printf(" ");
}

int main(int argc, char** argv) {
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) paths.push_back(argv[i]);
  if (paths.empty()) {
    std::string dir = std::string(std::getenv("HOME") ? std::getenv("HOME") : ".") + "/.cache/morvik-corpus/";
    for (const char* name : {"en", "code", "multi"}) paths.push_back(dir + name + ".txt");
  }
  for (const auto& p : paths) bench_corpus(p);
  return 0;
}
