#include "input/loaded_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

#include "input/display.h"

namespace morvik::input {

OwnedBytes& OwnedBytes::operator=(OwnedBytes&& o) noexcept {
  if (this != &o) {
    std::free(p_);
    p_ = o.p_;
    size_ = o.size_;
    cap_ = o.cap_;
    o.p_ = nullptr;
    o.size_ = o.cap_ = 0;
  }
  return *this;
}

char* OwnedBytes::reserve_tail(std::size_t extra) {
  if (cap_ - size_ < extra) {
    std::size_t cap = std::max<std::size_t>(cap_ * 2, 64 * 1024);
    while (cap - size_ < extra) cap *= 2;
    void* p = std::realloc(p_, cap);
    if (!p) throw std::bad_alloc();
    p_ = static_cast<char*>(p);
    cap_ = cap;
  }
  return p_ + size_;
}

void OwnedBytes::shrink() noexcept {
  if (size_ == 0) {
    std::free(p_);
    p_ = nullptr;
    cap_ = 0;
  } else if (cap_ - size_ > cap_ / 4) {
    if (void* p = std::realloc(p_, size_)) {
      p_ = static_cast<char*>(p);
      cap_ = size_;
    }
  }
}

void OwnedBytes::append(std::string_view s) {
  if (s.empty()) return;
  std::memcpy(reserve_tail(s.size()), s.data(), s.size());
  commit(s.size());
}

namespace {

// Decompressed text is usually a few times the compressed size; start there
// and let doubling (cheap with realloc) handle the rest.
std::size_t initial_capacity(std::size_t compressed) {
  constexpr std::size_t lo = 64 * 1024, hi = std::size_t{1} << 30;
  return std::clamp(compressed > hi ? hi : compressed * 4, lo, hi);
}

// A chunk of this size per read keeps decoder calls few while the tail of
// the buffer stays small.
constexpr std::size_t kReadChunk = 256 * 1024;

Result<OwnedBytes> read_fd_to_end(int fd) {
  OwnedBytes out;
  for (;;) {
    char* dst = out.reserve_tail(kReadChunk);
    const ssize_t r = ::read(fd, dst, kReadChunk);
    if (r < 0) {
      if (errno == EINTR) continue;
      return Error::make(os_error_text(errno));
    }
    if (r == 0) break;
    out.commit(static_cast<std::size_t>(r));
  }
  out.shrink();
  return out;
}

Result<LoadedFile> load_plain(const std::string& path) {
  auto fd = open_read_only(path);
  if (!fd) return std::move(fd).error();
  Result<LoadedFile> out = LoadedFile{};
  struct stat st;
  if (::fstat(*fd, &st) != 0) {
    out = Error::make(os_error_text(errno));
  } else if (S_ISDIR(st.st_mode)) {
    out = Error::make(os_error_text(EISDIR));
  } else if (S_ISREG(st.st_mode) && st.st_size > 0) {
    auto m = MmappedFile::map_fd(*fd, static_cast<std::size_t>(st.st_size));
    if (m) out = LoadedFile{std::move(m).value()};
    else out = std::move(m).error();
  } else {
    // Size 0 may still mean content (a pipe, a /proc file): read what is there.
    auto b = read_fd_to_end(*fd);
    if (b) out = LoadedFile{std::move(b).value()};
    else out = std::move(b).error();
  }
  ::close(*fd);
  return out;
}

}  // namespace

Result<OwnedBytes> read_to_end(StreamReader& r) {
  OwnedBytes out;
  out.reserve_tail(initial_capacity(compressed_size(r)));
  for (;;) {
    char* dst = out.reserve_tail(kReadChunk);
    auto got = read_stream(r, dst, kReadChunk);
    if (!got) return std::move(got).error();
    if (*got == 0) break;
    out.commit(*got);
  }
  out.shrink();
  return out;
}

Result<LoadedFile> load_file(const std::string& path, Compression c) {
  Result<LoadedFile> out = LoadedFile{};
  if (c == Compression::None) {
    out = load_plain(path);
  } else {
    auto r = open_stream(path, c);
    if (!r) {
      out = std::move(r).error();
    } else {
      auto b = read_to_end(*r);
      if (b) out = LoadedFile{std::move(b).value()};
      else out = std::move(b).error();
    }
  }
  if (!out) {
    Error& e = out.error();
    e.message = lossy_utf8(path) + ": " + e.message;
  }
  return out;
}

Result<LoadedFile> load_file(const std::string& path) { return load_file(path, detect_format(path).compression); }

}  // namespace morvik::input
