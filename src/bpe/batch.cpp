#include "bpe/batch.h"

#include <sched.h>

#include <cstring>
#include <stdexcept>

#include "common/pool.h"
#include "pretokenize/mod.h"

namespace morvik::bpe {

size_t chunk_bytes_for(size_t total_bytes, size_t threads) {
  if (threads == 0) threads = 1;
  size_t share = total_bytes / (threads * 16);
  return share > MIN_CHUNK_BYTES ? share : MIN_CHUNK_BYTES;
}

WorkerPool::Slots* WorkerPool::ensure_slots() {
  uint64_t gen = pool::fork_generation();
  Slots* s = slots_.load(std::memory_order_acquire);
  if (s && s->generation == gen) return s;
  std::lock_guard<std::mutex> lock(create_mu_);
  s = slots_.load(std::memory_order_acquire);
  if (s && s->generation == gen) return s;
  // First use, or first use in a forked child: the slots inherited from the
  // parent may be locked by threads that do not exist here, so start afresh.
  auto fresh = std::make_unique<Slots>();
  fresh->generation = gen;
  size_t n = pool::thread_count();
  fresh->slots.reserve(n);
  for (size_t i = 0; i < n; ++i) fresh->slots.push_back(std::make_unique<Slot>());
  s = fresh.get();
  owned_.push_back(std::move(fresh));
  slots_.store(s, std::memory_order_release);
  return s;
}

size_t WorkerPool::slot_count() const {
  Slots* s = slots_.load(std::memory_order_acquire);
  return s ? s->slots.size() : 0;
}

void WorkerPool::with_worker(const Tokenizer& main, const std::function<void(Tokenizer&)>& task) {
  Slots* s = ensure_slots();
  for (;;) {
    for (auto& slot : s->slots) {
      std::unique_lock<std::mutex> lock(slot->mu, std::try_to_lock);
      if (!lock.owns_lock()) continue;
      if (slot->poisoned || !slot->fork) slot->fork.emplace(main.fork());
      try {
        task(*slot->fork);
      } catch (...) {
        slot->poisoned = true;
        throw;
      }
      return;
    }
    sched_yield();
  }
}

namespace {

ChunkTokens encode_chunk(Tokenizer& tok, const EncodeChunk& chunk) {
  ChunkTokens out;
  switch (chunk.kind) {
    case EncodeChunk::Kind::Docs:
      out.doc_lens.reserve(chunk.docs.size());
      for (std::string_view d : chunk.docs) {
        size_t before = out.ids.size();
        tok.encode_with_added_tokens(d, out.ids);
        out.doc_lens.push_back(out.ids.size() - before);
      }
      break;
    case EncodeChunk::Kind::Piece:
      tok.encode_with_added_tokens(chunk.bytes, out.ids);
      out.doc_lens.push_back(out.ids.size());
      out.continues = !chunk.first;
      break;
    case EncodeChunk::Kind::File:
      chunk.produce([&](std::string_view d) {
        size_t before = out.ids.size();
        tok.encode_with_added_tokens(d, out.ids);
        out.doc_lens.push_back(out.ids.size() - before);
      });
      break;
  }
  return out;
}

}  // namespace

std::vector<ChunkTokens> encode_chunks_pooled(WorkerPool& pool, const Tokenizer& main,
                                              const std::vector<EncodeChunk>& chunks) {
  std::vector<ChunkTokens> results(chunks.size());
  auto run = [&](size_t i) {
    pool.with_worker(main, [&](Tokenizer& fork) { results[i] = encode_chunk(fork, chunks[i]); });
  };
  if (chunks.size() >= 2) {
    pool::parallel_for(chunks.size(), run);
  } else {
    for (size_t i = 0; i < chunks.size(); ++i) run(i);
  }
  return results;
}

RaggedIds assemble_ragged(std::vector<ChunkTokens>&& results) {
  RaggedIds out;
  size_t total = 0, ndocs = 0;
  for (const auto& r : results) {
    total += r.ids.size();
    ndocs += r.doc_lens.size();
  }
  out.counts.reserve(ndocs);
  for (const auto& r : results) {
    size_t k = 0;
    if (r.continues && !r.doc_lens.empty()) {
      if (out.counts.empty()) throw std::logic_error("continuation fragment before any document");
      out.counts.back() += static_cast<int64_t>(r.doc_lens[0]);
      k = 1;
    }
    for (; k < r.doc_lens.size(); ++k) out.counts.push_back(static_cast<int64_t>(r.doc_lens[k]));
  }
  out.ids.resize(total);
  std::vector<size_t> offsets(results.size());
  size_t off = 0;
  for (size_t i = 0; i < results.size(); ++i) {
    offsets[i] = off;
    off += results[i].ids.size();
  }
  // Each chunk's ids are freed as soon as they are copied, so the peak stays
  // near one copy of the result rather than two.
  auto copy = [&](size_t i) {
    auto& ids = results[i].ids;
    if (!ids.empty()) std::memcpy(out.ids.data() + offsets[i], ids.data(), ids.size() * sizeof(TokenId));
    std::vector<TokenId>().swap(ids);
  };
  if (results.size() >= 2) {
    pool::parallel_for(results.size(), copy);
  } else {
    for (size_t i = 0; i < results.size(); ++i) copy(i);
  }
  results.clear();
  return out;
}

std::vector<EncodeChunk> chunk_documents(const Tokenizer& main, const std::vector<std::string_view>& docs,
                                         size_t chunk_bytes) {
  std::vector<std::string_view> added;
  for (const auto& entry : main.added_tokens) added.push_back(view(entry.first));
  std::vector<EncodeChunk> chunks;
  EncodeChunk group;
  size_t group_bytes = 0;
  auto close_group = [&] {
    if (!group.docs.empty()) chunks.push_back(std::move(group));
    group = EncodeChunk{};
    group_bytes = 0;
  };
  for (std::string_view d : docs) {
    if (d.size() <= 2 * chunk_bytes) {
      group.docs.push_back(d);
      group_bytes += d.size();
      if (group_bytes >= chunk_bytes) close_group();
      continue;
    }
    close_group();
    bool first = true;
    for (auto [start, end] : pretokenize::safe_split_ranges(d, chunk_bytes, added)) {
      EncodeChunk piece;
      piece.kind = EncodeChunk::Kind::Piece;
      piece.bytes = d.substr(start, end - start);
      piece.first = first;
      first = false;
      chunks.push_back(std::move(piece));
    }
  }
  close_group();
  return chunks;
}

RaggedIds encode_slices_ragged(WorkerPool& pool, const Tokenizer& main, const std::vector<std::string_view>& docs) {
  size_t total = 0;
  for (auto d : docs) total += d.size();
  auto chunks = chunk_documents(main, docs, chunk_bytes_for(total, pool::thread_count()));
  return assemble_ragged(encode_chunks_pooled(pool, main, chunks));
}

}  // namespace morvik::bpe
