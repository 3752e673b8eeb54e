// Throughput of document input on the corpora: mapping, gzip and zstd
// decoding, plain-text splitting and JSON Lines reading, single-threaded.
// Usage: bench_input [corpus_dir]   (default: $MORVIK_CORPUS_DIR or
// ~/.cache/morvik-corpus, files <name>.txt and <name>.jsonl).
// Before timing, checks that the JSON Lines documents equal the plain-text
// documents split at "<|endoftext|>" (when both files hold the same corpus).
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "input/loaded_file.h"
#include "input/range_documents.h"
#include "../../tests/native/input_fixtures.h"

using namespace morvik::input;

namespace {

template <class F>
double best_seconds(F&& f, int reps = 3) {
  double best = 1e30;
  for (int i = 0; i < reps; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    best = std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count());
  }
  return best;
}

std::string read_whole(const std::string& p) {
  auto r = load_file(p, Compression::None);
  if (!r) {
    std::fprintf(stderr, "%s\n", r.error().message.c_str());
    std::exit(1);
  }
  return std::string(r->bytes());
}

void report(const char* corpus, const char* what, std::size_t bytes, double s) {
  std::printf("%-6s %-28s %8.1f MB  %8.0f MB/s  (1 thread)\n", corpus, what, bytes / 1e6, bytes / s / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  std::string dir = argc > 1 ? argv[1] : "";
  if (dir.empty()) {
    const char* env = std::getenv("MORVIK_CORPUS_DIR");
    dir = env ? env : std::string(std::getenv("HOME") ? std::getenv("HOME") : ".") + "/.cache/morvik-corpus";
  }
  fixtures::TempDir tmp;
  for (const char* name : {"en", "code", "multi"}) {
    const std::string txt = dir + "/" + name + ".txt", jsl = dir + "/" + name + ".jsonl";
    if (!std::filesystem::exists(txt) || !std::filesystem::exists(jsl)) continue;
    const std::string text = read_whole(txt), lines = read_whole(jsl);
    const std::string sep = "<|endoftext|>";

    std::vector<std::string_view> tdocs;
    for_each_document(text, {0, text.size()}, DocFormat::text(sep), [&](std::string_view d) { tdocs.push_back(d); });
    std::size_t k = 0, mismatches = 0;
    auto st = for_each_document(lines, {0, lines.size()}, DocFormat::jsonl(), [&](std::string_view d) {
      if (k >= tdocs.size() || tdocs[k] != d) ++mismatches;
      ++k;
    });
    std::printf("%-6s %zu text documents, %zu JSON Lines documents, %zu differ%s\n", name, tdocs.size(), k,
                mismatches, st.bad ? ", JSON Lines stopped at a bad line" : "");

    std::size_t sink = 0;
    report(name, "map .txt (lazy, untouched)", text.size(), best_seconds([&] {
             auto r = load_file(txt);
             sink += r->size();
           }));
    report(name, "split at <|endoftext|>", text.size(), best_seconds([&] {
             for_each_document(text, {0, text.size()}, DocFormat::text(sep), [&](std::string_view d) { sink += d.size(); });
           }));
    report(name, "chunk_ranges (1 MiB)", text.size(), best_seconds([&] {
             sink += chunk_ranges(text, DocFormat::text(sep), 1 << 20).size();
           }));
    report(name, "JSON Lines documents", lines.size(), best_seconds([&] {
             for_each_document(lines, {0, lines.size()}, DocFormat::jsonl(), [&](std::string_view d) { sink += d.size(); });
           }));
    const std::string gz = tmp.write("c.txt.gz", fixtures::gzip(text));
    const std::string zs = tmp.write("c.txt.zst", fixtures::zstd(text));
    report(name, "load .gz (output bytes)", text.size(), best_seconds([&] {
             auto r = load_file(gz);
             sink += r->size();
           }, 2));
    report(name, "load .zst (output bytes)", text.size(), best_seconds([&] {
             auto r = load_file(zs);
             sink += r->size();
           }, 2));
    if (sink == 42) std::printf("\n");
  }
  return 0;
}
