// The tokenizer.json reader.
//
// Two passes over the text, both simdjson:
//   1. validation with the DOM parser (runtime-dispatched SIMD; depth limit
//      JSON_MAX_DEPTH). It checks everything, skipped values included. When it
//      refuses, the scalar checker of json_syntax.h locates and describes the
//      problem (or overrules it for valid JSON simdjson cannot hold, such as
//      integers beyond 64 bits).
//   2. mapping onto the records with On-Demand, which knows the source
//      position of every value, so type, missing-field and duplicate-field
//      errors can say where they are.
// Measured on llama3.json (9 MB): about 9 ms for pass 1 and 7 ms for pass 2;
// On-Demand alone does not validate the values it skips.
#include "load_tokenizer/hf.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <algorithm>
#include <cstring>

#include <simdjson.h>

#include "common/hash.h"
#include "load_tokenizer/json_syntax.h"

namespace morvik::load_tokenizer {

namespace od = simdjson::ondemand;

std::string debug_quoted(std::string_view text) {
  static const char* hex = "0123456789abcdef";
  std::string out;
  out.reserve(text.size() + 2);
  out += '"';
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      case '\0': out += "\\0"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          out += "\\u{";
          if (c >= 0x10) out += hex[c >> 4];
          out += hex[c & 15];
          out += '}';
        } else if (c == 0xC2 && i + 1 < text.size() && static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                   static_cast<unsigned char>(text[i + 1]) <= 0x9F) {
          // C1 control characters (U+0080..U+009F).
          const unsigned char d = static_cast<unsigned char>(text[++i]);
          out += "\\u{";
          out += hex[d >> 4];
          out += hex[d & 15];
          out += '}';
        } else {
          out += char(c);
        }
    }
  }
  out += '"';
  return out;
}

std::string path_text(std::string_view path) {
  std::string out;
  out.reserve(path.size());
  const auto* p = reinterpret_cast<const unsigned char*>(path.data());
  const size_t n = path.size();
  size_t i = 0;
  while (i < n) {
    const unsigned char c = p[i];
    if (c < 0x80) {
      out += char(c);
      ++i;
      continue;
    }
    size_t len = 0;
    unsigned char lo = 0x80, hi = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) len = 2;
    else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    }
    // Accept the longest valid prefix; a broken sequence becomes one U+FFFD.
    size_t k = 1;
    if (len) {
      for (; k < len && i + k < n; ++k) {
        const unsigned char b = p[i + k];
        if (k == 1 ? (b < lo || b > hi) : (b < 0x80 || b > 0xBF)) break;
      }
    }
    if (len && k == len) out.append(path.substr(i, len));
    else out += "\xEF\xBF\xBD";
    i += len ? k : 1;
  }
  return out;
}

namespace {

// Open-addressing set of vocabulary positions, keyed by token string; the
// table stays below half full.
class VocabIndex {
 public:
  explicit VocabIndex(std::vector<VocabEntry>& entries) : entries_(entries) { rehash(1024); }

  // Appends (token, id), or replaces the id of an earlier equal token.
  void put(std::string_view token, uint32_t id) {
    if ((entries_.size() + 1) * 2 > slots_.size()) rehash(slots_.size() * 2);
    const uint64_t h = hash_bytes(token);
    size_t i = h & mask_;
    for (;;) {
      const uint32_t s = slots_[i];
      if (s == EMPTY) break;
      if (hashes_[s] == h && entries_[s].token == token) {
        entries_[s].id = id;
        return;
      }
      i = (i + 1) & mask_;
    }
    slots_[i] = uint32_t(entries_.size());
    hashes_.push_back(h);
    entries_.push_back(VocabEntry{std::string(token), id});
  }

 private:
  static constexpr uint32_t EMPTY = 0xFFFFFFFFu;
  void rehash(size_t capacity) {
    slots_.assign(capacity, EMPTY);
    mask_ = capacity - 1;
    for (uint32_t k = 0; k < hashes_.size(); ++k) {
      size_t i = hashes_[k] & mask_;
      while (slots_[i] != EMPTY) i = (i + 1) & mask_;
      slots_[i] = k;
    }
  }
  std::vector<VocabEntry>& entries_;
  std::vector<uint64_t> hashes_;
  std::vector<uint32_t> slots_;
  size_t mask_ = 0;
};

// Maps On-Demand values onto the records. Every method returns false after
// recording the first error (offset and description); the caller stops there.
class Mapper {
 public:
  Mapper(std::string_view text) : text_(text) {}

  bool read_document(od::document& doc, TokenizerJson& out);

  size_t error_offset = 0;
  std::string error_message;

 private:
  bool fail(size_t offset, std::string message) {
    error_offset = offset;
    error_message = std::move(message);
    return false;
  }
  bool fail_simdjson(od::value& v, simdjson::error_code code) {
    return fail(offset_of(v), simdjson::error_message(code));
  }
  size_t offset_of(const char* p) const {
    if (!p || p < text_.data() || p > text_.data() + text_.size()) return text_.size();
    return size_t(p - text_.data());
  }
  size_t offset_of(od::value& v) {
    const char* p = nullptr;
    if (v.current_location().get(p)) return text_.size();
    return offset_of(p);
  }
  // Offset of the closing brace of the object just iterated: the last
  // non-whitespace byte before the next token.
  size_t closing_offset() {
    const char* p = nullptr;
    size_t end = text_.size();
    if (doc_ && !doc_->current_location().get(p)) end = offset_of(p);
    while (end > 0 && (text_[end - 1] == ' ' || text_[end - 1] == '\t' || text_[end - 1] == '\n' ||
                       text_[end - 1] == '\r'))
      --end;
    return end > 0 ? end - 1 : 0;
  }

  std::string describe(od::value& v);
  bool type_error(od::value& v, const char* expected) {
    const size_t at = offset_of(v);
    return fail(at, "invalid type: " + describe(v) + ", expected " + expected);
  }
  bool is_null(od::value& v) {
    od::json_type t;
    return !v.type().get(t) && t == od::json_type::null;
  }

  bool read_string(od::value& v, std::string& out);
  bool read_bool(od::value& v, bool& out);
  bool read_u32(od::value& v, uint32_t& out);
  bool read_opt_string(od::value& v, std::optional<std::string>& out);
  bool read_opt_bool(od::value& v, std::optional<bool>& out);
  bool open_object(od::value& v, od::object& obj, const char* expected);

  // Iterates an object's fields: `on_field(index, value)` for keys in `keys`
  // (index into keys), skipping others; refuses repeated keys and, at the end,
  // the missing keys whose bit is in `required`.
  template <size_t N, class F>
  bool for_fields(od::object& obj, const std::string_view (&keys)[N], uint32_t required, F&& on_field);

  bool read_pattern(od::value& v, PatternJson& out);
  bool read_pretokenizer(od::value& v, PreTokenizerJson& out);
  bool read_normalizer(od::value& v, NormalizerJson& out);
  bool read_added_token(od::value& v, AddedToken& out);
  bool read_vocab(od::value& v, std::vector<VocabEntry>& out);
  bool read_merges(od::value& v, std::vector<Merge>& out);
  bool read_model(od::value& v, Model& out);

  std::string_view text_;
  od::document* doc_ = nullptr;
};

std::string Mapper::describe(od::value& v) {
  od::json_type t;
  if (v.type().get(t)) return "value";
  switch (t) {
    case od::json_type::null: return "null";
    case od::json_type::boolean: {
      bool b = false;
      if (v.get_bool().get(b)) return "boolean";
      return b ? "boolean `true`" : "boolean `false`";
    }
    case od::json_type::number: {
      std::string_view raw;
      raw = v.raw_json_token();
      while (!raw.empty() && (raw.back() == ' ' || raw.back() == '\t' || raw.back() == '\n' || raw.back() == '\r'))
        raw.remove_suffix(1);
      const bool is_float = raw.find_first_of(".eE") != std::string_view::npos;
      return std::string(is_float ? "floating point `" : "integer `") + std::string(raw) + "`";
    }
    case od::json_type::string: {
      std::string_view s;
      if (v.get_string().get(s)) return "string";
      return "string " + debug_quoted(s);
    }
    case od::json_type::array: return "sequence";
    case od::json_type::object: return "map";
  }
  return "value";
}

bool Mapper::read_string(od::value& v, std::string& out) {
  od::json_type t;
  if (auto e = v.type().get(t)) return fail_simdjson(v, e);
  if (t != od::json_type::string) return type_error(v, "a string");
  std::string_view s;
  if (auto e = v.get_string().get(s)) return fail_simdjson(v, e);
  out.assign(s);
  return true;
}

bool Mapper::read_bool(od::value& v, bool& out) {
  od::json_type t;
  if (auto e = v.type().get(t)) return fail_simdjson(v, e);
  if (t != od::json_type::boolean) return type_error(v, "a boolean");
  if (auto e = v.get_bool().get(out)) return fail_simdjson(v, e);
  return true;
}

bool Mapper::read_u32(od::value& v, uint32_t& out) {
  od::json_type t;
  if (auto e = v.type().get(t)) return fail_simdjson(v, e);
  if (t != od::json_type::number) return type_error(v, "u32");
  const size_t at = offset_of(v);
  std::string_view raw;
  raw = v.raw_json_token();
  // The token was validated already; read it digit by digit so that integers
  // of any size are judged by their value, not by what 64 bits can hold.
  size_t i = 0;
  const bool negative = !raw.empty() && raw[0] == '-';
  if (negative) ++i;
  const size_t digits_begin = i;
  uint64_t value = 0;
  bool overflow = false;
  while (i < raw.size() && raw[i] >= '0' && raw[i] <= '9') {
    if (value > 0xFFFFFFFFull) overflow = true;
    else value = value * 10 + uint64_t(raw[i] - '0');
    ++i;
  }
  const bool is_float = i < raw.size() && (raw[i] == '.' || raw[i] == 'e' || raw[i] == 'E');
  size_t end = raw.find_first_of(" \t\r\n");
  std::string token(raw.substr(0, end));
  if (is_float || i - digits_begin > 20) return fail(at, "invalid type: floating point `" + token + "`, expected u32");
  if ((negative && value != 0) || overflow || value > 0xFFFFFFFFull)
    return fail(at, "invalid value: integer `" + token + "`, expected u32");
  out = uint32_t(value);
  return true;
}

bool Mapper::read_opt_string(od::value& v, std::optional<std::string>& out) {
  if (is_null(v)) {
    out.reset();
    return true;
  }
  std::string s;
  if (!read_string(v, s)) return false;
  out = std::move(s);
  return true;
}

bool Mapper::read_opt_bool(od::value& v, std::optional<bool>& out) {
  if (is_null(v)) {
    out.reset();
    return true;
  }
  bool b;
  if (!read_bool(v, b)) return false;
  out = b;
  return true;
}

bool Mapper::open_object(od::value& v, od::object& obj, const char* expected) {
  od::json_type t;
  if (auto e = v.type().get(t)) return fail_simdjson(v, e);
  if (t != od::json_type::object) return type_error(v, expected);
  if (auto e = v.get_object().get(obj)) return fail_simdjson(v, e);
  return true;
}

template <size_t N, class F>
bool Mapper::for_fields(od::object& obj, const std::string_view (&keys)[N], uint32_t required, F&& on_field) {
  static_assert(N <= 32);
  uint32_t seen = 0;
  for (auto item : obj) {
    od::field f;
    if (auto e = std::move(item).get(f)) return fail(closing_offset(), simdjson::error_message(e));
    const size_t key_at = offset_of(f.key().raw()) - 1;  // the opening quote
    std::string_view key;
    if (auto e = f.unescaped_key().get(key)) return fail(key_at, simdjson::error_message(e));
    size_t k = 0;
    while (k < N && keys[k] != key) ++k;
    if (k == N) continue;  // unlisted: On-Demand skips the value when we move on
    if (seen & (1u << k)) return fail(key_at, "duplicate field `" + std::string(key) + "`");
    seen |= 1u << k;
    if (!on_field(k, f.value())) return false;
  }
  const uint32_t missing = required & ~seen;
  if (missing) {
    size_t k = 0;
    while (!(missing & (1u << k))) ++k;
    return fail(closing_offset(), "missing field `" + std::string(keys[k]) + "`");
  }
  return true;
}

bool Mapper::read_pattern(od::value& v, PatternJson& out) {
  od::object obj;
  if (!open_object(v, obj, "struct PatternJson")) return false;
  static constexpr std::string_view keys[] = {"Regex", "String"};
  return for_fields(obj, keys, 0, [&](size_t k, od::value& fv) {
    return read_opt_string(fv, k == 0 ? out.regex : out.string);
  });
}

// Nesting of pre-tokenizers and normalizers is bounded by the depth limit the
// validation pass enforced, which bounds this recursion too.
bool Mapper::read_pretokenizer(od::value& v, PreTokenizerJson& out) {
  od::object obj;
  if (!open_object(v, obj, "struct PreTokenizerJson")) return false;
  static constexpr std::string_view keys[] = {"type",    "pretokenizers",  "pattern",         "replacement",
                                              "prepend_scheme", "split", "add_prefix_space"};
  return for_fields(obj, keys, 1u << 0, [&](size_t k, od::value& fv) {
    switch (k) {
      case 0: return read_string(fv, out.type);
      case 1: {
        od::json_type t;
        if (auto e = fv.type().get(t)) return fail_simdjson(fv, e);
        if (t != od::json_type::array) return type_error(fv, "a sequence");
        od::array arr;
        if (auto e = fv.get_array().get(arr)) return fail_simdjson(fv, e);
        for (auto item : arr) {
          od::value ev;
          if (auto e = std::move(item).get(ev)) return fail(closing_offset(), simdjson::error_message(e));
          out.pretokenizers.emplace_back();
          if (!read_pretokenizer(ev, out.pretokenizers.back())) return false;
        }
        return true;
      }
      case 2: {
        if (is_null(fv)) {
          out.pattern.reset();
          return true;
        }
        PatternJson p;
        if (!read_pattern(fv, p)) return false;
        out.pattern = std::move(p);
        return true;
      }
      case 3: return read_opt_string(fv, out.replacement);
      case 4: return read_opt_string(fv, out.prepend_scheme);
      case 5: return read_opt_bool(fv, out.split);
      default: return read_opt_bool(fv, out.add_prefix_space);
    }
  });
}

bool Mapper::read_normalizer(od::value& v, NormalizerJson& out) {
  od::object obj;
  if (!open_object(v, obj, "struct NormalizerJson")) return false;
  static constexpr std::string_view keys[] = {"type",    "normalizers", "pattern",     "content",
                                              "prepend", "strip_left",  "strip_right", "precompiled_charsmap"};
  return for_fields(obj, keys, 1u << 0, [&](size_t k, od::value& fv) {
    switch (k) {
      case 0: return read_string(fv, out.type);
      case 1: {
        od::json_type t;
        if (auto e = fv.type().get(t)) return fail_simdjson(fv, e);
        if (t != od::json_type::array) return type_error(fv, "a sequence");
        od::array arr;
        if (auto e = fv.get_array().get(arr)) return fail_simdjson(fv, e);
        for (auto item : arr) {
          od::value ev;
          if (auto e = std::move(item).get(ev)) return fail(closing_offset(), simdjson::error_message(e));
          out.normalizers.emplace_back();
          if (!read_normalizer(ev, out.normalizers.back())) return false;
        }
        return true;
      }
      case 2: {
        if (is_null(fv)) {
          out.pattern.reset();
          return true;
        }
        PatternJson p;
        if (!read_pattern(fv, p)) return false;
        out.pattern = std::move(p);
        return true;
      }
      case 3: return read_opt_string(fv, out.content);
      case 4: return read_opt_string(fv, out.prepend);
      case 5: return read_opt_bool(fv, out.strip_left);
      case 6: return read_opt_bool(fv, out.strip_right);
      default: return read_opt_string(fv, out.precompiled_charsmap);
    }
  });
}

bool Mapper::read_added_token(od::value& v, AddedToken& out) {
  od::object obj;
  if (!open_object(v, obj, "struct AddedToken")) return false;
  static constexpr std::string_view keys[] = {"id", "content", "special", "lstrip", "rstrip", "normalized"};
  return for_fields(obj, keys, (1u << 0) | (1u << 1), [&](size_t k, od::value& fv) {
    switch (k) {
      case 0: return read_u32(fv, out.id);
      case 1: return read_string(fv, out.content);
      case 2: return read_bool(fv, out.special);
      case 3: return read_bool(fv, out.lstrip);
      case 4: return read_bool(fv, out.rstrip);
      default: return read_bool(fv, out.normalized);
    }
  });
}

bool Mapper::read_vocab(od::value& v, std::vector<VocabEntry>& out) {
  od::object obj;
  if (!open_object(v, obj, "a map")) return false;
  VocabIndex index(out);
  for (auto item : obj) {
    od::field f;
    if (auto e = std::move(item).get(f)) return fail(closing_offset(), simdjson::error_message(e));
    std::string_view key;
    if (auto e = f.unescaped_key().get(key)) return fail(closing_offset(), simdjson::error_message(e));
    uint32_t id;
    if (!read_u32(f.value(), id)) return false;
    index.put(key, id);
  }
  return true;
}

bool Mapper::read_merges(od::value& v, std::vector<Merge>& out) {
  od::json_type t;
  if (auto e = v.type().get(t)) return fail_simdjson(v, e);
  if (t != od::json_type::array) return type_error(v, "a sequence");
  od::array arr;
  if (auto e = v.get_array().get(arr)) return fail_simdjson(v, e);
  static constexpr const char* kUntagged = "data did not match any variant of untagged enum Merge";
  // A string without a space is only reported once every element has been
  // read, so a malformed element later in the list takes precedence.
  bool have_invalid = false;
  size_t invalid_at = 0;
  std::string invalid_text;
  for (auto item : arr) {
    od::value ev;
    if (auto e = std::move(item).get(ev)) return fail(closing_offset(), simdjson::error_message(e));
    const size_t at = offset_of(ev);
    od::json_type et;
    if (auto e = ev.type().get(et)) return fail_simdjson(ev, e);
    if (et == od::json_type::string) {
      std::string_view s;
      if (auto e = ev.get_string().get(s)) return fail_simdjson(ev, e);
      const size_t sp = s.find(' ');
      if (sp == std::string_view::npos) {
        if (!have_invalid) {
          have_invalid = true;
          invalid_at = at;
          invalid_text = "invalid merge entry: " + debug_quoted(s);
        }
        continue;
      }
      out.push_back(Merge{std::string(s.substr(0, sp)), std::string(s.substr(sp + 1))});
      continue;
    }
    if (et != od::json_type::array) return fail(at, kUntagged);
    od::array pair;
    if (auto e = ev.get_array().get(pair)) return fail_simdjson(ev, e);
    std::string parts[2];
    size_t n = 0;
    for (auto part : pair) {
      od::value pv;
      if (auto e = std::move(part).get(pv)) return fail(closing_offset(), simdjson::error_message(e));
      od::json_type pt;
      if (auto e = pv.type().get(pt)) return fail_simdjson(pv, e);
      if (pt != od::json_type::string || n == 2) return fail(at, kUntagged);
      std::string_view s;
      if (auto e = pv.get_string().get(s)) return fail_simdjson(pv, e);
      parts[n++].assign(s);
    }
    if (n != 2) return fail(at, kUntagged);
    out.push_back(Merge{std::move(parts[0]), std::move(parts[1])});
  }
  if (have_invalid) return fail(invalid_at, std::move(invalid_text));
  return true;
}

bool Mapper::read_model(od::value& v, Model& out) {
  od::object obj;
  if (!open_object(v, obj, "struct Model")) return false;
  static constexpr std::string_view keys[] = {"type", "vocab", "merges", "byte_fallback", "ignore_merges"};
  return for_fields(obj, keys, (1u << 1) | (1u << 2), [&](size_t k, od::value& fv) {
    switch (k) {
      case 0: return read_string(fv, out.type);
      case 1: return read_vocab(fv, out.vocab);
      case 2: return read_merges(fv, out.merges);
      case 3: return read_bool(fv, out.byte_fallback);
      default: return read_bool(fv, out.ignore_merges);
    }
  });
}

bool Mapper::read_document(od::document& doc, TokenizerJson& out) {
  doc_ = &doc;
  od::value root;
  if (auto e = doc.get_value().get(root)) return fail(0, simdjson::error_message(e));
  od::object obj;
  if (!open_object(root, obj, "struct TokenizerJson")) return false;
  static constexpr std::string_view keys[] = {"model", "added_tokens", "pre_tokenizer", "normalizer"};
  return for_fields(obj, keys, 1u << 0, [&](size_t k, od::value& fv) {
    switch (k) {
      case 0: return read_model(fv, out.model);
      case 1: {
        od::json_type t;
        if (auto e = fv.type().get(t)) return fail_simdjson(fv, e);
        if (t != od::json_type::array) return type_error(fv, "a sequence");
        od::array arr;
        if (auto e = fv.get_array().get(arr)) return fail_simdjson(fv, e);
        for (auto item : arr) {
          od::value ev;
          if (auto e = std::move(item).get(ev)) return fail(closing_offset(), simdjson::error_message(e));
          out.added_tokens.emplace_back();
          if (!read_added_token(ev, out.added_tokens.back())) return false;
        }
        return true;
      }
      case 2: {
        if (is_null(fv)) {
          out.pre_tokenizer.reset();
          return true;
        }
        PreTokenizerJson p;
        if (!read_pretokenizer(fv, p)) return false;
        out.pre_tokenizer = std::move(p);
        return true;
      }
      default: {
        if (is_null(fv)) {
          out.normalizer.reset();
          return true;
        }
        NormalizerJson n;
        if (!read_normalizer(fv, n)) return false;
        out.normalizer = std::move(n);
        return true;
      }
    }
  });
}

constexpr const char* kParsePrefix = "Failed to parse tokenizer JSON: ";

// `text` must be followed by at least SIMDJSON_PADDING readable bytes.
Result<TokenizerJson> parse_padded(std::string_view text) {
  if (uint64_t(text.size()) >= MAX_JSON_BYTES)
    return Error::make(std::string(kParsePrefix) +
                       "Only support JSON less than 4 GB, the input JSON is too large here, len is " +
                       std::to_string(text.size()));
  {
    simdjson::dom::parser validator;
    simdjson::error_code code = validator.allocate(text.size(), JSON_MAX_DEPTH);
    if (!code) code = validator.parse(text.data(), text.size(), false).error();
    if (code) {
      auto syntax = find_json_syntax_error(text);
      if (syntax)
        return Error::make(kParsePrefix + syntax->message + position_suffix(text, syntax->offset));
      // Otherwise valid JSON that simdjson's DOM cannot represent (integers
      // above 64 bits); the mapping pass copes with it.
    }
  }
  od::parser parser;
  od::document doc;
  if (auto e = parser.iterate(text, text.size() + simdjson::SIMDJSON_PADDING).get(doc))
    return Error::make(kParsePrefix + std::string(simdjson::error_message(e)) + position_suffix(text, 0));
  TokenizerJson out;
  Mapper mapper(text);
  if (!mapper.read_document(doc, out))
    return Error::make(kParsePrefix + mapper.error_message + position_suffix(text, mapper.error_offset));
  return out;
}

}  // namespace

Result<TokenizerJson> read_tokenizer_json(std::string_view data) {
  if (uint64_t(data.size()) >= MAX_JSON_BYTES)
    return Error::make(std::string(kParsePrefix) +
                       "Only support JSON less than 4 GB, the input JSON is too large here, len is " +
                       std::to_string(data.size()));
  std::string buffer;
  buffer.reserve(data.size() + simdjson::SIMDJSON_PADDING);
  buffer.assign(data);
  buffer.append(simdjson::SIMDJSON_PADDING, '\0');
  return parse_padded(std::string_view(buffer.data(), data.size()));
}

Result<TokenizerJson> read_tokenizer_json_file(const std::string& path) {
  const std::string shown = path_text(path);
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return Error::make("Failed to read " + shown).caused_by(os_error_text(errno));
  struct stat st;
  size_t expected = 0;
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) expected = size_t(st.st_size);
  if (uint64_t(expected) >= MAX_JSON_BYTES) {
    ::close(fd);
    return Error::make("Failed to parse " + shown)
        .caused_by(std::string(kParsePrefix) +
                   "Only support JSON less than 4 GB, the input JSON is too large here, len is " +
                   std::to_string(expected));
  }
  // Read to end of file: the size is only a hint (the file may change, or be
  // a pipe). The buffer keeps room for the parser's padding.
  std::string buffer(expected + simdjson::SIMDJSON_PADDING, '\0');
  size_t len = 0;
  for (;;) {
    const size_t room = buffer.size() - simdjson::SIMDJSON_PADDING - len;
    char probe[4096];
    // When the buffer is full, probe for more before growing it, so a file of
    // the expected size is read without reallocation.
    char* dst = room ? buffer.data() + len : probe;
    const ssize_t got = ::read(fd, dst, room ? room : sizeof probe);
    if (got < 0) {
      if (errno == EINTR) continue;
      const int err = errno;
      ::close(fd);
      return Error::make("Failed to read " + shown).caused_by(os_error_text(err));
    }
    if (got == 0) break;
    if (!room) {
      buffer.resize(std::max(buffer.size() * 2, buffer.size() + sizeof probe));
      std::memcpy(buffer.data() + len, probe, size_t(got));
    }
    len += size_t(got);
    if (uint64_t(len) >= MAX_JSON_BYTES) break;  // refused by the parse below
  }
  ::close(fd);
  std::memset(buffer.data() + len, 0, simdjson::SIMDJSON_PADDING);
  auto parsed = parse_padded(std::string_view(buffer.data(), len));
  if (!parsed.ok()) return Error::make("Failed to parse " + shown).caused_by(std::move(parsed.error().message));
  return parsed;
}

}  // namespace morvik::load_tokenizer
