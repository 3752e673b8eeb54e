#include "input/mmap.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace morvik::input {

MmappedFile& MmappedFile::operator=(MmappedFile&& o) noexcept {
  if (this != &o) {
    unmap();
    data_ = o.data_;
    size_ = o.size_;
    o.data_ = nullptr;
    o.size_ = 0;
  }
  return *this;
}

void MmappedFile::unmap() noexcept {
  if (data_) ::munmap(const_cast<char*>(data_), size_);
  data_ = nullptr;
  size_ = 0;
}

Result<int> open_read_only(const std::string& path) {
  for (;;) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd >= 0) return fd;
    if (errno != EINTR) return Error::make(os_error_text(errno));
  }
}

Result<MmappedFile> MmappedFile::map_fd(int fd, std::size_t size) {
  MmappedFile m;
  if (size == 0) return m;  // mmap refuses length 0; an empty view is the whole file
  void* p = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, fd, 0);
  if (p == MAP_FAILED) return Error::make(os_error_text(errno));
  m.data_ = static_cast<const char*>(p);
  m.size_ = size;
  return m;
}

Result<MmappedFile> MmappedFile::open(const std::string& path) {
  auto fd = open_read_only(path);
  if (!fd) return std::move(fd).error();
  struct stat st;
  Result<MmappedFile> out = MmappedFile();
  if (::fstat(*fd, &st) != 0) {
    out = Error::make(os_error_text(errno));
  } else if (S_ISDIR(st.st_mode)) {
    out = Error::make(os_error_text(EISDIR));
  } else {
    out = map_fd(*fd, static_cast<std::size_t>(st.st_size));
  }
  ::close(*fd);
  return out;
}

}  // namespace morvik::input
