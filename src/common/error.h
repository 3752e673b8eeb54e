// Errors as values for the native core.
//
// Loaders, readers and builders return `Result<T>`: either a value or an
// `Error` record (message, optional causes, the source position where it was
// raised). Only the Python layer (src/lib) turns an Error into an exception.
// Hot paths never fail and never build one.
#pragma once

#include <cstdint>
#include <source_location>
#include <string>
#include <utility>
#include <variant>
#include <vector>

namespace morvik {

struct Error {
  std::string message;
  std::vector<std::string> causes;  // outermost first, e.g. the OS error of a failed open
  std::string location;             // "file:line:column" of the raise site

  static Error make(std::string message,
                    std::source_location loc = std::source_location::current()) {
    Error e;
    e.message = std::move(message);
    e.location = format_location(loc);
    return e;
  }
  Error&& caused_by(std::string cause) && {
    causes.push_back(std::move(cause));
    return std::move(*this);
  }

  static std::string format_location(const std::source_location& loc) {
    std::string file = loc.file_name();
    // Keep paths repository-relative so messages do not leak the build machine.
    if (auto p = file.rfind("/src/"); p != std::string::npos) file = file.substr(p + 1);
    return file + ":" + std::to_string(loc.line()) + ":" + std::to_string(loc.column());
  }
};

// The OS message for errno `err` in the form "<text> (os error <n>)".
std::string os_error_text(int err);

// A minimal value-or-error (std::expected is C++23).
template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}
  Result(Error error) : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const T& value() const& { return std::get<0>(v_); }
  T& operator*() & { return value(); }
  T&& operator*() && { return std::move(*this).value(); }
  T* operator->() { return &std::get<0>(v_); }
  const T* operator->() const { return &std::get<0>(v_); }
  Error& error() & { return std::get<1>(v_); }
  Error&& error() && { return std::get<1>(std::move(v_)); }
  const Error& error() const& { return std::get<1>(v_); }

 private:
  std::variant<T, Error> v_;
};

template <>
class [[nodiscard]] Result<void> {
 public:
  Result() = default;
  Result(Error error) : err_(std::move(error)), failed_(true) {}
  bool ok() const noexcept { return !failed_; }
  explicit operator bool() const noexcept { return ok(); }
  Error& error() & { return err_; }
  Error&& error() && { return std::move(err_); }
  const Error& error() const& { return err_; }

 private:
  Error err_;
  bool failed_ = false;
};

// Propagate an error from an expression returning Result<...>.
#define MORVIK_TRY(expr)                                   \
  do {                                                     \
    auto&& morvik_try_r_ = (expr);                         \
    if (!morvik_try_r_.ok()) return std::move(morvik_try_r_).error(); \
  } while (0)

}  // namespace morvik
