// Retention (--keep-days N): a thread that deletes the runs received more
// than N days ago, in small batches with a pause between them, so that the
// store's write lock (SQLite) or row locks (PostgreSQL) are never held long
// enough to hold up posts.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "site/store.hpp"

namespace zelvor::site {

class Retention {
 public:
  static constexpr std::size_t batchRuns = 500;
  // Between batches while old runs are left; and between sweeps.
  static constexpr std::chrono::milliseconds batchPause{50};
  static constexpr std::chrono::minutes sweepInterval{10};

  // Sweeps at once, then every sweepInterval, until destroyed.
  Retention(Store& store, unsigned keepDays);
  ~Retention();
  Retention(const Retention&) = delete;
  Retention& operator=(const Retention&) = delete;

 private:
  void run();
  // False once stopping.
  bool pause(std::chrono::milliseconds length);

  Store& store_;
  const std::int64_t keepMs_;
  std::mutex mutex_;
  std::condition_variable stopped_;
  bool stopping_ = false;
  std::thread thread_;
};

}  // namespace zelvor::site
