#include "input/jsonl.h"

#include <simdjson.h>

#include <cstring>

#include "input/display.h"

namespace morvik::input {

struct JsonLinesSlice::Parser {
  simdjson::ondemand::parser ondemand;
  // Lines too close to the end of the buffer for the reader's over-read are
  // copied here first; grown only, so reading allocates nothing per line.
  std::string scratch;
};

JsonLinesSlice::JsonLinesSlice(std::string_view data, std::size_t start, std::size_t end, std::string_view field)
    : data_(data),
      field_(field),
      pos_(start),
      end_(end > data.size() ? data.size() : end),
      parser_(std::make_unique<Parser>()) {}
JsonLinesSlice::JsonLinesSlice(JsonLinesSlice&&) noexcept = default;
JsonLinesSlice& JsonLinesSlice::operator=(JsonLinesSlice&&) noexcept = default;
JsonLinesSlice::~JsonLinesSlice() = default;

namespace {

bool is_blank(const char* p, std::size_t n) noexcept {
  for (std::size_t i = 0; i < n; ++i) {
    const char c = p[i];
    if (c != ' ' && c != '\t' && c != '\r' && c != '\n') return false;
  }
  return true;
}

// Only on the failure path: tells "valid JSON but not an object" from "not
// JSON" by a full validating parse.
JsonlFault classify_non_object(std::string_view line, std::string& detail) {
  simdjson::dom::parser dom;
  simdjson::padded_string copy(line);
  auto r = dom.parse(copy);
  if (r.error()) {
    detail = simdjson::error_message(r.error());
    return JsonlFault::NotJson;
  }
  return JsonlFault::NotObject;
}

}  // namespace

std::optional<std::string_view> JsonLinesSlice::next() {
  if (status_.bad) return std::nullopt;
  while (pos_ < end_) {
    const std::size_t lf = find_newline(data_, pos_, end_);
    const std::size_t line_end = lf == std::string_view::npos ? end_ : lf;
    const char* p = data_.data() + pos_;
    const std::size_t n = line_end - pos_;
    const std::size_t avail = data_.size() - pos_;
    pos_ = line_end + 1;
    ++status_.lines;
    if (is_blank(p, n)) continue;

    const char* json = p;
    std::size_t capacity = avail;
    if (avail - n < simdjson::SIMDJSON_PADDING) {
      std::string& s = parser_->scratch;
      if (s.size() < n + simdjson::SIMDJSON_PADDING) s.resize(n + simdjson::SIMDJSON_PADDING);
      std::memcpy(s.data(), p, n);
      std::memset(s.data() + n, ' ', simdjson::SIMDJSON_PADDING);
      json = s.data();
      capacity = s.size();
    }

    auto bad = [&](JsonlFault f, std::string detail = {}) {
      status_.bad = JsonlBadLine{status_.lines, f, std::move(detail)};
      return std::nullopt;
    };
    auto not_json = [&](simdjson::error_code e) { return bad(JsonlFault::NotJson, simdjson::error_message(e)); };

    simdjson::ondemand::document doc;
    if (auto e = parser_->ondemand.iterate(json, n, capacity).get(doc)) return not_json(e);
    simdjson::ondemand::json_type type;
    if (auto e = doc.type().get(type)) return not_json(e);
    simdjson::ondemand::object obj;
    if (type != simdjson::ondemand::json_type::object || doc.get_object().get(obj)) {
      std::string detail;
      const JsonlFault f = classify_non_object(std::string_view(p, n), detail);
      return bad(f, std::move(detail));
    }
    for (auto member : obj) {
      simdjson::ondemand::field fld;
      if (auto e = std::move(member).get(fld)) return not_json(e);
      std::string_view key;
      if (auto e = fld.unescaped_key().get(key)) return not_json(e);
      if (key != field_) continue;  // the loop skips the value
      simdjson::ondemand::value v = fld.value();
      simdjson::ondemand::json_type vt;
      if (auto e = v.type().get(vt)) return not_json(e);
      if (vt != simdjson::ondemand::json_type::string) return bad(JsonlFault::FieldNotString);
      std::string_view text;
      if (auto e = v.get_string().get(text)) return not_json(e);
      return text;
    }
    return bad(JsonlFault::FieldMissing);
  }
  return std::nullopt;
}

Error bad_line_error(std::string_view path, std::string_view field, const JsonlBadLine& b) {
  std::string reason;
  switch (b.fault) {
    case JsonlFault::NotJson: reason = "not valid JSON"; break;
    case JsonlFault::NotObject: reason = "not a JSON object"; break;
    case JsonlFault::FieldMissing: reason = "no field " + debug_quote(field); break;
    case JsonlFault::FieldNotString: reason = "field " + debug_quote(field) + " is not a string"; break;
  }
  Error e = Error::make(lossy_utf8(path) + ": line " + std::to_string(b.line) + ": " + reason);
  if (!b.detail.empty()) e.causes.push_back(b.detail);
  return e;
}

std::optional<Error> first_bad_line(std::string_view path, std::string_view field,
                                    std::span<const JsonlRangeStatus> ranges) {
  std::uint64_t before = 0;
  for (const auto& r : ranges) {
    if (r.bad) {
      JsonlBadLine b = *r.bad;
      b.line += before;
      return bad_line_error(path, field, b);
    }
    before += r.lines;
  }
  return std::nullopt;
}

}  // namespace morvik::input
