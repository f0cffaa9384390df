// Ctrl-C while zelvor-cli measures: instead of ending the process, it is
// reported to the thread that watches for it, which then stops the run.
// Scheduled runs also take SIGTERM this way, so that a service manager's
// stop never cuts a run between its measuring and its post.
#pragma once

#include <cstdint>
#include <memory>

namespace zelvor::cli {

// Made on the main thread before any other thread starts, so that on POSIX
// every later thread inherits the blocked SIGINT; until it goes, Ctrl-C
// only wakes wait(). Destroyed after the watching thread has ended.
class InterruptWatch {
 public:
  // `alsoTerminate`: SIGTERM too, on systems that have it.
  explicit InterruptWatch(bool alsoTerminate = false);
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // True when Ctrl-C (or a watched SIGTERM) came, at once or within
  // `timeoutMs`.
  bool wait(std::uint32_t timeoutMs);

 private:
  struct State;  // the platform's way of being told
  std::unique_ptr<State> state_;
};

}  // namespace zelvor::cli
