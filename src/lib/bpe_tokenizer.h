// The Python object behind `BPETokenizer`: the main `Tokenizer`, the access
// counter, and (for batch and file calls) the pool of per-worker forks.
#pragma once

#include <memory>

#include "bpe/batch.h"
#include "bpe/tiktoken.h"
#include "lib/borrow.h"
#include "lib/py.h"

namespace morvik::py {

struct BpeState {
  explicit BpeState(bpe::Tokenizer t) : tokenizer(std::move(t)) {}
  bpe::Tokenizer tokenizer;  // used directly by encode; the source of forks
  bpe::WorkerPool pool;      // forks for batch and file calls, made on first use
};

struct BpeObject {
  PyObject_HEAD
  AccessCounter access;
  BpeState* state;
};

PyTypeObject* bpe_type();

// A new BPETokenizer owning `t` (steals nothing on failure: returns nullptr).
PyObject* new_bpe_object(bpe::Tokenizer&& t);

}  // namespace morvik::py
