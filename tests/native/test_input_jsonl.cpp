// JSON Lines in memory: documents, blank lines, and bad lines reported with
// their line number (never dropped silently), also when the file is read as
// many ranges.
#include <random>
#include <string>
#include <vector>

#include "check.h"
#include "input/jsonl.h"
#include "input/mod.h"

using namespace morvik;
using namespace morvik::input;

namespace {

struct Read {
  std::vector<std::string> docs;
  JsonlRangeStatus status;
};

Read read_range(std::string_view data, std::size_t start, std::size_t end, std::string_view field = "text") {
  Read r;
  JsonLinesSlice s(data, start, end, field);
  while (auto d = s.next()) r.docs.emplace_back(*d);
  CHECK(!s.next());  // stays ended
  r.status = s.status();
  return r;
}

Read read_all(std::string_view data, std::string_view field = "text") { return read_range(data, 0, data.size(), field); }

using Docs = std::vector<std::string>;

}  // namespace

TEST(documents_escapes_and_line_ends) {
  struct Case {
    std::string data;
    Docs want;
  };
  const std::vector<Case> cases = {
      {"{\"text\": \"a\\nb\"}\n\n{\"text\": \"c\"}\n", {"a\nb", "c"}},
      {"{\"text\":\"a\"}\r\n{\"text\":\"b\"}\r\n", {"a", "b"}},               // CRLF
      {"{\"text\":\"a\"}\n{\"text\":\"last\"}", {"a", "last"}},               // no final LF
      {"{\"text\":\"a\"}\n\r\n \t \n\r\n   \n{\"text\":\"b\"}\n\n", {"a", "b"}},  // blank lines
      {"\r", {}},
      {"", {}},
      {"{\"text\":\"\"}\n", {""}},  // an empty document is still a document
      {"{\"text\":\"\\u00e9\\ud83d\\ude00\\t\\\"\\\\\\/\"}", {"\xC3\xA9\xF0\x9F\x98\x80\t\"\\/"}},
      {"{\"te\\u0078t\":\"escaped key\"}", {"escaped key"}},
      {"{\"text\":\"first\",\"text\":\"second\"}", {"first"}},
      {"{\"meta\":{\"text\":\"inner\"},\"list\":[{\"text\":1}],\"text\":\"outer\"}", {"outer"}},
      {"  {\"id\": 7, \"text\" : \"spaced\" }  \r", {"spaced"}},
      {"{\"text\":\"h\xC3\xA9\"}", {"h\xC3\xA9"}},
  };
  for (const auto& c : cases) {
    const Read r = read_all(c.data);
    if (r.docs != c.want || r.status.bad) std::printf("  case: %s\n", c.data.c_str());
    CHECK(r.docs == c.want);
    CHECK(!r.status.bad);
  }
  // Another field name.
  const Read r = read_all("{\"body\":\"x\",\"text\":\"y\"}\n", "body");
  CHECK((r.docs == Docs{"x"}));
}

TEST(bad_lines_stop_the_slice_with_line_and_reason) {
  struct Case {
    const char* line;
    JsonlFault fault;
  };
  const std::vector<Case> cases = {
      {"not json", JsonlFault::NotJson},
      {"{\"text\": \"unterminated", JsonlFault::NotJson},
      {"{\"text\" \"x\"}", JsonlFault::NotJson},
      {"{\"text\":\"\xff\"}", JsonlFault::NotJson},
      {"{\"text\":\"bad escape \\q\"}", JsonlFault::NotJson},
      {"\xEF\xBB\xBF{\"text\":\"bom\"}", JsonlFault::NotJson},
      {"{\"text\":\"a\"} trailing", JsonlFault::NotJson},
      {"[1, 2]", JsonlFault::NotObject},
      {"\"text\"", JsonlFault::NotObject},
      {"42", JsonlFault::NotObject},
      {"null", JsonlFault::NotObject},
      {"{}", JsonlFault::FieldMissing},
      {"{\"Text\":\"case matters\"}", JsonlFault::FieldMissing},
      {"{\"other\":{\"text\":\"nested\"}}", JsonlFault::FieldMissing},
      {"{\"text\": 5}", JsonlFault::FieldNotString},
      {"{\"text\": null}", JsonlFault::FieldNotString},
      {"{\"text\": [\"a\"]}", JsonlFault::FieldNotString},
      {"{\"text\": {\"a\": \"b\"}}", JsonlFault::FieldNotString},
      {"{\"text\": true}", JsonlFault::FieldNotString},
  };
  for (const auto& c : cases) {
    // good, blank, good, bad (line 4), good: two documents, then the error.
    const std::string data = std::string("{\"text\":\"a\"}\n \r\n{\"text\":\"b\"}\n") + c.line + "\n{\"text\":\"c\"}\n";
    const Read r = read_all(data);
    if (r.docs != Docs{"a", "b"} || !r.status.bad) std::printf("  line: %s\n", c.line);
    CHECK((r.docs == Docs{"a", "b"}));
    CHECK(r.status.bad.has_value());
    if (!r.status.bad) continue;
    if (r.status.bad->fault != c.fault) std::printf("  line: %s -> %d\n", c.line, int(r.status.bad->fault));
    CHECK(r.status.bad->fault == c.fault);
    CHECK(r.status.bad->line == 4);
    CHECK(r.status.lines == 4);
    CHECK((r.status.bad->fault == JsonlFault::NotJson) == !r.status.bad->detail.empty());
  }
}

TEST(error_messages_name_file_line_and_reason) {
  struct Case {
    JsonlFault fault;
    const char* reason;
  };
  const std::vector<Case> cases = {
      {JsonlFault::NotJson, "not valid JSON"},
      {JsonlFault::NotObject, "not a JSON object"},
      {JsonlFault::FieldMissing, "no field \"text\""},
      {JsonlFault::FieldNotString, "field \"text\" is not a string"},
  };
  for (const auto& c : cases) {
    const Error e = bad_line_error("data/x.jsonl", "text", JsonlBadLine{12, c.fault, ""});
    CHECK(e.message == std::string("data/x.jsonl: line 12: ") + c.reason);
    CHECK(e.causes.empty());
  }
  const Error e = bad_line_error("p\xff.jsonl", "te\"xt", JsonlBadLine{1, JsonlFault::FieldMissing, ""});
  CHECK(e.message == "p\xEF\xBF\xBD.jsonl: line 1: no field \"te\\\"xt\"");
  const Read r = read_all("{\"text\":\n");
  CHECK(r.status.bad && !r.status.bad->detail.empty());
  const Error d = bad_line_error("f", "text", *r.status.bad);
  CHECK(d.message == "f: line 1: not valid JSON" && d.causes.size() == 1);
  CHECK(!first_bad_line("f", "text", std::vector<JsonlRangeStatus>(3)));
}

TEST(first_bad_line_is_the_same_for_every_range_split) {
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 60; ++trial) {
    // Lines: documents, blank lines of several kinds, and (in most trials)
    // a few bad lines; the first bad one is the one to report.
    std::string data;
    Docs want_docs;
    std::uint64_t line = 0, first_bad = 0;
    const int n = 1 + rng() % 40;
    for (int i = 0; i < n; ++i) {
      ++line;
      const auto kind = rng() % 10;
      if (kind < 6) {
        const std::string doc = "doc" + std::to_string(line) + std::string(rng() % 30, 'x');
        data += "{\"id\":" + std::to_string(line) + ",\"text\":\"" + doc + "\"}";
        if (!first_bad) want_docs.push_back(doc);
      } else if (kind < 8) {
        data += kind == 6 ? "" : " \t\r";
      } else if (trial % 4 != 0) {
        data += kind == 8 ? "{\"id\":1}" : "{\"text\":3}";
        if (!first_bad) first_bad = line;
      } else {
        data += "{\"text\":\"ok\"}";
        if (!first_bad) want_docs.push_back("ok");
      }
      if (i + 1 < n || rng() % 2) data += rng() % 3 ? "\n" : "\r\n";
    }
    const std::string path = "t.jsonl";
    for (std::size_t target : {0, 1, 7, 30, 100, 100000}) {
      const auto ranges = chunk_ranges(data, DocFormat::jsonl(), target);
      std::vector<JsonlRangeStatus> statuses;
      Docs docs;  // documents of the ranges before the first failing one, in order
      bool failed = false;
      for (const auto& r : ranges) {
        Read rr = read_range(data, r.start, r.end);
        if (!failed) docs.insert(docs.end(), rr.docs.begin(), rr.docs.end());
        failed = failed || rr.status.bad.has_value();
        statuses.push_back(rr.status);
      }
      const auto err = first_bad_line(path, "text", statuses);
      if (first_bad) {
        CHECK(err.has_value());
        if (err) CHECK(err->message.rfind(path + ": line " + std::to_string(first_bad) + ": ", 0) == 0);
        // Everything before the bad line was read (the caller drops it all).
        CHECK(docs == want_docs);
      } else {
        CHECK(!err.has_value());
        CHECK(docs == want_docs);
        std::uint64_t total = 0;
        for (const auto& s : statuses) total += s.lines;
        CHECK(total == line);
      }
    }
  }
}

TEST(random_lines_are_read_alike_anywhere_in_the_buffer) {
  // A line is parsed in place when the buffer extends far enough past it and
  // copied otherwise; both must agree, and no input may crash the reader.
  std::mt19937 rng(77);
  const std::vector<std::string> pieces = {"{", "}", "[", "]", "\"", "\\", ":", ",", "\"text\"", "\"t\"", "1",
                                           "-2.5e3", "true", "null", " ", "\t", "\r", "\\u12", "\\ud800",
                                           "\xff", "\xC3\xA9", "\xE2\x82", "a", "\"text\":\"", "\\n", "\0"};
  const std::string filler = "\n{\"text\":\"" + std::string(100, 'f') + "\"}\n";
  for (int i = 0; i < 3000; ++i) {
    std::string line;
    const int k = rng() % 12;
    if (i % 2) line = "{\"text\":\"";
    for (int j = 0; j < k; ++j) line += pieces[rng() % pieces.size()];
    if (i % 3 == 0) line += "\"}";
    for (auto& c : line)
      if (c == '\n') c = ' ';
    const Read alone = read_all(line);
    const std::string framed = line + filler;
    const Read mid = read_range(framed, 0, line.size() + 1);
    CHECK(alone.docs == mid.docs);
    CHECK(alone.status.bad.has_value() == mid.status.bad.has_value());
    if (alone.status.bad && mid.status.bad) CHECK(alone.status.bad->fault == mid.status.bad->fault);
    CHECK(alone.docs.size() + (alone.status.bad ? 1 : 0) <= 1);
  }
  for (int i = 0; i < 300; ++i) {
    std::string data(rng() % 2000, '\0');
    for (auto& c : data) c = static_cast<char>(rng() % 5 == 0 ? '\n' : rng() & 0xFF);
    for (std::size_t target : {0, 50, 5000}) {
      for (const auto& r : chunk_ranges(data, DocFormat::jsonl(), target)) {
        const Read rr = read_range(data, r.start, r.end);
        CHECK(rr.status.lines >= rr.docs.size());
      }
    }
  }
}

TEST_MAIN()
