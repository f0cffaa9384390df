#include "site/retention.hpp"

#include <string>

#include "site/request_log.hpp"
#include "site/wall_clock.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

Retention::Retention(Store& store, unsigned keepDays)
    : store_(store),
      keepMs_(std::int64_t{keepDays} * 24 * 60 * 60 * 1000),
      thread_(&Retention::run, this) {}

Retention::~Retention() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  stopped_.notify_one();
  thread_.join();
}

bool Retention::pause(std::chrono::milliseconds length) {
  std::unique_lock lock(mutex_);
  return !stopped_.wait_for(lock, length, [&] { return stopping_; });
}

void Retention::run() {
  do {
    std::size_t deleted = 0;
    try {
      // The cutoff is fixed for a sweep, so that it ends.
      const std::int64_t cutoff = unixNowMs() - keepMs_;
      for (std::size_t batch = batchRuns; batch == batchRuns; deleted += batch) {
        batch = store_.deleteRunsBefore(cutoff, batchRuns);
        if (batch == batchRuns && !pause(batchPause)) return;
      }
    } catch (const kelvo::Failure& failure) {
      logLine("retention: " + failure + "; trying again later");
    }
    if (deleted > 0) logLine("retention: deleted " + std::to_string(deleted) + " old runs");
  } while (pause(sweepInterval));
}

}  // namespace zelvor::site
