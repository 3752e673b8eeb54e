#include "input/decompress.h"

#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <zstd.h>

#include <cerrno>
#include <cstring>
#include <new>
#include <optional>
#include <vector>

#include "input/display.h"
#include "input/mmap.h"

namespace morvik::input {

namespace {

constexpr std::size_t kGzipInputBuffer = 32 * 1024;

// read(2) with EINTR retried; the error's message is the OS error text.
Result<std::size_t> read_fd(int fd, char* dst, std::size_t n) {
  for (;;) {
    const ssize_t r = ::read(fd, dst, n);
    if (r >= 0) return static_cast<std::size_t>(r);
    if (errno != EINTR) return Error::make(os_error_text(errno));
  }
}

Result<std::pair<int, std::size_t>> open_regular(const std::string& path) {
  auto fd = open_read_only(path);
  if (!fd) return std::move(fd).error();
  struct stat st;
  if (::fstat(*fd, &st) != 0) {
    const int e = errno;
    ::close(*fd);
    return Error::make(os_error_text(e));
  }
  if (S_ISDIR(st.st_mode)) {
    ::close(*fd);
    return Error::make(os_error_text(EISDIR));
  }
  return std::pair<int, std::size_t>{*fd, S_ISREG(st.st_mode) ? static_cast<std::size_t>(st.st_size) : 0};
}

}  // namespace

// ---------------------------------------------------------------- gzip

struct GzipReader::State {
  int fd = -1;
  std::size_t file_size = 0;
  z_stream zs{};
  gz_header header{};
  bool inflate_ready = false;
  bool eof = false;   // the file has no more bytes
  bool done = false;  // the member's trailer was read and checked
  std::optional<Error> failed;
  std::vector<unsigned char> in = std::vector<unsigned char>(kGzipInputBuffer);

  ~State() {
    if (inflate_ready) inflateEnd(&zs);
    if (fd >= 0) ::close(fd);
  }
};

GzipReader::GzipReader(std::unique_ptr<State> s) : s_(std::move(s)) {}
GzipReader::GzipReader(GzipReader&&) noexcept = default;
GzipReader& GzipReader::operator=(GzipReader&&) noexcept = default;
GzipReader::~GzipReader() = default;

Result<GzipReader> GzipReader::open(const std::string& path) {
  auto f = open_regular(path);
  if (!f) return std::move(f).error();
  auto s = std::make_unique<State>();
  s->fd = f->first;
  s->file_size = f->second;
  // 15 + 16: a gzip wrapper only (no zlib or raw streams), full window.
  const int rc = inflateInit2(&s->zs, 15 + 16);
  if (rc == Z_MEM_ERROR) throw std::bad_alloc();
  if (rc != Z_OK) return Error::make("zlib failed to initialise an inflate stream");
  s->inflate_ready = true;
  inflateGetHeader(&s->zs, &s->header);
  return GzipReader(std::move(s));
}

std::size_t GzipReader::compressed_size() const noexcept { return s_->file_size; }

Result<std::size_t> GzipReader::read(char* dst, std::size_t n) {
  State& s = *s_;
  if (s.failed) return *s.failed;
  if (s.done || n == 0) return std::size_t{0};
  auto fail = [&](Error e) -> Result<std::size_t> {
    s.failed = e;
    return e;
  };
  // zlib counts in uInt; larger requests are simply served in parts.
  const uInt want = static_cast<uInt>(std::min<std::size_t>(n, 1u << 30));
  z_stream& zs = s.zs;
  zs.next_out = reinterpret_cast<Bytef*>(dst);
  zs.avail_out = want;
  for (;;) {
    if (zs.avail_in == 0 && !s.eof) {
      auto got = read_fd(s.fd, reinterpret_cast<char*>(s.in.data()), s.in.size());
      if (!got) return fail(std::move(got).error());
      if (*got == 0) {
        s.eof = true;
      } else {
        zs.next_in = s.in.data();
        zs.avail_in = static_cast<uInt>(*got);
      }
    }
    const int rc = inflate(&zs, Z_NO_FLUSH);
    const std::size_t produced = want - zs.avail_out;
    if (rc == Z_STREAM_END) {
      // Concatenated .gz files are one valid gzip file of several members
      // (gzip -d outputs them all); stopping at the first would silently
      // drop the rest. Bytes after the last member that do not start another
      // one are ignored, as gzip does.
      if (zs.avail_in < 2 && !s.eof) {
        if (zs.avail_in == 1) s.in[0] = *zs.next_in;
        const std::size_t keep = zs.avail_in;
        auto got = read_fd(s.fd, reinterpret_cast<char*>(s.in.data()) + keep, s.in.size() - keep);
        if (!got) return fail(std::move(got).error());
        if (*got == 0) s.eof = true;
        zs.next_in = s.in.data();
        zs.avail_in = static_cast<uInt>(keep + *got);
      }
      if (zs.avail_in >= 2 && zs.next_in[0] == 0x1f && zs.next_in[1] == 0x8b) {
        if (inflateReset(&zs) != Z_OK) return fail(Error::make("zlib failed to reset an inflate stream"));
        s.header = gz_header{};
        inflateGetHeader(&zs, &s.header);
        if (produced) return produced;
        continue;
      }
      s.done = true;
      return produced;
    }
    if (rc == Z_OK || rc == Z_BUF_ERROR) {
      if (produced) return produced;
      if (s.eof && zs.avail_in == 0) {
        // The file ended before the member did.
        return fail(Error::make(s.header.done == 1 ? "unexpected end of file" : "invalid gzip header"));
      }
      continue;
    }
    if (rc == Z_MEM_ERROR) throw std::bad_alloc();
    if (s.header.done != 1) return fail(Error::make("invalid gzip header"));
    const char* msg = zs.msg ? zs.msg : "";
    if (std::strcmp(msg, "incorrect data check") == 0 || std::strcmp(msg, "incorrect length check") == 0)
      return fail(Error::make("corrupt gzip stream does not have a matching checksum"));
    Error e = Error::make("corrupt deflate stream");
    if (*msg) e.causes.emplace_back(msg);  // zlib's own words, e.g. "invalid block type"
    return fail(std::move(e));
  }
}

Result<GzipReader> open_gzip(const std::string& path) { return GzipReader::open(path); }

// ---------------------------------------------------------------- zstd

struct ZstdReader::State {
  int fd = -1;
  std::size_t file_size = 0;
  ZSTD_DStream* ds = nullptr;
  std::vector<char> in;
  ZSTD_inBuffer ib{nullptr, 0, 0};
  bool eof = false;
  bool in_frame = false;  // a frame was started and is not complete yet
  bool done = false;
  std::optional<Error> failed;

  ~State() {
    if (ds) ZSTD_freeDStream(ds);
    if (fd >= 0) ::close(fd);
  }
};

ZstdReader::ZstdReader(std::unique_ptr<State> s) : s_(std::move(s)) {}
ZstdReader::ZstdReader(ZstdReader&&) noexcept = default;
ZstdReader& ZstdReader::operator=(ZstdReader&&) noexcept = default;
ZstdReader::~ZstdReader() = default;

namespace {
Error zstd_error(std::size_t code) {
  const char* name = ZSTD_getErrorName(code);
  const std::string_view text = name ? name : "";
  return Error::make(is_utf8(text) ? std::string(text) : std::string("bad error message from zstd"));
}
}  // namespace

Result<ZstdReader> ZstdReader::open(const std::string& path) {
  auto f = open_regular(path);
  if (!f) return std::move(f).error();
  auto s = std::make_unique<State>();
  s->fd = f->first;
  s->file_size = f->second;
  s->ds = ZSTD_createDStream();
  if (!s->ds) return Error::make("zstd returned null pointer when creating new context");
  const std::size_t rc = ZSTD_initDStream(s->ds);
  if (ZSTD_isError(rc)) return zstd_error(rc);
  s->in.resize(ZSTD_DStreamInSize());
  s->ib.src = s->in.data();
  return ZstdReader(std::move(s));
}

std::size_t ZstdReader::compressed_size() const noexcept { return s_->file_size; }

Result<std::size_t> ZstdReader::read(char* dst, std::size_t n) {
  State& s = *s_;
  if (s.failed) return *s.failed;
  if (s.done || n == 0) return std::size_t{0};
  auto fail = [&](Error e) -> Result<std::size_t> {
    s.failed = e;
    return e;
  };
  ZSTD_outBuffer ob{dst, n, 0};
  for (;;) {
    if (s.ib.pos == s.ib.size && !s.eof) {
      auto got = read_fd(s.fd, s.in.data(), s.in.size());
      if (!got) return fail(std::move(got).error());
      s.ib.pos = 0;
      s.ib.size = *got;
      if (*got == 0) s.eof = true;
    }
    if (s.ib.pos == s.ib.size && s.eof && !s.in_frame) {
      s.done = true;  // every frame ended cleanly (or there was none)
      return std::size_t{0};
    }
    const bool input_left = s.ib.pos < s.ib.size;
    const std::size_t rc = ZSTD_decompressStream(s.ds, &ob, &s.ib);
    if (ZSTD_isError(rc)) return fail(zstd_error(rc));
    // 0 means a frame just ended and is fully flushed.
    s.in_frame = rc != 0;
    if (ob.pos) return ob.pos;
    if (!input_left && s.eof && s.in_frame) return fail(Error::make("incomplete frame"));
  }
}

Result<ZstdReader> open_zstd(const std::string& path) { return ZstdReader::open(path); }

// ---------------------------------------------------------------- either

Result<StreamReader> open_stream(const std::string& path, Compression c) {
  if (c == Compression::Zstd) {
    auto r = open_zstd(path);
    if (!r) return std::move(r).error();
    return StreamReader(std::move(r).value());
  }
  auto r = open_gzip(path);
  if (!r) return std::move(r).error();
  return StreamReader(std::move(r).value());
}

Result<std::size_t> read_stream(StreamReader& r, char* dst, std::size_t n) {
  return std::visit([&](auto& x) { return x.read(dst, n); }, r);
}

std::size_t compressed_size(const StreamReader& r) noexcept {
  return std::visit([](const auto& x) { return x.compressed_size(); }, r);
}

}  // namespace morvik::input
