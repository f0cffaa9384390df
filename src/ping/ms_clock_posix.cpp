// The clock's counter off Windows: CLOCK_MONOTONIC in nanoseconds.
#include <time.h>

#include "ping/run_state.hpp"

namespace zelvor::detail {

namespace {
std::int64_t monotonicNs() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}
}  // namespace

std::uint64_t counterFrequency() noexcept { return 1000000000; }

std::int64_t counterNow() noexcept { return monotonicNs(); }

std::uint32_t tickCountMs() noexcept { return static_cast<std::uint32_t>(monotonicNs() / 1000000); }

}  // namespace zelvor::detail
