// `BPETokenizer.encode_files`: resolve the source, then, without the
// interpreter lock, load every file in parallel (mapped, or decompressed for
// .gz/.zst), cut multi-document files into ranges at document boundaries,
// encode the ranges on pooled forks and assemble one ragged result.
#include <atomic>
#include <exception>
#include <optional>

#include "bpe/batch.h"
#include "common/pool.h"
#include "input/jsonl.h"
#include "input/loaded_file.h"
#include "input/mod.h"
#include "lib/batch.h"
#include "lib/convert.h"
#include "lib/errors.h"
#include "lib/file_source.h"
#include "lib/ragged.h"

namespace morvik::py {
namespace {

constexpr const char kSourceType[] = "expected a TextFileSource/JsonlFileSource, a path, or a list of paths, got ";

input::DocFormat default_format(const std::string& first_path) {
  return input::detect_format(first_path).is_jsonl ? input::DocFormat::jsonl("text") : input::DocFormat::text();
}

bool resolve_files_source(PyObject* source, input::FileSourceSpec& spec) {
  int r = file_source_spec(source, spec);
  if (r != 0) return r > 0;
  std::string path;
  if (convert_path_plain(source, path)) {
    spec.format = default_format(path);
    spec.paths = {std::move(path)};
    return true;
  }
  PyErr_Clear();
  if (!PyUnicode_Check(source) && PySequence_Check(source)) {
    Ref seq = Ref::steal(PySequence_Fast(source, ""));
    if (seq) {
      bool ok = true;
      std::vector<std::string> paths;
      Py_ssize_t n = PySequence_Fast_GET_SIZE(seq.get());
      for (Py_ssize_t i = 0; i < n && ok; ++i) {
        std::string p;
        ok = convert_path_plain(PySequence_Fast_GET_ITEM(seq.get(), i), p);
        if (ok) paths.push_back(std::move(p));
      }
      if (ok) {
        spec.format = paths.empty() ? input::DocFormat::text() : default_format(paths[0]);
        spec.paths = std::move(paths);
        return true;
      }
    }
    PyErr_Clear();
  }
  std::string msg = kSourceType + type_text(source);
  PyErr_SetString(PyExc_TypeError, msg.c_str());
  return false;
}

// Loads every file on the pool, in path order. After a failure, tasks that
// have not started are skipped.
Result<std::vector<input::LoadedFile>> load_files(const std::vector<std::string>& paths) {
  std::vector<std::optional<input::LoadedFile>> slots(paths.size());
  std::vector<std::optional<Error>> errors(paths.size());
  std::atomic<bool> failed{false};
  pool::parallel_for(paths.size(), [&](size_t i) {
    if (failed.load(std::memory_order_relaxed)) return;
    auto f = input::load_file(paths[i]);
    if (f) {
      slots[i].emplace(std::move(*f));
    } else {
      errors[i] = std::move(f).error();
      failed.store(true);
    }
  });
  for (auto& e : errors) {
    if (e) return std::move(*e);
  }
  std::vector<input::LoadedFile> files;
  files.reserve(paths.size());
  for (auto& s : slots) files.push_back(std::move(*s));
  return files;
}

struct FilesOutcome {
  bpe::RaggedIds result;
  std::optional<Error> os_error;     // loading failed
  std::optional<Error> value_error;  // a malformed JSON Lines line
};

FilesOutcome encode_files_native(bpe::WorkerPool& workers, const bpe::Tokenizer& main,
                                 const input::FileSourceSpec& spec) {
  FilesOutcome out;
  auto loaded = load_files(spec.paths);
  if (!loaded) {
    out.os_error = std::move(loaded).error();
    return out;
  }
  const auto& files = *loaded;
  const auto* text = spec.format.as_text();
  if (text && !text->separator) {
    // Each file is one document: the batch engine splits a huge one.
    std::vector<std::string_view> docs;
    docs.reserve(files.size());
    for (const auto& f : files) docs.push_back(f.bytes());
    out.result = bpe::encode_slices_ragged(workers, main, docs);
    return out;
  }
  size_t total = 0;
  for (const auto& f : files) total += f.size();
  size_t chunk_bytes = bpe::chunk_bytes_for(total, pool::thread_count());

  const auto* jsonl = spec.format.as_jsonl();
  std::vector<std::vector<input::JsonlRangeStatus>> statuses(files.size());
  std::vector<bpe::EncodeChunk> chunks;
  for (size_t fi = 0; fi < files.size(); ++fi) {
    std::string_view data = files[fi].bytes();
    auto ranges = input::chunk_ranges(data, spec.format, chunk_bytes);
    statuses[fi].resize(ranges.size());
    for (size_t k = 0; k < ranges.size(); ++k) {
      bpe::EncodeChunk chunk;
      chunk.kind = bpe::EncodeChunk::Kind::File;
      auto range = ranges[k];
      if (jsonl) {
        auto* status = &statuses[fi][k];
        std::string_view field = jsonl->field;
        chunk.produce = [data, range, field, status](const bpe::DocEmit& emit) {
          input::JsonLinesSlice slice(data, range.start, range.end, field);
          while (auto doc = slice.next()) emit(*doc);
          *status = slice.status();
        };
      } else {
        std::string_view sep = input::text_separator(*text);
        chunk.produce = [data, range, sep](const bpe::DocEmit& emit) {
          input::DocumentIter it(data, sep, range.start, range.end);
          while (auto doc = it.next()) emit(*doc);
        };
      }
      chunks.push_back(std::move(chunk));
    }
  }
  auto results = bpe::encode_chunks_pooled(workers, main, chunks);
  if (jsonl) {
    for (size_t fi = 0; fi < files.size(); ++fi) {
      if (auto err = input::first_bad_line(spec.paths[fi], jsonl->field, statuses[fi])) {
        out.value_error = std::move(*err);
        return out;
      }
    }
  }
  out.result = bpe::assemble_ragged(std::move(results));
  return out;
}

}  // namespace

PyObject* encode_files_impl(BpeObject* self, PyObject* source) {
  SharedAccess access(self->access);
  if (!access.ok()) return nullptr;
  input::FileSourceSpec spec;
  if (!resolve_files_source(source, spec)) return nullptr;
  FilesOutcome outcome;
  std::optional<std::string> failure;
  {
    GilRelease nogil;
    try {
      outcome = encode_files_native(self->state->pool, self->state->tokenizer, spec);
    } catch (const std::exception& e) {
      failure = e.what();
    }
  }
  if (failure) return raise_internal(*failure);
  if (outcome.os_error) {
    PyErr_SetString(PyExc_OSError, outcome.os_error->message.c_str());
    return nullptr;
  }
  if (outcome.value_error) {
    PyErr_SetString(PyExc_ValueError, outcome.value_error->message.c_str());
    return nullptr;
  }
  return ragged_to_python(std::move(outcome.result.ids), std::move(outcome.result.counts));
}

}  // namespace morvik::py
