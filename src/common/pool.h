// The process-wide work-stealing pool (oneTBB) that runs every parallel phase.
//
// Size: MORVIK_NUM_THREADS when set to a positive integer, else the number of
// CPUs this process may run on (its affinity mask), never 0. The pool starts
// on first use.
//
// Fork safety: before fork() the pool is shut down (its workers joined), so a
// child process starts with a clean scheduler and builds its own pool on
// first use. If the shutdown cannot complete (another thread of the parent
// is inside a parallel phase at that moment), the child runs all parallel
// work serially on the calling thread instead of touching the inherited,
// workerless scheduler. `fork_generation()` changes in every child, so
// owners of per-thread state (mutex-guarded worker slots) can rebuild it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace morvik::pool {

// The pool's thread count (at least 1).
size_t thread_count();

// Incremented in a child process after fork().
uint64_t fork_generation();

// Runs body(i) for i in [0, n) on the pool; returns when all are done.
// Runs on the calling thread when n < 2 or when the pool is unavailable.
void parallel_for(size_t n, const std::function<void(size_t)>& body);

}  // namespace morvik::pool
