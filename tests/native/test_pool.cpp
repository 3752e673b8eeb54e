#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <vector>

#include "check.h"
#include "common/pool.h"

using namespace morvik;

TEST(parallel_for_visits_every_index_once) {
  for (size_t n : {0u, 1u, 2u, 3u, 1000u}) {
    std::vector<std::atomic<int>> seen(n);
    pool::parallel_for(n, [&](size_t i) { seen[i].fetch_add(1); });
    for (auto& s : seen) CHECK_EQ(s.load(), 1);
  }
  CHECK(pool::thread_count() >= 1);
}

TEST(pool_works_in_a_forked_child) {
  std::atomic<long> sum{0};
  pool::parallel_for(100, [&](size_t i) { sum += static_cast<long>(i); });
  CHECK_EQ(sum.load(), 4950);
  uint64_t gen = pool::fork_generation();
  pid_t pid = fork();
  if (pid == 0) {
    std::atomic<long> s{0};
    pool::parallel_for(100, [&](size_t i) { s += static_cast<long>(i); });
    _exit(s.load() == 4950 && pool::fork_generation() == gen + 1 ? 0 : 1);
  }
  int status = 0;
  CHECK(waitpid(pid, &status, 0) == pid);
  CHECK(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  // The parent's pool comes back after the fork.
  sum = 0;
  pool::parallel_for(100, [&](size_t i) { sum += static_cast<long>(i); });
  CHECK_EQ(sum.load(), 4950);
}

TEST_MAIN()
