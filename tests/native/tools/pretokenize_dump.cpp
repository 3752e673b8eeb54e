// Pretoken lengths of a stream of texts, for the differential tests.
// Usage: morvik_pretokenize_dump KIND [--next]
// stdin: records [u32 LE byte length][bytes]; stdout per record:
// [u32 LE count][u32 LE length of each span]. By default the spans come from
// for_each_pretoken (the encoder's path); --next uses FastPretokenizerDispatch.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "pretokenize/mod.h"

using namespace morvik::pretokenize;

static bool read_exact(void* p, size_t n) { return n == 0 || std::fread(p, 1, n, stdin) == n; }

static void put_u32(std::vector<unsigned char>& out, uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<unsigned char>(v >> (8 * i)));
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s KIND [--next]\n", argv[0]);
    return 2;
  }
  const auto kind = static_cast<PretokenizerKind>(std::atoi(argv[1]));
  const bool use_next = argc > 2 && std::strcmp(argv[2], "--next") == 0;
  std::vector<unsigned char> out;
  std::vector<uint32_t> lens;
  for (;;) {
    unsigned char hdr[4];
    size_t got = std::fread(hdr, 1, 4, stdin);
    if (got == 0) break;
    if (got != 4) {
      std::fprintf(stderr, "truncated record header\n");
      return 1;
    }
    uint32_t n = hdr[0] | (hdr[1] << 8) | (hdr[2] << 16) | (uint32_t(hdr[3]) << 24);
    // An exact-size heap block, so a sanitizer build reports any read past the text.
    std::unique_ptr<char[]> text(new char[n ? n : 1]);
    if (!read_exact(text.get(), n)) {
      std::fprintf(stderr, "truncated record\n");
      return 1;
    }
    std::string_view view(text.get(), n);
    lens.clear();
    size_t expect = 0;
    bool ok = true;
    auto take = [&](size_t off, size_t len) {
      ok = ok && off == expect && len > 0;
      expect = off + len;
      lens.push_back(static_cast<uint32_t>(len));
    };
    if (use_next) {
      FastPretokenizerDispatch d(kind, view);
      while (auto s = d.next()) take(s->offset, s->length);
    } else {
      for_each_pretoken(kind, view, take);
    }
    if (!ok || expect != n) {
      std::fprintf(stderr, "spans do not tile the text\n");
      return 1;
    }
    out.clear();
    put_u32(out, static_cast<uint32_t>(lens.size()));
    for (uint32_t l : lens) put_u32(out, l);
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return std::fflush(stdout) == 0 ? 0 : 1;
}
