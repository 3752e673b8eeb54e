#include <cerrno>
#include <string>

#include "check.h"
#include "common/error.h"
#include "common/hash.h"

using namespace morvik;

TEST(error_records_location_and_causes) {
  Error e = Error::make("Failed to read x").caused_by(os_error_text(ENOENT));
  CHECK_EQ(e.message, std::string("Failed to read x"));
  CHECK_EQ(e.causes.size(), 1u);
  CHECK_EQ(e.causes[0], std::string("No such file or directory (os error 2)"));
  CHECK(e.location.find("tests/native/test_common.cpp:") == 0 || e.location.find("test_common.cpp:") != std::string::npos);
}

TEST(hash_differs_on_length) {
  CHECK(hash_bytes(std::string_view("ab", 2)) != hash_bytes(std::string_view("ab\0", 3)));
  CHECK(hash_bytes("") != hash_bytes(std::string_view("\0", 1)));
}

TEST_MAIN()
