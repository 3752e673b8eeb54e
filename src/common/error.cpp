#include "common/error.h"

#include <cstring>

namespace morvik {

std::string os_error_text(int err) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(err, buf, sizeof buf);
  std::string out = text ? text : "Unknown error";
  out += " (os error " + std::to_string(err) + ")";
  return out;
}

}  // namespace morvik
