// A very small native test harness: CHECK records failures and goes on;
// main() returns non-zero when anything failed. Runs under the sanitizers.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace check {

inline int& failures() {
  static int n = 0;
  return n;
}
struct Case {
  const char* name;
  std::function<void()> fn;
};
inline std::vector<Case>& cases() {
  static std::vector<Case> v;
  return v;
}
struct Register {
  Register(const char* name, std::function<void()> fn) { cases().push_back({name, std::move(fn)}); }
};

inline int run_all() {
  int failed_cases = 0;
  for (auto& c : cases()) {
    int before = failures();
    c.fn();
    if (failures() != before) {
      ++failed_cases;
      std::printf("FAIL %s\n", c.name);
    }
  }
  std::printf("%zu passed, %d failed\n", cases().size() - failed_cases, failed_cases);
  return failed_cases ? 1 : 0;
}

}  // namespace check

#define CHECK_CAT2(a, b) a##b
#define CHECK_CAT(a, b) CHECK_CAT2(a, b)
#define TEST(name)                                                           \
  static void name();                                                        \
  static ::check::Register CHECK_CAT(reg_, name)(#name, name);               \
  static void name()

#define CHECK(cond)                                                          \
  do {                                                                       \
    if (!(cond)) {                                                           \
      ++::check::failures();                                                 \
      std::printf("%s:%d: CHECK(%s) failed\n", __FILE__, __LINE__, #cond);   \
    }                                                                        \
  } while (0)

#define CHECK_EQ(a, b)                                                       \
  do {                                                                       \
    if (!((a) == (b))) {                                                     \
      ++::check::failures();                                                 \
      std::printf("%s:%d: CHECK_EQ(%s, %s) failed\n", __FILE__, __LINE__, #a, #b); \
    }                                                                        \
  } while (0)

#define TEST_MAIN() \
  int main() { return ::check::run_all(); }
