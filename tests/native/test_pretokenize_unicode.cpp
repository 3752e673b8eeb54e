#include <thread>
#include <vector>

#include "check.h"
#include "pretokenize/unicode.h"

using namespace morvik::pretokenize;

// First in the file, so that the threads race for the first build.
TEST(concurrent_first_use_builds_one_table) {
  std::vector<const uint8_t*> seen(4);
  std::vector<std::thread> ts;
  for (int i = 0; i < 4; ++i) ts.emplace_back([&, i] { seen[i] = (i & 1) ? class_table() : ds_class_table(); });
  for (auto& t : ts) t.join();
  CHECK(seen[0] == seen[2]);
  CHECK(seen[1] == seen[3]);
  CHECK(seen[1] == class_table());
}

TEST(class_of_ascii_and_white_space) {
  struct Case { uint32_t cp; CharClass want; };
  const Case cases[] = {
      {'A', CharClass::Letter}, {'z', CharClass::Letter}, {'0', CharClass::Number}, {'9', CharClass::Number},
      {' ', CharClass::Space},  {'\t', CharClass::Space}, {0x0B, CharClass::Space}, {'_', CharClass::Other},
      {0x7F, CharClass::Other}, {0x85, CharClass::Space}, {0xA0, CharClass::Space}, {0x3000, CharClass::Space},
      {0x1C, CharClass::Other}, {0x200B, CharClass::Other}, {0x0301, CharClass::Other}, {0x00B2, CharClass::Number},
      {0x2160, CharClass::Number}, {0x00E9, CharClass::Letter}, {0x4E2D, CharClass::Letter},
      {0xD800, CharClass::Other}, {0xE000, CharClass::Other}, {0x10FFFF, CharClass::Other},
      {0x110000, CharClass::Other}, {0x1FFFFF, CharClass::Other}, {0xFFFFFFFFu, CharClass::Other},
  };
  for (const Case& c : cases) {
    if (class_of(c.cp) != c.want) std::printf("  class_of(U+%04X)\n", c.cp);
    CHECK(class_of(c.cp) == c.want);
  }
}

TEST(all_twenty_five_white_space_points) {
  int spaces = 0;
  for (uint32_t cp = 0; cp < CODE_POINT_LIMIT; ++cp) {
    bool s = class_of(cp) == CharClass::Space;
    CHECK_EQ(s, ds_class_of(cp) == DsCharClass::Space);
    spaces += s;
  }
  CHECK_EQ(spaces, 25);
}

TEST(marks_join_letters) {
  CHECK(class_of_marks_join(0x0301) == CharClass::Letter);
  CHECK(ds_class_of(0x0301) == DsCharClass::Mark);
  CHECK(class_of_marks_join('a') == CharClass::Letter);
  CHECK(class_of_marks_join('5') == CharClass::Number);
  CHECK(class_of_marks_join(0x3000) == CharClass::Space);
  CHECK(class_of_marks_join(',') == CharClass::Other);
  CHECK(class_of_marks_join(0x10FFFF) == CharClass::Other);
  CHECK(class_of_marks_join(0xFFFFFFFFu) == CharClass::Other);
}

TEST(ds_classes_of_ascii) {
  CHECK(ds_class_of(',') == DsCharClass::PunctSymbol);
  CHECK(ds_class_of('$') == DsCharClass::PunctSymbol);
  CHECK(ds_class_of(0) == DsCharClass::Other);
  CHECK(ds_class_of(0x7F) == DsCharClass::Other);
  CHECK(ds_class_of(0x10FFFF) == DsCharClass::Other);
  CHECK(ds_class_of(0x110000) == DsCharClass::Other);
  // Printable ASCII that is neither letter, digit nor space is punctuation or symbol.
  for (uint32_t b = 0x21; b < 0x7F; ++b) {
    bool alnum = (b >= '0' && b <= '9') || (b >= 'A' && b <= 'Z') || (b >= 'a' && b <= 'z');
    CHECK((ds_class_of(b) == DsCharClass::PunctSymbol) == !alnum);
  }
}

TEST(tables_agree_with_each_other) {
  // The 2-bit classes are the 4-bit ones with marks, punctuation and symbols folded into Other.
  for (uint32_t cp = 0; cp < CODE_POINT_LIMIT; ++cp) {
    DsCharClass d = ds_class_of(cp);
    CharClass want = d == DsCharClass::Letter ? CharClass::Letter
                     : d == DsCharClass::Number ? CharClass::Number
                     : d == DsCharClass::Space  ? CharClass::Space
                                                : CharClass::Other;
    if (class_of(cp) != want) {
      CHECK(class_of(cp) == want);
      break;
    }
  }
}

TEST_MAIN()
