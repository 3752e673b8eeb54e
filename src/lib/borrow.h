// The access counter every tokenizer object and iterator carries.
//
// Free (0), shared by n calls (n > 0), or held exclusively (-1). Updated with
// compare-and-swap, so a conflicting call from another thread (possible only
// while a batch call runs with the interpreter lock released) fails fast
// with RuntimeError instead of racing on the caches.
#pragma once

#include <atomic>
#include <cstdint>

#include "lib/py.h"

namespace morvik::py {

class AccessCounter {
 public:
  bool try_shared() {
    int64_t cur = state_.load(std::memory_order_relaxed);
    while (cur >= 0) {
      if (state_.compare_exchange_weak(cur, cur + 1, std::memory_order_acquire)) return true;
    }
    return false;
  }
  bool try_exclusive() {
    int64_t expected = 0;
    return state_.compare_exchange_strong(expected, -1, std::memory_order_acquire);
  }
  void release_shared() { state_.fetch_sub(1, std::memory_order_release); }
  void release_exclusive() { state_.store(0, std::memory_order_release); }

 private:
  std::atomic<int64_t> state_{0};
};

// RAII holders. Construct, then test ok(); on failure the RuntimeError is set.
class SharedAccess {
 public:
  explicit SharedAccess(AccessCounter& c) : c_(c), ok_(c.try_shared()) {
    if (!ok_) PyErr_SetString(PyExc_RuntimeError, "Already mutably borrowed");
  }
  ~SharedAccess() {
    if (ok_) c_.release_shared();
  }
  bool ok() const { return ok_; }
  SharedAccess(const SharedAccess&) = delete;
  SharedAccess& operator=(const SharedAccess&) = delete;

 private:
  AccessCounter& c_;
  bool ok_;
};

class ExclusiveAccess {
 public:
  explicit ExclusiveAccess(AccessCounter& c) : c_(c), ok_(c.try_exclusive()) {
    if (!ok_) PyErr_SetString(PyExc_RuntimeError, "Already borrowed");
  }
  ~ExclusiveAccess() {
    if (ok_) c_.release_exclusive();
  }
  bool ok() const { return ok_; }
  ExclusiveAccess(const ExclusiveAccess&) = delete;
  ExclusiveAccess& operator=(const ExclusiveAccess&) = delete;

 private:
  AccessCounter& c_;
  bool ok_;
};

}  // namespace morvik::py
