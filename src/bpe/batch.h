// The parallel chunked encoding engine behind batch and file encoding.
//
// Documents (byte slices) are grouped into chunks of at least chunk_bytes,
// a document longer than 2 x chunk_bytes is cut at pretoken-safe boundaries
// into pieces that encode to exactly the ids of the whole, and chunks run on
// the process-wide pool, each with a tokenizer fork taken from the caller's
// `WorkerPool`. The result is one flat id vector and one count per document.
// Runs without the interpreter lock: nothing here sees a Python object.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string_view>
#include <vector>

#include "bpe/tiktoken.h"
#include "common/error.h"

namespace morvik::bpe {

inline constexpr size_t MIN_CHUNK_BYTES = 1048576;

// max(MIN_CHUNK_BYTES, total_bytes / (threads x 16)).
size_t chunk_bytes_for(size_t total_bytes, size_t threads);

// The documents of one range of a loaded file: calls `emit` once per
// document, in order. Readers record their own failures (a malformed JSON
// Lines line) for the caller to report after the parallel phase.
using DocEmit = std::function<void(std::string_view)>;
using DocProducer = std::function<void(const DocEmit& emit)>;

struct EncodeChunk {
  enum class Kind : uint8_t { Docs, File, Piece };
  Kind kind = Kind::Docs;
  std::vector<std::string_view> docs;  // Docs
  std::string_view bytes;              // Piece
  DocProducer produce;                 // File: the range's documents
  bool first = false;                  // Piece: the document's first piece
};

struct ChunkTokens {
  std::vector<TokenId> ids;
  std::vector<uint64_t> doc_lens;
  bool continues = false;
};

// An allocator that leaves new elements uninitialised: the flat result is
// allocated once at its full size, and its pages are only touched (and only
// count against memory) as chunk results are copied in and freed.
template <class T>
struct UninitAllocator : std::allocator<T> {
  template <class U>
  struct rebind {
    using other = UninitAllocator<U>;
  };
  UninitAllocator() = default;
  template <class U>
  UninitAllocator(const UninitAllocator<U>&) noexcept {}
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... Args>
  void construct(U* p, Args&&... args) {
    ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
  }
};

using IdVector = std::vector<TokenId, UninitAllocator<TokenId>>;

struct RaggedIds {
  IdVector ids;
  std::vector<int64_t> counts;
};

// One mutex-guarded fork slot per pool thread, created on first use and kept
// (with its pretoken cache) for the owner's lifetime. A slot is not tied to a
// thread: a task takes the first slot it can lock without waiting.
class WorkerPool {
 public:
  WorkerPool() = default;
  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // Runs task(fork) with exclusive use of one slot's fork of `main`.
  void with_worker(const Tokenizer& main, const std::function<void(Tokenizer&)>& task);

  // Number of slots, 0 before the first use.
  size_t slot_count() const;

 private:
  struct Slot {
    std::mutex mu;
    std::optional<Tokenizer> fork;
    bool poisoned = false;
  };
  struct Slots {
    uint64_t generation;
    std::vector<std::unique_ptr<Slot>> slots;
  };
  Slots* ensure_slots();

  std::mutex create_mu_;
  std::atomic<Slots*> slots_{nullptr};
  std::vector<std::unique_ptr<Slots>> owned_;  // earlier sets live on: a forked child may not free them safely
};

// Encodes the chunks (in parallel when there are two or more) and returns
// their results in chunk order. Exceptions from a worker (internal invariant
// failures) propagate to the caller after marking that slot poisoned.
std::vector<ChunkTokens> encode_chunks_pooled(WorkerPool& pool, const Tokenizer& main,
                                              const std::vector<EncodeChunk>& chunks);

// Joins chunk results into one flat vector; pieces of a split document are
// counted as one document.
RaggedIds assemble_ragged(std::vector<ChunkTokens>&& results);

// The whole batch path for in-memory documents.
RaggedIds encode_slices_ragged(WorkerPool& pool, const Tokenizer& main, const std::vector<std::string_view>& docs);

// Chunks for documents (steps shared by batch and single-document files).
std::vector<EncodeChunk> chunk_documents(const Tokenizer& main, const std::vector<std::string_view>& docs,
                                         size_t chunk_bytes);

}  // namespace morvik::bpe
