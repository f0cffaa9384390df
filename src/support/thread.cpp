#include "support/thread.hpp"

#include <algorithm>
#include <chrono>
#include <thread>

#include "support/failure.hpp"

namespace kelvo {

namespace {
constexpr const char* alreadyRunningText = "Thread allready running";
constexpr std::uint32_t pollSliceMs = 15;
}  // namespace

Thread::Thread() noexcept = default;

Thread::~Thread() = default;

Thread::Thread(Body body, void* argument) { start(body, argument); }

void Thread::start(Body body, void* argument) {
  if (handle_) throw Failure(alreadyRunningText);
  handle_ = launch(body, argument);
}

bool Thread::wait(std::uint32_t timeoutMs) {
  if (!handle_) return false;
  return detail::pollForThreadEnd(
      timeoutMs, [this] { return probe(*handle_, exitCode_); },
      [](std::uint32_t ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); });
}

namespace detail {

bool pollForThreadEnd(std::uint32_t timeoutMs, const std::function<ThreadProbe()>& probe,
                      const std::function<void(std::uint32_t)>& sleepMs) {
  std::uint32_t remaining = timeoutMs;
  for (;;) {
    switch (probe()) {
      case ThreadProbe::ended:
        return true;
      case ThreadProbe::unreadable:
        return false;
      case ThreadProbe::running:
        break;
    }
    const std::uint32_t slice = std::min(remaining, pollSliceMs);
    sleepMs(slice);
    remaining -= slice;
    if (remaining == 0) return false;
  }
}

std::uint32_t runThreadBody(Thread::Body body, void* argument) noexcept {
  try {
    return body(argument);
  } catch (...) {
    return Thread::uncaughtExceptionExitCode;
  }
}

}  // namespace detail

}  // namespace kelvo
