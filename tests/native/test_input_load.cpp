// Loading files: mapping, gzip and zstd decoding, and every failure a
// damaged, truncated or missing file can produce.
#include <sys/stat.h>

#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "input/decompress.h"
#include "input/loaded_file.h"
#include "input_fixtures.h"

using namespace morvik;
using namespace morvik::input;

namespace {

std::string load_ok(const std::string& path) {
  auto r = load_file(path);
  if (!r) {
    std::printf("  unexpected error: %s\n", r.error().message.c_str());
    return "<error>";
  }
  return std::string(r->bytes());
}

std::string load_err(const std::string& path) {
  auto r = load_file(path);
  return r ? std::string("<ok>") : r.error().message;
}

}  // namespace

TEST(every_compression_round_trips) {
  fixtures::TempDir dir;
  // Sizes around the decoders' buffer sizes and well beyond them.
  for (std::size_t n : {std::size_t{0}, std::size_t{1}, std::size_t{8191}, std::size_t{32768},
                        std::size_t{300000}, std::size_t{3000000}}) {
    const std::string text = fixtures::sample_text(n, static_cast<std::uint32_t>(n));
    const std::string plain = dir.write("a.txt", text);
    const std::string gz = dir.write("a.txt.gz", fixtures::gzip(text));
    const std::string zst = dir.write("a.jsonl.zst", fixtures::zstd(text));
    const std::string zstd = dir.write("a.zstd", fixtures::zstd(text, 19));
    CHECK(load_ok(plain) == text);
    CHECK(load_ok(gz) == text);
    CHECK(load_ok(zst) == text);
    CHECK(load_ok(zstd) == text);
    auto m = load_file(plain);
    CHECK(m && (n == 0 || m->is_mapped()));
    auto o = load_file(gz);
    CHECK(o && !o->is_mapped());
  }
}

TEST(compression_comes_from_the_name_not_the_contents) {
  fixtures::TempDir dir;
  const std::string gz = fixtures::gzip("hello");
  // A gzip file without the extension is read as it is.
  CHECK(load_ok(dir.write("hello.bin", gz)) == gz);
  CHECK(load_ok(dir.write("hello.GZ", gz)) == gz);
  // Explicit compression wins over the name.
  auto r = load_file(dir.write("hello.bin2", gz), Compression::Gzip);
  CHECK(r && r->bytes() == "hello");
}

TEST(gzip_members_and_zstd_frames_concatenate) {
  fixtures::TempDir dir;
  CHECK(load_ok(dir.write("two.gz", fixtures::gzip("first ") + fixtures::gzip("second"))) == "first second");
  CHECK(load_ok(dir.write("three.gz", fixtures::gzip("a") + fixtures::gzip("") + fixtures::gzip("b"))) == "ab");
  {
    // A second member after one that spans many input buffers.
    std::string first = fixtures::gzip(fixtures::sample_text(400000, 3));
    std::string both = first + fixtures::gzip("tail");
    auto got = load_ok(dir.write("edge.gz", both));
    CHECK(got.size() == 400000 + 4 && got.substr(got.size() - 4) == "tail");
  }
  CHECK(load_ok(dir.write("trail.gz", fixtures::gzip("abc") + "not gzip at all")) == "abc");
  CHECK(load_ok(dir.write("two.zst", fixtures::zstd("first ") + fixtures::zstd("second"))) == "first second");
  // A skippable frame (magic 0x184D2A50, 4-byte length) between frames.
  std::string skip = std::string("\x50\x2A\x4D\x18\x03\x00\x00\x00xyz", 11);
  CHECK(load_ok(dir.write("skip.zst", fixtures::zstd("a") + skip + fixtures::zstd("b"))) == "ab");
  CHECK(load_ok(dir.write("empty.zst", "")) == "");
}

TEST(damaged_compressed_files_fail_with_the_path_and_reason) {
  fixtures::TempDir dir;
  const std::string text = fixtures::sample_text(200000, 7);
  const std::string gz = fixtures::gzip(text);
  const std::string zs = fixtures::zstd(text);

  std::string bad_crc = gz;
  bad_crc[bad_crc.size() - 8] ^= 0x01;  // CRC-32 is the trailer's first word
  std::string bad_len = gz;
  bad_len[bad_len.size() - 1] ^= 0x01;  // ISIZE is the last word
  std::string bad_magic = gz;
  bad_magic[0] = 'x';
  std::string bad_method = gz;
  bad_method[2] = 7;
  std::string bad_deflate = gz;
  bad_deflate[10] = static_cast<char>(0xFF);  // first block header: reserved block type 3
  std::string bad_zstd_magic = zs;
  bad_zstd_magic[0] ^= 0x55;

  struct Case {
    const char* name;
    std::string data;
    std::string reason;
  };
  const std::vector<Case> cases = {
      {"crc.gz", bad_crc, "corrupt gzip stream does not have a matching checksum"},
      {"len.gz", bad_len, "corrupt gzip stream does not have a matching checksum"},
      {"magic.gz", bad_magic, "invalid gzip header"},
      {"method.gz", bad_method, "invalid gzip header"},
      {"empty.gz", "", "invalid gzip header"},
      {"header-cut.gz", gz.substr(0, 5), "invalid gzip header"},
      {"data-cut.gz", gz.substr(0, gz.size() / 2), "unexpected end of file"},
      {"trailer-cut.gz", gz.substr(0, gz.size() - 3), "unexpected end of file"},
      {"deflate.gz", bad_deflate, "corrupt deflate stream"},
      {"cut.zst", zs.substr(0, zs.size() / 2), "incomplete frame"},
      {"cut-end.zst", zs.substr(0, zs.size() - 1), "incomplete frame"},
      {"header-cut.zst", zs.substr(0, 3), "incomplete frame"},
      {"magic.zst", bad_zstd_magic, "Unknown frame descriptor"},
      {"garbage-after.zst", zs + "garbage!", "Unknown frame descriptor"},
  };
  for (const auto& c : cases) {
    const std::string path = dir.write(c.name, c.data);
    const std::string got = load_err(path);
    if (got != path + ": " + c.reason) std::printf("  %s: %s\n", c.name, got.c_str());
    CHECK(got == path + ": " + c.reason);
  }
}

TEST(missing_and_unreadable_files_carry_the_os_error) {
  fixtures::TempDir dir;
  for (const char* name : {"nope.txt", "nope.gz", "nope.zst"}) {
    const std::string p = dir.file(name);
    CHECK(load_err(p) == p + ": No such file or directory (os error 2)");
  }
  const std::string sub = dir.file("sub.txt");
  std::filesystem::create_directory(sub);
  CHECK(load_err(sub) == sub + ": Is a directory (os error 21)");
  CHECK(load_err(sub + ".gz") == sub + ".gz: No such file or directory (os error 2)");
  auto m = MmappedFile::open(dir.file("nope"));
  CHECK(!m && m.error().message == "No such file or directory (os error 2)");
  if (geteuid() != 0) {  // root reads anything
    const std::string locked = dir.write("locked.txt", "secret");
    chmod(locked.c_str(), 0);
    CHECK(load_err(locked) == locked + ": Permission denied (os error 13)");
  }
  // Non-UTF-8 path bytes are shown lossily.
  const std::string odd = dir.file("bad\xff.txt");
  CHECK(load_err(odd) == dir.file("bad\xEF\xBF\xBD.txt") + ": No such file or directory (os error 2)");
}

TEST(empty_and_unmappable_plain_files) {
  fixtures::TempDir dir;
  auto e = load_file(dir.write("empty.txt", ""));
  CHECK(e && e->bytes().empty());
  auto m = MmappedFile::open(dir.file("empty.txt"));
  CHECK(m && m->size() == 0);
  // A file that reports size 0 but has content must not load as empty.
  auto p = load_file("/proc/self/status");
  CHECK(p && p->bytes().find("Name:") != std::string_view::npos);
}

TEST(mapping_moves_and_releases) {
  fixtures::TempDir dir;
  const std::string path = dir.write("m.txt", "mapped bytes");
  auto m = MmappedFile::open(path);
  CHECK(m && m->bytes() == "mapped bytes");
  MmappedFile a = std::move(m).value();
  MmappedFile b;
  b = std::move(a);
  CHECK(a.size() == 0 && b.bytes() == "mapped bytes");
}

TEST(streams_read_in_small_pieces_and_errors_stay) {
  fixtures::TempDir dir;
  const std::string text = fixtures::sample_text(100000, 3);
  for (Compression c : {Compression::Gzip, Compression::Zstd}) {
    const std::string data = c == Compression::Gzip ? fixtures::gzip(text) : fixtures::zstd(text);
    auto r = open_stream(dir.write("s", data), c);
    CHECK(r.ok());
    std::string out;
    char buf[7];
    for (;;) {
      auto n = read_stream(*r, buf, sizeof buf);
      CHECK(n.ok());
      if (!n || *n == 0) break;
      out.append(buf, *n);
    }
    CHECK(out == text);
    auto again = read_stream(*r, buf, sizeof buf);
    CHECK(again && *again == 0);

    auto t = open_stream(dir.write("t", data.substr(0, data.size() / 3)), c);
    CHECK(t.ok());
    auto all = read_to_end(*t);
    CHECK(!all.ok());
    auto later = read_stream(*t, buf, sizeof buf);
    CHECK(!later.ok() && later.error().message == all.error().message);
  }
}

TEST(random_bytes_never_crash_a_decoder) {
  fixtures::TempDir dir;
  std::mt19937 rng(12345);
  const std::string good_gz = fixtures::gzip(fixtures::sample_text(5000, 1));
  const std::string good_zs = fixtures::zstd(fixtures::sample_text(5000, 2));
  for (int i = 0; i < 300; ++i) {
    std::string data;
    switch (i % 3) {
      case 0: data = fixtures::random_bytes(rng() % 4000, rng); break;
      case 1: data = good_gz; break;
      case 2: data = good_zs; break;
    }
    // Flip a few bytes of the valid streams (never the gzip magic, to reach
    // the deflate decoder), or keep the random bytes as they are.
    if (i % 3 != 0 && !data.empty())
      for (int k = 0; k < 3; ++k) data[2 + rng() % (data.size() - 2)] ^= static_cast<char>(1 + rng() % 255);
    for (const char* name : {"f.gz", "f.zst", "f.txt"}) {
      auto r = load_file(dir.write(name, data));
      if (r) CHECK(r->size() < (std::size_t{1} << 31));
      else CHECK(r.error().message.rfind(dir.file(name) + ": ", 0) == 0);
    }
  }
}

TEST_MAIN()
