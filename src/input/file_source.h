// What a corpus on disk is: the paths of a file source, the document format
// shared by all of them, and the compression of each file, which is chosen
// from the file name alone (never from the contents).
//
// Guarantees: `detect_format` is a pure function of the path's last
// component; `FileSourceSpec` is a plain value that can be copied to worker
// threads.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

namespace morvik::input {

enum class Compression : std::uint8_t { None = 0, Gzip = 1, Zstd = 2 };

// "None", "Gzip" or "Zstd".
std::string_view compression_name(Compression c) noexcept;

struct DocFormat {
  // Plain text. With a separator, documents are the non-empty pieces between
  // its occurrences; without one, a file (or range) is one document.
  struct Text {
    std::optional<std::string> separator;
  };
  // One JSON object per line; the document is the string member `field`.
  struct Jsonl {
    std::string field;
  };

  std::variant<Text, Jsonl> v;

  static DocFormat text(std::optional<std::string> separator = std::nullopt) {
    return DocFormat{Text{std::move(separator)}};
  }
  static DocFormat jsonl(std::string field = "text") { return DocFormat{Jsonl{std::move(field)}}; }

  bool is_jsonl() const noexcept { return v.index() == 1; }
  const Text* as_text() const noexcept { return std::get_if<Text>(&v); }
  const Jsonl* as_jsonl() const noexcept { return std::get_if<Jsonl>(&v); }
};

// The debug form used in progress lines:
//   Text { separator: None }, Text { separator: Some([35, 35]) },
//   Jsonl { field: "text" }
std::string format_debug(const DocFormat& f);

struct FileSourceSpec {
  std::vector<std::string> paths;  // file-system paths (raw bytes), in the order given
  DocFormat format;
};

struct DetectedFormat {
  bool is_jsonl = false;
  Compression compression = Compression::None;
  bool operator==(const DetectedFormat&) const = default;
};

// Compression from the end of the file name (".gz", ".zst", ".zstd",
// case-sensitive) and whether what remains ends in ".jsonl". A path without a
// final normal component ("", "/", "a/..") or whose name is not valid UTF-8
// gives (false, None).
DetectedFormat detect_format(std::string_view path) noexcept;

}  // namespace morvik::input
