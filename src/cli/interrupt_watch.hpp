// Ctrl-C while zelvor-cli measures: instead of ending the process, it is
// reported to the thread that watches for it, which then stops the run.
#pragma once

#include <cstdint>
#include <memory>

namespace zelvor::cli {

// Made on the main thread before any other thread starts, so that on POSIX
// every later thread inherits the blocked SIGINT; until it goes, Ctrl-C
// only wakes wait(). Destroyed after the watching thread has ended.
class InterruptWatch {
 public:
  InterruptWatch();
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // True when Ctrl-C came, at once or within `timeoutMs`.
  bool wait(std::uint32_t timeoutMs);

 private:
  struct State;  // the platform's way of being told
  std::unique_ptr<State> state_;
};

}  // namespace zelvor::cli
