// `BPETokenizer`: constructors, single-document encode, decode and the
// vocabulary views. Batch and file encoding live in their own files.
#include "lib/bpe_tokenizer.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "lib/batch.h"
#include "lib/convert.h"
#include "lib/hf_entry.h"
#include "lib/errors.h"
#include "lib/numpy_bridge.h"
#include "lib/registry.h"
#include "load_tokenizer/tiktoken.h"

namespace morvik::py {
namespace {

constexpr const char kEndOfText[] = "<|endoftext|>";

BpeObject* as_bpe(PyObject* self) { return reinterpret_cast<BpeObject*>(self); }

PyObject* alloc_bpe(PyTypeObject* type, bpe::Tokenizer&& t) {
  PyObject* obj = type->tp_alloc(type, 0);
  if (!obj) return nullptr;
  auto* o = as_bpe(obj);
  new (&o->access) AccessCounter();
  o->state = new BpeState(std::move(t));
  return obj;
}

// The ranks-file constructors: load, derive the merges, add "<|endoftext|>"
// one past the last rank.
PyObject* load_ranks_file(PyTypeObject* type, const std::string& path) {
  auto ranks = load_tokenizer::load_tiktoken(path);
  if (!ranks) return raise_error(ranks.error());
  size_t n = ranks->size();
  auto tok = bpe::Tokenizer::from_ranks(std::move(*ranks));
  if (!tok) return raise_error(tok.error());
  tok->add_special_token(std::string_view(kEndOfText, sizeof kEndOfText - 1), static_cast<bpe::TokenId>(n));
  return alloc_bpe(type, std::move(*tok));
}

bool home_directory(std::string& out) {
  const char* home = std::getenv("HOME");
  if (home && *home) {
    out = home;
    return true;
  }
  long hint = sysconf(_SC_GETPW_R_SIZE_MAX);
  std::vector<char> buf(hint > 0 ? static_cast<size_t>(hint) : 512);
  for (;;) {
    passwd pw{};
    passwd* result = nullptr;
    int rc = getpwuid_r(getuid(), &pw, buf.data(), buf.size(), &result);
    if (rc == ERANGE && buf.size() < (1u << 20)) {
      buf.resize(buf.size() * 2);
      continue;
    }
    if (rc != 0 || !result || !result->pw_dir || !*result->pw_dir) return false;
    out = result->pw_dir;
    return true;
  }
}

std::string join_path(std::string base, std::string_view part) {
  if (!part.empty() && part.front() == '/') return std::string(part);
  if (!base.empty() && base.back() != '/') base.push_back('/');
  base.append(part);
  return base;
}

PyObject* bpe_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {nullptr};
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, ":BPETokenizer", const_cast<char**>(kwlist))) return nullptr;
  std::string home;
  if (!home_directory(home)) {
    PyErr_SetString(PyExc_RuntimeError,
                    "Could not determine the home directory: HOME is unset or empty and the user database has no "
                    "entry for this user");
    return nullptr;
  }
  return load_ranks_file(type, join_path(join_path(home, "data"), "tokenizers/r50k_base.tiktoken"));
}

void bpe_dealloc(PyObject* self) {
  auto* o = as_bpe(self);
  delete o->state;
  o->access.~AccessCounter();
  Py_TYPE(self)->tp_free(self);
}

PyObject* bpe_from_tiktoken(PyObject*, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"path", nullptr};
  PyObject* path_obj = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:from_tiktoken", const_cast<char**>(kwlist), &path_obj)) {
    return nullptr;
  }
  std::string path;
  if (!convert_path(path_obj, "path", path)) return nullptr;
  return load_ranks_file(bpe_type(), path);
}

PyObject* bpe_encode(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"input", nullptr};
  PyObject* input = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:encode", const_cast<char**>(kwlist), &input)) return nullptr;
  auto* o = as_bpe(self);
  ExclusiveAccess access(o->access);
  if (!access.ok()) return nullptr;
  EncodeInput doc;
  if (!extract_doc(input, doc)) return nullptr;
  std::vector<uint32_t> out;
  o->state->tokenizer.encode_with_added_tokens(doc.bytes(), out);
  return numpy::array_from(std::move(out));
}

PyObject* bpe_decode(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"tokens", nullptr};
  PyObject* tokens = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:decode", const_cast<char**>(kwlist), &tokens)) return nullptr;
  auto* o = as_bpe(self);
  SharedAccess access(o->access);
  if (!access.ok()) return nullptr;
  std::vector<uint32_t> ids;
  if (!convert_token_ids(tokens, ids)) return nullptr;
  std::string out;
  if (auto bad = o->state->tokenizer.decode(ids, out)) {
    PyErr_Format(PyExc_ValueError, "token id %lu is out of range: the vocabulary size is %zu",
                 static_cast<unsigned long>(*bad), o->state->tokenizer.vocab_size());
    return nullptr;
  }
  return bytes_from(out);
}

PyObject* bpe_vocab_size(PyObject* self, void*) {
  auto* o = as_bpe(self);
  SharedAccess access(o->access);
  if (!access.ok()) return nullptr;
  return PyLong_FromSize_t(o->state->tokenizer.vocab_size());
}

PyObject* bpe_vocab(PyObject* self, void*) {
  auto* o = as_bpe(self);
  SharedAccess access(o->access);
  if (!access.ok()) return nullptr;
  Ref dict = Ref::steal(PyDict_New());
  if (!dict) return nullptr;
  const auto& table = o->state->tokenizer.id_to_bytes;
  for (size_t id = 0; id < table.size(); ++id) {
    std::string_view b = view(table[id]);
    if (b.empty()) continue;  // a hole
    Ref key = Ref::steal(PyLong_FromSize_t(id));
    Ref value = Ref::steal(bytes_from(b));
    if (!key || !value || PyDict_SetItem(dict.get(), key.get(), value.get()) < 0) return nullptr;
  }
  return dict.release();
}

PyObject* bpe_merges(PyObject* self, void*) {
  auto* o = as_bpe(self);
  SharedAccess access(o->access);
  if (!access.ok()) return nullptr;
  const auto& tok = o->state->tokenizer;
  auto entries = tok.merge_entries();
  Ref list = Ref::steal(PyList_New(static_cast<Py_ssize_t>(entries.size())));
  if (!list) return nullptr;
  auto bytes_of = [&](bpe::TokenId id) {
    return bytes_from(id < tok.id_to_bytes.size() ? view(tok.id_to_bytes[id]) : std::string_view());
  };
  for (size_t i = 0; i < entries.size(); ++i) {
    Ref left = Ref::steal(bytes_of(entries[i][0]));
    Ref right = Ref::steal(bytes_of(entries[i][1]));
    if (!left || !right) return nullptr;
    PyObject* pair = PyTuple_Pack(2, left.get(), right.get());
    if (!pair) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), pair);
  }
  return list.release();
}

PyObject* bpe_repr(PyObject* self) {
  auto* o = as_bpe(self);
  SharedAccess access(o->access);
  if (!access.ok()) return nullptr;
  std::string text = o->state->tokenizer.debug_text();
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* bpe_encode_batch(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"inputs", nullptr};
  PyObject* inputs = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:encode_batch", const_cast<char**>(kwlist), &inputs)) {
    return nullptr;
  }
  return encode_batch_impl(as_bpe(self), inputs);
}

PyObject* bpe_encode_files(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* kwlist[] = {"source", nullptr};
  PyObject* source = nullptr;
  if (!PyArg_ParseTupleAndKeywords(args, kwargs, "O:encode_files", const_cast<char**>(kwlist), &source)) {
    return nullptr;
  }
  return encode_files_impl(as_bpe(self), source);
}

#define MORVIK_METHOD(fn) reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn))

PyMethodDef g_methods[] = {
    {"from_tiktoken", MORVIK_METHOD(bpe_from_tiktoken), METH_VARARGS | METH_KEYWORDS | METH_STATIC,
     "from_tiktoken(path)\n--\n\n"},
    {"from_hf", MORVIK_METHOD(bpe_from_hf), METH_VARARGS | METH_KEYWORDS | METH_STATIC, "from_hf(path)\n--\n\n"},
    {"encode", MORVIK_METHOD(bpe_encode), METH_VARARGS | METH_KEYWORDS,
     "encode($self, input)\n--\n\nEncode a single document (str or bytes) with the main tokenizer,\n"
     "whose pretoken cache persists across calls."},
    {"encode_batch", MORVIK_METHOD(bpe_encode_batch), METH_VARARGS | METH_KEYWORDS,
     "encode_batch($self, inputs)\n--\n\n"
     "Encode a batch of documents in parallel on the work-stealing thread pool, releasing the GIL.\n"
     "Takes a list of str or a list of bytes (all elements of the same\n"
     "type), or an awkward Array of strings/bytestrings — whose flat\n"
     "buffers are used directly, with no per-document Python objects. For\n"
     "files, use encode_files. Returns an awkward.Array with one row of\n"
     "token ids per document (a single flat buffer plus offsets, not one\n"
     "numpy array per document).\n\n"
     "Documents are grouped into chunks of at least MIN_CHUNK_BYTES (small\n"
     "batches are encoded serially), and a document larger than a chunk is\n"
     "split at pretoken-safe boundaries and reassembled with identical\n"
     "tokens — a single huge document still uses all cores. Chunks are\n"
     "encoded by pooled workers whose pretoken caches persist across calls."},
    {"encode_files", MORVIK_METHOD(bpe_encode_files), METH_VARARGS | METH_KEYWORDS,
     "encode_files($self, source)\n--\n\n"
     "Encode all documents from files in parallel, releasing the GIL.\n"
     "Returns an awkward.Array with one row of token ids per document.\n\n"
     "`source` is a TextFileSource / JsonlFileSource, a single path, or a\n"
     "list of paths (defaults per extension: .jsonl → JSONL with field\n"
     "\"text\", anything else → plain text with each file as one document).\n"
     "Everything below runs in native code without the GIL: "
     "files are mmapped (or decompressed into\n"
     "memory for .gz/.zst) and cut into chunks at document boundaries; a\n"
     "file that is one huge document is split at pretoken-safe boundaries\n"
     "and reassembled with identical tokens, so it still uses all cores.\n"
     "Chunks are encoded by pooled workers whose pretoken caches persist\n"
     "across calls."},
    {"decode", MORVIK_METHOD(bpe_decode), METH_VARARGS | METH_KEYWORDS, "decode($self, tokens)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},
};

PyGetSetDef g_getset[] = {
    {"vocab_size", bpe_vocab_size, nullptr,
     "Size of the vocabulary: one greater than the largest token ID,\nincluding added tokens.", nullptr},
    {"vocab", bpe_vocab, nullptr,
     "The vocabulary as a freshly built dict mapping token ID to token\nbytes, in ID order, including added tokens.",
     nullptr},
    {"merges", bpe_merges, nullptr,
     "The merge rules as a freshly built list of `(left, right)` byte\npairs in merge-priority order.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyTypeObject g_bpe_type = [] {
  PyTypeObject t{PyVarObject_HEAD_INIT(nullptr, 0)};
  t.tp_name = "morvik_rs.BPETokenizer";
  t.tp_basicsize = sizeof(BpeObject);
  t.tp_flags = Py_TPFLAGS_DEFAULT;
  t.tp_doc = "BPETokenizer()\n--\n\n";
  t.tp_new = bpe_new;
  t.tp_dealloc = bpe_dealloc;
  t.tp_repr = bpe_repr;
  t.tp_methods = g_methods;
  t.tp_getset = g_getset;
  return t;
}();

}  // namespace

PyTypeObject* bpe_type() { return &g_bpe_type; }

PyObject* new_bpe_object(bpe::Tokenizer&& t) { return alloc_bpe(&g_bpe_type, std::move(t)); }

int register_bpe_tokenizer(PyObject* module) {
  if (PyType_Ready(&g_bpe_type) < 0) return -1;
  Py_INCREF(&g_bpe_type);
  return add_public(module, "BPETokenizer", reinterpret_cast<PyObject*>(&g_bpe_type));
}

}  // namespace morvik::py
