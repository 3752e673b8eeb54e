#include "input/file_source.h"

#include "input/display.h"

namespace morvik::input {

std::string_view compression_name(Compression c) noexcept {
  switch (c) {
    case Compression::Gzip: return "Gzip";
    case Compression::Zstd: return "Zstd";
    case Compression::None: break;
  }
  return "None";
}

std::string format_debug(const DocFormat& f) {
  if (const auto* j = f.as_jsonl()) return "Jsonl { field: " + debug_quote(j->field) + " }";
  const auto& sep = f.as_text()->separator;
  if (!sep) return "Text { separator: None }";
  std::string out = "Text { separator: Some([";
  for (std::size_t i = 0; i < sep->size(); ++i) {
    if (i) out += ", ";
    out += std::to_string(static_cast<unsigned char>((*sep)[i]));
  }
  return out + "]) }";
}

namespace {

// The last normal component of a POSIX path: trailing slashes and "."
// components are ignored; "..", a root or an empty path have none.
std::optional<std::string_view> file_name(std::string_view path) {
  while (!path.empty()) {
    while (!path.empty() && path.back() == '/') path.remove_suffix(1);
    if (path.empty()) return std::nullopt;
    const auto slash = path.rfind('/');
    const std::string_view last = slash == std::string_view::npos ? path : path.substr(slash + 1);
    if (last == ".") {
      path.remove_suffix(1);
      continue;
    }
    if (last == "..") return std::nullopt;
    return last;
  }
  return std::nullopt;
}

}  // namespace

DetectedFormat detect_format(std::string_view path) noexcept {
  const auto name = file_name(path);
  if (!name || !is_utf8(*name)) return {};
  std::string_view s = *name;
  if (s.size() < 3) return {};
  Compression c = Compression::None;
  if (s.size() == 3) {
    if (s == ".gz") {
      c = Compression::Gzip;
      s = {};
    }
  } else if (s.ends_with(".zst")) {
    c = Compression::Zstd;
    s.remove_suffix(4);
  } else if (s.size() > 4 && s.ends_with(".zstd")) {
    c = Compression::Zstd;
    s.remove_suffix(5);
  } else if (s.ends_with(".gz")) {
    c = Compression::Gzip;
    s.remove_suffix(3);
  }
  return {s.size() >= 6 && s.ends_with(".jsonl"), c};
}

}  // namespace morvik::input
