// Fixtures for the document-input tests: a private temporary directory,
// files written from the test, and gzip/zstd encoders so that compressed
// inputs are made here rather than checked in.
#pragma once

#include <stdlib.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <random>
#include <string>
#include <string_view>

namespace fixtures {

class TempDir {
 public:
  TempDir() {
    std::string t = (std::filesystem::temp_directory_path() / "morvik-input-XXXXXX").string();
    if (!mkdtemp(t.data())) std::abort();
    path_ = t;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  std::string file(std::string_view name) const { return path_ + "/" + std::string(name); }
  // Writes `data` to `name` and returns the full path.
  std::string write(std::string_view name, std::string_view data) const {
    const std::string p = file(name);
    FILE* f = std::fopen(p.c_str(), "wb");
    if (!f) std::abort();
    if (!data.empty() && std::fwrite(data.data(), 1, data.size(), f) != data.size()) std::abort();
    std::fclose(f);
    return p;
  }

 private:
  std::string path_;
};

// One gzip member holding `data`.
inline std::string gzip(std::string_view data, int level = 6) {
  z_stream zs{};
  if (deflateInit2(&zs, level, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) std::abort();
  std::string out(deflateBound(&zs, data.size()) + 64, '\0');
  zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = reinterpret_cast<Bytef*>(out.data());
  zs.avail_out = static_cast<uInt>(out.size());
  if (deflate(&zs, Z_FINISH) != Z_STREAM_END) std::abort();
  out.resize(zs.total_out);
  deflateEnd(&zs);
  return out;
}

// One zstd frame holding `data`.
inline std::string zstd(std::string_view data, int level = 3) {
  std::string out(ZSTD_compressBound(data.size()), '\0');
  const std::size_t n = ZSTD_compress(out.data(), out.size(), data.data(), data.size(), level);
  if (ZSTD_isError(n)) std::abort();
  out.resize(n);
  return out;
}

// Text that compresses a little but not too well, so that decoders need
// several input buffers: words from a small alphabet with line breaks.
inline std::string sample_text(std::size_t n, std::uint32_t seed) {
  std::mt19937 rng(seed);
  std::string s;
  s.reserve(n);
  while (s.size() < n) {
    const auto r = rng() % 100;
    if (r < 15) s += ' ';
    else if (r < 17) s += '\n';
    else s += static_cast<char>('a' + rng() % 26);
  }
  return s;
}

inline std::string random_bytes(std::size_t n, std::mt19937& rng) {
  std::string s(n, '\0');
  for (auto& c : s) c = static_cast<char>(rng() & 0xFF);
  return s;
}

}  // namespace fixtures
