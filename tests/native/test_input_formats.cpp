// Format and compression by file name, debug forms and message text helpers.
#include <string>
#include <vector>

#include "check.h"
#include "input/display.h"
#include "input/file_source.h"

using namespace morvik::input;

TEST(detect_format_by_name) {
  struct Case {
    const char* path;
    bool jsonl;
    Compression c;
  };
  const std::vector<Case> cases = {
      {"x.jsonl", true, Compression::None},       {"x.jsonl.gz", true, Compression::Gzip},
      {"x.jsonl.zst", true, Compression::Zstd},   {"x.jsonl.zstd", true, Compression::Zstd},
      {"x.txt.gz", false, Compression::Gzip},     {".gz", false, Compression::Gzip},
      {"x.GZ", false, Compression::None},         {".jsonl", true, Compression::None},
      {"a.zstd", false, Compression::Zstd},       {"gz", false, Compression::None},
      {".zst", false, Compression::Zstd},         {".zstd", false, Compression::Zstd},
      {"x.JSONL", false, Compression::None},      {"x.txt", false, Compression::None},
      {"dir/sub/x.jsonl.gz", true, Compression::Gzip},
      {"dir/x.jsonl/", true, Compression::None},  {"dir/x.jsonl/.", true, Compression::None},
      {"x.jsonl/..", false, Compression::None},   {"/", false, Compression::None},
      {"", false, Compression::None},             {".", false, Compression::None},
      {"a.gz.jsonl", true, Compression::None},    {"a.jsonl.tar.gz", false, Compression::Gzip},
      {"bad\xff.jsonl.gz", false, Compression::None},
      {"bad\xff/ok.jsonl.gz", true, Compression::Gzip},
  };
  for (const auto& c : cases) {
    const DetectedFormat got = detect_format(c.path);
    if (!(got == DetectedFormat{c.jsonl, c.c})) std::printf("  %s\n", c.path);
    CHECK(got == (DetectedFormat{c.jsonl, c.c}));
  }
}

TEST(debug_forms) {
  CHECK(compression_name(Compression::None) == "None");
  CHECK(compression_name(Compression::Gzip) == "Gzip");
  CHECK(compression_name(Compression::Zstd) == "Zstd");
  CHECK(format_debug(DocFormat::text()) == "Text { separator: None }");
  CHECK(format_debug(DocFormat::text("##")) == "Text { separator: Some([35, 35]) }");
  CHECK(format_debug(DocFormat::text("")) == "Text { separator: Some([]) }");
  CHECK(format_debug(DocFormat::text(std::string("\xff\n", 2))) == "Text { separator: Some([255, 10]) }");
  CHECK(format_debug(DocFormat::jsonl()) == "Jsonl { field: \"text\" }");
  CHECK(format_debug(DocFormat::jsonl("a\"b")) == "Jsonl { field: \"a\\\"b\" }");
}

TEST(text_helpers) {
  CHECK(debug_quote("\n") == "\"\\n\"");
  CHECK(debug_quote(std::string("\t\r\0\\\x01\x7f", 6)) == "\"\\t\\r\\0\\\\\\u{1}\\u{7f}\"");
  CHECK(debug_quote("\xff\n") == "\"\xEF\xBF\xBD\\n\"");
  CHECK(debug_quote("h\xC3\xA9") == "\"h\xC3\xA9\"");
  CHECK(lossy_utf8("ok") == "ok");
  // One U+FFFD per maximal invalid subpart: a truncated 3-byte sequence is
  // one, each stray continuation byte is one.
  CHECK(lossy_utf8("\xE2\x82x") == "\xEF\xBF\xBDx");
  CHECK(lossy_utf8("\x80\x80") == "\xEF\xBF\xBD\xEF\xBF\xBD");
  CHECK(lossy_utf8("\xED\xA0\x80") == "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
  CHECK(lossy_utf8("\xF0\x9F\x98\x80") == "\xF0\x9F\x98\x80");
  CHECK(is_utf8("\xF0\x9F\x98\x80") && !is_utf8("\xC0\xAF") && !is_utf8("\xF4\x90\x80\x80"));
}

TEST_MAIN()
