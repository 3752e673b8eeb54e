// Single-thread throughput of the DeepSeek V3 scanner on the corpora.
//
// Usage: bench_deepseek_scan [corpus.txt ...]   (default: en, code and multi
// from $MORVIK_CORPUS_DIR or ~/.cache/morvik-corpus). Each file is split at
// "<|endoftext|>" and every document is scanned on its own, as the encoder
// does. The spans are checked to tile each document before timing; the best
// of several passes is reported in MB/s (10^6 bytes per second).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "pretokenize/fast/deepseek_v3.h"

using morvik::pretokenize::FastDeepSeekV3Pretokenizer;

namespace {

bool read_file(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  std::ostringstream ss;
  ss << f.rdbuf();
  out = ss.str();
  return true;
}

std::vector<std::string_view> split_docs(std::string_view all) {
  const std::string_view sep = "<|endoftext|>";
  std::vector<std::string_view> docs;
  size_t p = 0;
  while (true) {
    size_t q = all.find(sep, p);
    if (q == std::string_view::npos) {
      docs.push_back(all.substr(p));
      break;
    }
    docs.push_back(all.substr(p, q - p));
    p = q + sep.size();
  }
  return docs;
}

// Returns the number of spans; false in `ok` if any document is not tiled.
size_t scan_all(const std::vector<std::string_view>& docs, bool& ok) {
  size_t spans = 0;
  ok = true;
  for (auto d : docs) {
    FastDeepSeekV3Pretokenizer scan(d);
    size_t end = 0;
    while (auto s = scan.next()) {
      ok &= s->offset == end && s->length > 0;
      end = s->offset + s->length;
      ++spans;
    }
    ok &= end == d.size();
  }
  return spans;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> paths;
  for (int i = 1; i < argc; ++i) paths.emplace_back(argv[i]);
  if (paths.empty()) {
    std::string dir;
    if (const char* e = std::getenv("MORVIK_CORPUS_DIR")) dir = e;
    else if (const char* h = std::getenv("HOME")) dir = std::string(h) + "/.cache/morvik-corpus";
    for (const char* n : {"en", "code", "multi"}) paths.push_back(dir + "/" + n + ".txt");
  }
  std::printf("DeepSeek V3 scanner, 1 thread\n");
  for (const auto& path : paths) {
    std::string all;
    if (!read_file(path, all)) {
      std::printf("%s: not found, skipped\n", path.c_str());
      continue;
    }
    auto docs = split_docs(all);
    size_t bytes = 0;
    for (auto d : docs) bytes += d.size();
    bool ok = false;
    size_t spans = scan_all(docs, ok);
    if (!ok) {
      std::printf("%s: spans do not tile the documents\n", path.c_str());
      return 1;
    }
    double best = 1e30;
    for (int rep = 0; rep < 5; ++rep) {
      auto t0 = std::chrono::steady_clock::now();
      size_t n = scan_all(docs, ok);
      auto t1 = std::chrono::steady_clock::now();
      if (n != spans) return 1;
      best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
    }
    std::printf("%-40s %9.1f MB  %10zu pieces  %8.1f MB/s\n", path.c_str(), bytes / 1e6, spans, bytes / 1e6 / best);
  }
  return 0;
}
