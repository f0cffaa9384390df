// A worker thread that its owner may start once, poll for its end, or simply
// forget: destroying a Thread never waits for or stops the thread, which then
// runs on detached.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

namespace kelvo {

namespace detail {
// What one look at a thread found.
enum class ThreadProbe { running, ended, unreadable };
}  // namespace detail

class Thread {
 public:
  // A thread body takes one pointer-sized argument; what it returns becomes
  // the thread's exit code.
  using Body = std::uint32_t (*)(void* argument);

  // The exit code of a thread whose body let an exception escape. The thread
  // ends with it instead of taking the process down.
  static constexpr std::uint32_t uncaughtExceptionExitCode = 0xE0000001u;

  // The same count as a "wait forever" timeout, which here is only a very
  // long time (about 49.7 days).
  static constexpr std::uint32_t infinite = 0xFFFFFFFFu;

  Thread() noexcept;
  // Starts `body(argument)` at once. Throws Failure.
  Thread(Body body, void* argument);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // Starts `body(argument)` on a new thread. A Thread starts only once, even
  // after its thread has ended: a second start throws "Thread allready
  // running" and changes nothing. Throws Failure when no thread can be made.
  void start(Body body, void* argument);

  // Polls every 15 ms for up to `timeoutMs` for the thread's end. True once
  // it has ended, with its code in exitCode(); false when the time ran out,
  // the thread was never started or its state could not be read.
  bool wait(std::uint32_t timeoutMs);

  // 0 until wait() has seen the thread end.
  std::uint32_t exitCode() const noexcept { return exitCode_; }

 private:
  struct Handle;  // the platform's thread handle and exit state
  struct HandleDeleter {
    void operator()(Handle* handle) const noexcept;
  };
  using HandlePtr = std::unique_ptr<Handle, HandleDeleter>;

  // Below the platform seam.
  static HandlePtr launch(Body body, void* argument);
  // Looks once; on `ended` the exit code is stored in `exitCode`.
  static detail::ThreadProbe probe(const Handle& handle, std::uint32_t& exitCode);

  HandlePtr handle_;
  std::uint32_t exitCode_ = 0;
};

namespace detail {

// Thread::wait's polling loop, apart from the thread and the clock so that its
// looks and sleeps can be checked: look, then sleep the smaller of the time
// left and 15 ms, until the thread ended, a look failed or no time is left.
// A zero timeout still looks once and sleeps 0 ms.
bool pollForThreadEnd(std::uint32_t timeoutMs, const std::function<ThreadProbe()>& probe,
                      const std::function<void(std::uint32_t)>& sleepMs);

// Runs a thread body on its own thread: whatever it throws ends the thread
// with Thread::uncaughtExceptionExitCode rather than the process.
std::uint32_t runThreadBody(Thread::Body body, void* argument) noexcept;

}  // namespace detail

}  // namespace kelvo
