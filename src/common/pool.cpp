#include "common/pool.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <mutex>

#include <tbb/blocked_range.h>
#include <tbb/global_control.h>
#include <tbb/parallel_for.h>
#include <tbb/task_arena.h>

namespace morvik::pool {
namespace {

std::mutex g_mu;                          // guards creation and shutdown of the arena
std::unique_ptr<tbb::task_arena> g_arena;  // null until first use, and after a fork shutdown
std::atomic<int> g_active{0};             // parallel phases running right now
std::atomic<uint64_t> g_generation{0};
bool g_serial_only = false;               // set in a child whose parent could not shut the pool down
bool g_fork_ok = true;

size_t detect_threads() {
  if (const char* env = std::getenv("MORVIK_NUM_THREADS")) {
    char* end = nullptr;
    long v = std::strtol(env, &end, 10);
    if (end != env && *end == '\0' && v > 0) return static_cast<size_t>(v);
  }
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    int n = CPU_COUNT(&set);
    if (n > 0) return static_cast<size_t>(n);
  }
  long n = sysconf(_SC_NPROCESSORS_ONLN);
  return n > 0 ? static_cast<size_t>(n) : 1;
}

size_t threads_cached() {
  static const size_t n = detect_threads();
  return n;
}

void before_fork() {
  g_mu.lock();  // held across fork so no arena is created meanwhile
  g_fork_ok = true;
  if (!g_arena) return;
  if (g_active.load() != 0) {
    g_fork_ok = false;
    return;
  }
  g_arena->terminate();
  g_arena.reset();
  // Join the scheduler's worker threads, so that the child inherits none.
  tbb::task_scheduler_handle handle{tbb::attach{}};
  g_fork_ok = tbb::finalize(handle, std::nothrow);
}

void after_fork_parent() { g_mu.unlock(); }

void after_fork_child() {
  g_generation.fetch_add(1);
  if (!g_fork_ok) {
    g_serial_only = true;
    g_arena.release();  // its scheduler has no workers here; never touch it again
  }
  g_active.store(0);
  g_mu.unlock();
}

tbb::task_arena* arena() {
  std::lock_guard<std::mutex> lock(g_mu);
  if (g_serial_only) return nullptr;
  if (!g_arena) {
    static std::once_flag atfork_once;
    std::call_once(atfork_once, [] { pthread_atfork(before_fork, after_fork_parent, after_fork_child); });
    g_arena = std::make_unique<tbb::task_arena>(static_cast<int>(threads_cached()));
    g_arena->initialize();
  }
  return g_arena.get();
}

}  // namespace

size_t thread_count() { return threads_cached(); }

uint64_t fork_generation() { return g_generation.load(std::memory_order_acquire); }

void parallel_for(size_t n, const std::function<void(size_t)>& body) {
  tbb::task_arena* a = (n >= 2 && threads_cached() > 1) ? arena() : nullptr;
  if (!a) {
    for (size_t i = 0; i < n; ++i) body(i);
    return;
  }
  g_active.fetch_add(1);
  struct Done {
    ~Done() { g_active.fetch_sub(1); }
  } done;
  a->execute([&] {
    tbb::parallel_for(tbb::blocked_range<size_t>(0, n, 1), [&](const tbb::blocked_range<size_t>& r) {
      for (size_t i = r.begin(); i != r.end(); ++i) body(i);
    });
  });
}

}  // namespace morvik::pool
