#include "load_tokenizer/json_syntax.h"

#include <charconv>
#include <cstdint>
#include <vector>

namespace morvik::load_tokenizer {

namespace {

inline bool is_ws(unsigned char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
inline bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }

int hex_value(unsigned char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

class Checker {
 public:
  Checker(std::string_view text, size_t max_depth)
      : p_(reinterpret_cast<const unsigned char*>(text.data())), n_(text.size()), text_(text),
        max_depth_(max_depth) {}

  std::optional<JsonSyntaxError> run();

 private:
  void skip_ws() {
    while (i_ < n_ && is_ws(p_[i_])) ++i_;
  }
  bool fail(size_t at, const char* message) {
    error_ = JsonSyntaxError{at, message};
    return false;
  }
  bool scan_string();
  bool scan_hex4(uint32_t& out);
  bool scan_utf8();
  bool scan_number();
  bool scan_literal(std::string_view word);

  const unsigned char* p_;
  size_t n_;
  std::string_view text_;
  size_t max_depth_;
  size_t i_ = 0;
  std::optional<JsonSyntaxError> error_;
};

bool Checker::scan_hex4(uint32_t& out) {
  out = 0;
  for (int k = 0; k < 4; ++k) {
    if (i_ >= n_) return fail(n_, "EOF while parsing a string");
    int h = hex_value(p_[i_]);
    if (h < 0) return fail(i_, "invalid escape");
    out = out * 16 + uint32_t(h);
    ++i_;
  }
  return true;
}

// One UTF-8 sequence starting at a byte >= 0x80; refuses overlong forms,
// surrogates and code points above U+10FFFF.
bool Checker::scan_utf8() {
  const size_t start = i_;
  const unsigned char c = p_[i_];
  size_t len;
  unsigned char lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    len = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return fail(start, "invalid unicode code point");
  }
  for (size_t k = 1; k < len; ++k) {
    if (start + k >= n_) return fail(start, "invalid unicode code point");
    const unsigned char b = p_[start + k];
    if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) return fail(start, "invalid unicode code point");
  }
  i_ = start + len;
  return true;
}

bool Checker::scan_string() {
  ++i_;  // opening quote
  for (;;) {
    if (i_ >= n_) return fail(n_, "EOF while parsing a string");
    const unsigned char c = p_[i_];
    if (c == '"') {
      ++i_;
      return true;
    }
    if (c == '\\') {
      if (i_ + 1 >= n_) return fail(n_, "EOF while parsing a string");
      const unsigned char e = p_[i_ + 1];
      if (e == '"' || e == '\\' || e == '/' || e == 'b' || e == 'f' || e == 'n' || e == 'r' || e == 't') {
        i_ += 2;
        continue;
      }
      if (e != 'u') return fail(i_ + 1, "invalid escape");
      const size_t esc = i_;
      i_ += 2;
      uint32_t cp;
      if (!scan_hex4(cp)) return false;
      if (cp >= 0xDC00 && cp <= 0xDFFF) return fail(esc, "lone trailing surrogate in hex escape");
      if (cp >= 0xD800 && cp <= 0xDBFF) {
        if (i_ + 1 >= n_ || p_[i_] != '\\' || p_[i_ + 1] != 'u')
          return fail(esc, "lone leading surrogate in hex escape");
        i_ += 2;
        uint32_t low;
        if (!scan_hex4(low)) return false;
        if (low < 0xDC00 || low > 0xDFFF) return fail(esc, "lone leading surrogate in hex escape");
      }
      continue;
    }
    if (c < 0x20) return fail(i_, "control character (\\u0000-\\u001F) found while parsing a string");
    if (c < 0x80) {
      ++i_;
      continue;
    }
    if (!scan_utf8()) return false;
  }
}

bool Checker::scan_number() {
  const size_t start = i_;
  if (p_[i_] == '-') ++i_;
  if (i_ >= n_ || !is_digit(p_[i_])) return fail(i_, "invalid number");
  const size_t int_begin = i_;
  if (p_[i_] == '0') {
    ++i_;
  } else {
    while (i_ < n_ && is_digit(p_[i_])) ++i_;
  }
  const size_t int_end = i_;
  bool is_float = false;
  size_t frac_begin = i_, frac_end = i_;
  if (i_ < n_ && p_[i_] == '.') {
    is_float = true;
    ++i_;
    frac_begin = i_;
    if (i_ >= n_ || !is_digit(p_[i_])) return fail(i_, "invalid number");
    while (i_ < n_ && is_digit(p_[i_])) ++i_;
    frac_end = i_;
  }
  int64_t exponent = 0;
  if (i_ < n_ && (p_[i_] == 'e' || p_[i_] == 'E')) {
    is_float = true;
    ++i_;
    bool negative = false;
    if (i_ < n_ && (p_[i_] == '+' || p_[i_] == '-')) negative = p_[i_++] == '-';
    if (i_ >= n_ || !is_digit(p_[i_])) return fail(i_, "invalid number");
    while (i_ < n_ && is_digit(p_[i_])) {
      // Saturate: any exponent this large already decides overflow or underflow.
      if (exponent < 100000000) exponent = exponent * 10 + (p_[i_] - '0');
      ++i_;
    }
    if (negative) exponent = -exponent;
  }
  // Integers up to 19 digits fit 64 bits; larger ones and all floats are read
  // as doubles, which must be finite.
  if (!is_float && int_end - int_begin <= 19) return true;
  double value;
  auto r = std::from_chars(text_.data() + start, text_.data() + i_, value);
  if (r.ec == std::errc::result_out_of_range) {
    // Out of range is either overflow (an error) or underflow to zero (fine):
    // decide by the decimal exponent of the leading non-zero digit.
    int64_t lead = 0;
    bool found = false;
    for (size_t k = int_begin; k < int_end; ++k)
      if (p_[k] != '0') {
        lead = int64_t(int_end - k) - 1;
        found = true;
        break;
      }
    if (!found)
      for (size_t k = frac_begin; k < frac_end; ++k)
        if (p_[k] != '0') {
          lead = -int64_t(k - frac_begin) - 1;
          found = true;
          break;
        }
    if (found && lead + exponent > 0) return fail(start, "number out of range");
  }
  return true;
}

bool Checker::scan_literal(std::string_view word) {
  for (size_t k = 0; k < word.size(); ++k) {
    if (i_ + k >= n_) return fail(n_, "EOF while parsing a value");
    if (p_[i_ + k] != static_cast<unsigned char>(word[k])) return fail(i_ + k, "expected ident");
  }
  i_ += word.size();
  return true;
}

std::optional<JsonSyntaxError> Checker::run() {
  // Open containers: '{' or '['. Bounded by max_depth_.
  std::vector<char> stack;
  enum class State { Value, Key, AfterValue } state = State::Value;
  for (;;) {
    switch (state) {
      case State::Value: {
        skip_ws();
        if (i_ >= n_) {
          fail(n_, "EOF while parsing a value");
          return error_;
        }
        const unsigned char c = p_[i_];
        if (c == '{' || c == '[') {
          if (stack.size() >= max_depth_) {
            fail(i_, "recursion limit exceeded");
            return error_;
          }
          stack.push_back(char(c));
          ++i_;
          skip_ws();
          if (i_ >= n_) {
            fail(n_, c == '{' ? "EOF while parsing an object" : "EOF while parsing a list");
            return error_;
          }
          if (p_[i_] == (c == '{' ? '}' : ']')) {
            ++i_;
            stack.pop_back();
            state = State::AfterValue;
          } else {
            state = c == '{' ? State::Key : State::Value;
          }
          break;
        }
        bool ok;
        if (c == '"') ok = scan_string();
        else if (c == '-' || is_digit(c)) ok = scan_number();
        else if (c == 't') ok = scan_literal("true");
        else if (c == 'f') ok = scan_literal("false");
        else if (c == 'n') ok = scan_literal("null");
        else ok = fail(i_, "expected value");
        if (!ok) return error_;
        state = State::AfterValue;
        break;
      }
      case State::Key: {
        skip_ws();
        if (i_ >= n_) {
          fail(n_, "EOF while parsing an object");
          return error_;
        }
        if (p_[i_] != '"') {
          fail(i_, "key must be a string");
          return error_;
        }
        if (!scan_string()) return error_;
        skip_ws();
        if (i_ >= n_) {
          fail(n_, "EOF while parsing an object");
          return error_;
        }
        if (p_[i_] != ':') {
          fail(i_, "expected `:`");
          return error_;
        }
        ++i_;
        state = State::Value;
        break;
      }
      case State::AfterValue: {
        skip_ws();
        if (stack.empty()) {
          if (i_ < n_) {
            fail(i_, "JSON has non-whitespace trailing characters after the value");
            return error_;
          }
          return std::nullopt;
        }
        const bool in_object = stack.back() == '{';
        if (i_ >= n_) {
          fail(n_, in_object ? "EOF while parsing an object" : "EOF while parsing a list");
          return error_;
        }
        const unsigned char c = p_[i_];
        if (c == ',') {
          ++i_;
          skip_ws();
          if (i_ < n_ && p_[i_] == (in_object ? '}' : ']')) {
            fail(i_, "trailing comma");
            return error_;
          }
          state = in_object ? State::Key : State::Value;
        } else if (c == (in_object ? '}' : ']')) {
          ++i_;
          stack.pop_back();
        } else {
          fail(i_, in_object ? "expected `,` or `}`" : "expected `,` or `]`");
          return error_;
        }
        break;
      }
    }
  }
}

}  // namespace

std::optional<JsonSyntaxError> find_json_syntax_error(std::string_view text, size_t max_depth) {
  return Checker(text, max_depth).run();
}

LineColumn line_column(std::string_view text, size_t offset) {
  if (offset > text.size()) offset = text.size();
  size_t line = 1, line_start = 0;
  for (size_t k = 0; k < offset; ++k)
    if (text[k] == '\n') {
      ++line;
      line_start = k + 1;
    }
  return {line, offset - line_start + 1};
}

std::string position_suffix(std::string_view text, size_t offset) {
  const LineColumn lc = line_column(text, offset);
  return " at line " + std::to_string(lc.line) + " column " + std::to_string(lc.column);
}

}  // namespace morvik::load_tokenizer
