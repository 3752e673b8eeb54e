// Streaming decompression of gzip and zstd files.
//
// Guarantees: a reader yields exactly the decompressed bytes or an error,
// never a silent short stream: a stream that ends early, a damaged block and
// a checksum or length mismatch are all errors. gzip: every member of
// a concatenated file is decoded in turn, each with its CRC-32 and length
// checked; bytes after the last member that start no new one are ignored. zstd: consecutive frames are decoded one after the other; input
// ending inside a frame is "incomplete frame". Errors are sticky: once a read
// failed, every later read returns the same error. Readers own their
// descriptor and decoder state and release them when dropped.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <variant>

#include "common/error.h"
#include "input/file_source.h"

namespace morvik::input {

class GzipReader {
 public:
  // Opens the file; a bad header is reported by the first read, as
  // "invalid gzip header".
  static Result<GzipReader> open(const std::string& path);
  // Up to `n` decompressed bytes into `dst`; 0 only at the end of the member.
  Result<std::size_t> read(char* dst, std::size_t n);
  // Size of the compressed file, a hint for output buffers.
  std::size_t compressed_size() const noexcept;

  GzipReader(GzipReader&&) noexcept;
  GzipReader& operator=(GzipReader&&) noexcept;
  ~GzipReader();

  struct State;

 private:
  explicit GzipReader(std::unique_ptr<State> s);
  std::unique_ptr<State> s_;  // zlib keeps pointers into it, so it must not move
};

class ZstdReader {
 public:
  static Result<ZstdReader> open(const std::string& path);
  Result<std::size_t> read(char* dst, std::size_t n);
  std::size_t compressed_size() const noexcept;

  ZstdReader(ZstdReader&&) noexcept;
  ZstdReader& operator=(ZstdReader&&) noexcept;
  ~ZstdReader();

  struct State;

 private:
  explicit ZstdReader(std::unique_ptr<State> s);
  std::unique_ptr<State> s_;
};

Result<GzipReader> open_gzip(const std::string& path);
Result<ZstdReader> open_zstd(const std::string& path);

// Either decoder, for code that picks one by file name.
using StreamReader = std::variant<GzipReader, ZstdReader>;

// `c` must be Gzip or Zstd.
Result<StreamReader> open_stream(const std::string& path, Compression c);
Result<std::size_t> read_stream(StreamReader& r, char* dst, std::size_t n);
std::size_t compressed_size(const StreamReader& r) noexcept;

}  // namespace morvik::input
