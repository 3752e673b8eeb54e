// A read-only memory mapping of a whole file.
//
// Guarantees: the bytes stay valid and unchanged by us for the life of the
// value (the descriptor is closed right after mapping; the mapping keeps the
// file alive); dropping the value unmaps it. An empty file gives an empty,
// valid view without any mapping. Not copyable; moving transfers the mapping.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "common/error.h"

namespace morvik::input {

class MmappedFile {
 public:
  MmappedFile() = default;
  MmappedFile(MmappedFile&& o) noexcept : data_(o.data_), size_(o.size_) { o.data_ = nullptr, o.size_ = 0; }
  MmappedFile& operator=(MmappedFile&& o) noexcept;
  MmappedFile(const MmappedFile&) = delete;
  MmappedFile& operator=(const MmappedFile&) = delete;
  ~MmappedFile() { unmap(); }

  // Opens `path` read-only and maps its whole length. The error's message is
  // the OS error text, e.g. "No such file or directory (os error 2)"; a
  // directory fails with "Is a directory (os error 21)".
  static Result<MmappedFile> open(const std::string& path);
  // Maps `size` bytes of the open descriptor `fd` (not closed here).
  static Result<MmappedFile> map_fd(int fd, std::size_t size);

  std::string_view bytes() const noexcept { return size_ ? std::string_view(data_, size_) : std::string_view(); }
  std::size_t size() const noexcept { return size_; }

 private:
  void unmap() noexcept;
  const char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Opens `path` read-only, retrying on EINTR. Returns the descriptor or the OS
// error text as the error message.
Result<int> open_read_only(const std::string& path);

}  // namespace morvik::input
