// The clock's counter on Windows: the performance counter, or the tick count.
#include <windows.h>

#include "ping/run_state.hpp"

namespace zelvor::detail {

std::uint64_t counterFrequency() noexcept {
  LARGE_INTEGER frequency;
  if (QueryPerformanceFrequency(&frequency) != TRUE) return 0;
  return static_cast<std::uint64_t>(frequency.QuadPart);
}

std::int64_t counterNow() noexcept {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

std::uint32_t tickCountMs() noexcept { return GetTickCount(); }

}  // namespace zelvor::detail
