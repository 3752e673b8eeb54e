// One input file's bytes in memory, as the encoder sees them.
//
// Guarantees: `bytes()` is one contiguous read-only view for the life of the
// value. Plain files are memory-mapped and never copied; .gz and .zst files
// are decompressed once, fully verified, into an owned buffer. A failure
// gives no partial value: the error's message is the path (shown lossily as
// UTF-8), ": " and the reason, e.g.
//   "data/a.txt: No such file or directory (os error 2)"
//   "data/a.gz: corrupt gzip stream does not have a matching checksum"
// Dropping the value unmaps or frees the bytes.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "common/error.h"
#include "input/decompress.h"
#include "input/file_source.h"
#include "input/mmap.h"

namespace morvik::input {

// A growable byte buffer on malloc/realloc: growing a large buffer remaps
// pages instead of copying them, and the bytes are never zero-filled first.
class OwnedBytes {
 public:
  OwnedBytes() = default;
  OwnedBytes(OwnedBytes&& o) noexcept : p_(o.p_), size_(o.size_), cap_(o.cap_) { o.p_ = nullptr, o.size_ = o.cap_ = 0; }
  OwnedBytes& operator=(OwnedBytes&& o) noexcept;
  OwnedBytes(const OwnedBytes&) = delete;
  OwnedBytes& operator=(const OwnedBytes&) = delete;
  ~OwnedBytes() { std::free(p_); }

  std::string_view bytes() const noexcept { return size_ ? std::string_view(p_, size_) : std::string_view(); }
  std::size_t size() const noexcept { return size_; }
  // Makes room for at least `extra` more bytes; returns where they go.
  char* reserve_tail(std::size_t extra);
  void commit(std::size_t n) noexcept { size_ += n; }
  // Gives back unused capacity when it is a large share of the buffer.
  void shrink() noexcept;
  void append(std::string_view s);

 private:
  char* p_ = nullptr;
  std::size_t size_ = 0, cap_ = 0;
};

struct LoadedFile {
  std::variant<MmappedFile, OwnedBytes> v;

  std::string_view bytes() const noexcept {
    return std::visit([](const auto& x) { return x.bytes(); }, v);
  }
  std::size_t size() const noexcept { return bytes().size(); }
  bool is_mapped() const noexcept { return v.index() == 0; }
};

// Loads `path` with the given compression. Plain regular files are mapped;
// files that cannot be mapped but can be read (pipes, some /proc files that
// report a size of 0) are read into memory so that no content is lost.
Result<LoadedFile> load_file(const std::string& path, Compression c);
// Compression chosen by `detect_format(path)`.
Result<LoadedFile> load_file(const std::string& path);

// Reads a decompressing stream to its end. The error is the stream's.
Result<OwnedBytes> read_to_end(StreamReader& r);

}  // namespace morvik::input
