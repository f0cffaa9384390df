// Thread below the platform seam, on std::thread. The thread is detached at
// once; its end and exit code travel through state it shares with the handle,
// so either may outlive the other.
#include <atomic>
#include <system_error>
#include <thread>

#include "support/failure.hpp"
#include "support/thread.hpp"

namespace kelvo {

namespace {
struct ExitState {
  std::atomic<bool> ended{false};
  std::atomic<std::uint32_t> code{0};
};
}  // namespace

struct Thread::Handle {
  std::shared_ptr<const ExitState> exit;
};

void Thread::HandleDeleter::operator()(Handle* handle) const noexcept { delete handle; }

Thread::HandlePtr Thread::launch(Body body, void* argument) {
  auto exit = std::make_shared<ExitState>();
  try {
    std::thread([body, argument, exit] {
      exit->code.store(detail::runThreadBody(body, argument), std::memory_order_relaxed);
      exit->ended.store(true, std::memory_order_release);
    }).detach();
  } catch (const std::system_error& failure) {
    throw Failure::ofCode(failure.code().value());
  }
  return HandlePtr(new Handle{std::move(exit)});
}

detail::ThreadProbe Thread::probe(const Handle& handle, std::uint32_t& exitCode) {
  if (!handle.exit->ended.load(std::memory_order_acquire)) {
    return detail::ThreadProbe::running;
  }
  exitCode = handle.exit->code.load(std::memory_order_relaxed);
  return detail::ThreadProbe::ended;
}

}  // namespace kelvo
