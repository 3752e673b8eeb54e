// The tiktoken ranks-file reader: line splitting, rank rules, strict base64.
#include <cstdio>
#include <unistd.h>

#include "check.h"
#include "load_tokenizer/tiktoken.h"

using namespace morvik;
using morvik::load_tokenizer::load_tiktoken;
using morvik::load_tokenizer::parse_tiktoken;

namespace {
using Tokens = std::vector<std::string>;

bool fails_with(const Result<Tokens>& r, const std::string& needle) {
  if (r.ok()) return false;
  if (r.error().message.find(needle) != std::string::npos) return true;
  std::printf("  message was: %s\n", r.error().message.c_str());
  return false;
}
}  // namespace

TEST(line_endings_and_ranks) {
  // "IQ==" "Ig==" "ISI=" are 0x21, 0x22, 0x21 0x22.
  const Tokens three{"!", "\"", "!\""};
  struct Case {
    const char* text;
    bool ok;
  };
  const Case cases[] = {
      {"IQ== 0\nIg== 1\nISI= 2\n", true},
      {"IQ== 0\r\nIg== 1\r\nISI= 2\r\n", true},  // CRLF
      {"IQ== 0\nIg== 1\nISI= 2", true},          // no final newline
      {"IQ== 0\nIg== 1\nISI= +2\n", true},
      {"IQ== 0\nIg== 1\nISI= 02\n", true},
      {"IQ== 0\nIg== 1\nISI= 2  \n", true},
      {"IQ== 0\nIg== 1\nISI= 2\t\n", true},
      {"IQ== 0\n\nISI= 2\n", false},   // empty middle line
      {"IQ== 0\nIg== 1\nISI= 2\n\n", false},  // an empty last line is an entry too
      {"IQ== 0\nIg== 2\nISI= 1\n", false},    // reordered
      {"IQ== 0\nIg== 1\nISI= 3\n", false},    // gap
  };
  for (const auto& c : cases) {
    auto r = parse_tiktoken(c.text);
    CHECK_EQ(r.ok(), c.ok);
    if (c.ok && r.ok()) CHECK(*r == three);
  }
  auto empty = parse_tiktoken("");
  CHECK(empty.ok() && empty->empty());
  // Nothing before the space: a hole.
  auto hole = parse_tiktoken("IQ== 0\n 1\n");
  CHECK(hole.ok() && hole->size() == 2 && (*hole)[1].empty());
}

TEST(rank_five_forms) {
  std::string head;
  for (int i = 0; i < 5; ++i) head += "IQ== " + std::to_string(i) + "\n";
  for (const char* rank : {"5", "+5", "05", "5  ", " 5", "005"}) CHECK(parse_tiktoken(head + "IQ== " + rank + "\n").ok());
  CHECK(fails_with(parse_tiktoken(head + "IQ== 6\n"), "line 6: rank 6 does not match the line's index 5"));
  for (const char* rank : {"", "-5", "5a", "0x5", "++5", "+", "4294967296", "5 5"})
    CHECK(fails_with(parse_tiktoken(head + "IQ== " + rank + "\n"), "line 6: rank"));
}

TEST(malformed_lines_name_their_line) {
  struct Case {
    const char* text;
    const char* needle;
  };
  const Case cases[] = {
      {"IQ==\n", "line 1: expected \"<base64 token> <rank>\", found no space"},
      {"IQ== 0\nIg==1\n", "line 2: expected"},
      {"IQ 0\n", "line 1: token \"IQ\" is not valid base64: length 2"},  // padding required
      {"IR== 0\n", "line 1: token \"IR==\" is not valid base64: trailing bits"},
      {"ISJ= 0\n", "line 1: token \"ISJ=\" is not valid base64: trailing bits"},
      {"I=Q= 0\n", "line 1: token \"I=Q=\" is not valid base64: misplaced padding"},
      {"IQ==IQ== 0\n", "misplaced padding"},
      {"I-Q= 0\n", "invalid character"},
      {"IQ\xc3\xa9 0\n", "invalid character"},
  };
  for (const auto& c : cases) CHECK(fails_with(parse_tiktoken(c.text), c.needle));
  CHECK(parse_tiktoken("ISI= 0\nAAAA 1\n/w== 2\n").ok());
  auto r = parse_tiktoken("/w== 0\nAAAA 1\n");
  CHECK(r.ok() && (*r)[0] == "\xff" && (*r)[1] == std::string(3, '\0'));
}

TEST(load_from_disk) {
  auto missing = load_tiktoken("/nonexistent/dir/r.tiktoken");
  CHECK(!missing.ok());
  if (!missing.ok()) {
    CHECK_EQ(missing.error().message, std::string("Failed to read /nonexistent/dir/r.tiktoken"));
    CHECK(missing.error().causes.size() == 1 && missing.error().causes[0] == "No such file or directory (os error 2)");
  }
  char path[] = "/tmp/morvik_ranks_XXXXXX";
  int fd = mkstemp(path);
  CHECK(fd >= 0);
  const std::string body = "IQ== 0\r\nIg== 1\nISI= 2";
  CHECK(write(fd, body.data(), body.size()) == ssize_t(body.size()));
  close(fd);
  auto r = load_tiktoken(path);
  CHECK(r.ok() && r->size() == 3);
  FILE* f = std::fopen(path, "wb");
  std::fputs("IQ== 0\n\xff\xfe 1\n", f);
  std::fclose(f);
  auto bad = load_tiktoken(path);
  CHECK(!bad.ok() && bad.error().message == "stream did not contain valid UTF-8");
  unlink(path);
}

TEST_MAIN()
