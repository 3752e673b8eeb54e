// The real tokenizer.json files of the shared tokenizer folder: each is read,
// and the byte-level BPE ones build with the right family and NFC switch.
// Skips when the folder is absent (MORVIK_TOKENIZERS_DIR, or ../shared/tokenizers
// beside the checkout).
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>

#include "check.h"
#include "load_tokenizer/hf_bpe.h"

using namespace morvik::load_tokenizer;
using morvik::pretokenize::PretokenizerKind;

namespace {

std::optional<std::string> tokenizer_file(const std::string& name) {
  std::vector<std::string> dirs;
  if (const char* env = std::getenv("MORVIK_TOKENIZERS_DIR")) dirs.push_back(env);
  dirs.push_back("../shared/tokenizers");
  dirs.push_back("../../shared/tokenizers");
  for (const std::string& d : dirs) {
    const std::string p = d + "/" + name;
    struct stat st;
    if (::stat(p.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return p;
  }
  std::printf("  skipped: %s not found\n", name.c_str());
  return std::nullopt;
}

}  // namespace

TEST(byte_level_models_build_with_their_family) {
  struct Case {
    const char* file;
    PretokenizerKind kind;
    bool nfc;
    size_t vocab_size;  // vocabulary plus added tokens beyond it
    size_t added;
  };
  const Case cases[] = {
      {"llama3.json", PretokenizerKind::Olmo3, false, 128256, 256},
      {"gpt35turbo.json", PretokenizerKind::Olmo3, false, 100277, 5},
      {"qwen3.json", PretokenizerKind::Qwen2, true, 151669, 26},
      {"deepseek_v3.json", PretokenizerKind::DeepSeekV3, false, 128815, 818},
  };
  for (const Case& c : cases) {
    auto path = tokenizer_file(c.file);
    if (!path) continue;
    auto r = load_bpe_from_hf_file(*path);
    CHECK(r.ok());
    if (!r.ok()) {
      std::printf("  %s: %s\n", c.file, r.error().message.c_str());
      continue;
    }
    CHECK(r->pretokenizer_kind == c.kind);
    CHECK_EQ(r->nfc, c.nfc);
    CHECK_EQ(r->vocab_size(), c.vocab_size);
    CHECK_EQ(r->added_tokens.size(), c.added);
    // Every vocabulary token of two or more bytes comes from one merge.
    CHECK(r->merges.size() > c.vocab_size - c.added - 256 - 1000);
  }
}

TEST(unsupported_real_models_fail_with_their_message) {
  if (auto path = tokenizer_file("gpt4o.json")) {
    auto r = load_bpe_from_hf_file(*path);
    CHECK(!r.ok());
    if (!r.ok()) {
      const std::string want = "Unknown pre_tokenizer Split regexes, no fast pretokenizer for: [\"[^\\\\r\\\\n\\\\p{L}";
      CHECK_EQ(r.error().message.substr(0, want.size()), want);
      CHECK_EQ(r.error().message.back(), ']');
    }
  }
  for (const char* name : {"llama2.json", "gemini.json"}) {
    auto path = tokenizer_file(name);
    if (!path) continue;
    auto r = load_bpe_from_hf_file(*path);
    CHECK(!r.ok() && r.error().message == "byte_fallback tokenizers should use load_hf_sentencepiece instead");
  }
}

TEST(sentencepiece_models_read_completely) {
  if (auto path = tokenizer_file("llama2.json")) {
    auto r = read_tokenizer_json_file(*path);
    CHECK(r.ok());
    if (r.ok()) {
      CHECK(r->model.byte_fallback);
      CHECK_EQ(r->model.vocab.size(), size_t(32000));
      CHECK_EQ(r->model.merges.size(), size_t(58980));
      CHECK(!r->pre_tokenizer);
      CHECK(r->normalizer && r->normalizer->normalizers.size() == 2);
      if (r->normalizer && r->normalizer->normalizers.size() == 2) {
        CHECK_EQ(*r->normalizer->normalizers[0].prepend, "\xE2\x96\x81");
        CHECK_EQ(*r->normalizer->normalizers[1].pattern->string, " ");
      }
    }
  }
  if (auto path = tokenizer_file("gemini.json")) {
    auto r = read_tokenizer_json_file(*path);
    CHECK(r.ok());
    if (r.ok()) {
      CHECK_EQ(r->model.vocab.size(), size_t(256000));
      CHECK_EQ(r->model.merges.size(), size_t(580604));
      CHECK(r->normalizer && r->normalizer->type == "Replace" && *r->normalizer->content == "\xE2\x96\x81");
    }
  }
}

TEST_MAIN()
