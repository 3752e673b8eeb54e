// Load time of byte-level BPE tokenizers from tokenizer.json: reading and
// parsing, building, and the whole load, best of N runs, single thread.
//
//   bench_hf_load [--runs N] file.json...
//
// Prints one line per file: "<file> read_ms=.. build_ms=.. load_ms=..
// vocab_size=.. merges=.. added=..". bench/hf_load.py runs it next to
// tokenizers.Tokenizer.from_file and prints the ratios.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "load_tokenizer/hf_bpe.h"

using namespace morvik::load_tokenizer;

namespace {

double ms_since(std::chrono::steady_clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--runs") && i + 1 < argc) runs = std::max(1, std::atoi(argv[++i]));
    else files.push_back(argv[i]);
  }
  if (files.empty()) {
    std::fprintf(stderr, "usage: bench_hf_load [--runs N] file.json...\n");
    return 2;
  }
  int status = 0;
  for (const std::string& path : files) {
    double best_read = 1e300, best_build = 1e300, best_load = 1e300;
    size_t vocab = 0, merges = 0, added = 0;
    bool failed = false;
    for (int r = 0; r < runs && !failed; ++r) {
      auto t0 = std::chrono::steady_clock::now();
      auto json = read_tokenizer_json_file(path);
      const double read_ms = ms_since(t0);
      if (!json.ok()) {
        std::printf("%s error=%s\n", path.c_str(), json.error().message.c_str());
        failed = true;
        break;
      }
      auto t1 = std::chrono::steady_clock::now();
      auto tok = build_bpe(*json);
      const double build_ms = ms_since(t1);
      if (!tok.ok()) {
        std::printf("%s error=%s\n", path.c_str(), tok.error().message.c_str());
        failed = true;
        break;
      }
      best_read = std::min(best_read, read_ms);
      best_build = std::min(best_build, build_ms);
      vocab = tok->vocab_size();
      merges = tok->merges.size();
      added = tok->added_tokens.size();
      // The entry point the Python layer calls, end to end.
      auto t2 = std::chrono::steady_clock::now();
      auto whole = load_bpe_from_hf_file(path);
      best_load = std::min(best_load, ms_since(t2));
      if (!whole.ok()) failed = true;
    }
    if (failed) {
      status = 1;
      continue;
    }
    std::printf("%s read_ms=%.2f build_ms=%.2f load_ms=%.2f vocab_size=%zu merges=%zu added=%zu\n", path.c_str(),
                best_read, best_build, best_load, vocab, merges, added);
  }
  return status;
}
