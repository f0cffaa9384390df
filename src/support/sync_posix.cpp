#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "support/sync.hpp"
#include "support/thread.hpp"

namespace kelvo {

struct Event::Handle {
  std::mutex mutex;
  std::condition_variable changed;
  bool set = false;
};

Event::Event() : handle_(std::make_unique<Handle>()) {}

Event::~Event() = default;

namespace {
// Waits on `changed` until `ready` holds or the time runs out.
// A zero time-out only looks: even a zero wait_for sleeps on a futex and
// switches task, which a loop that polls the stop event on every pass pays
// for on every pass.
template <class Ready>
bool waitUntil(std::condition_variable& changed, std::unique_lock<std::mutex>& guard,
               std::uint32_t timeoutMs, Ready ready) {
  if (timeoutMs == 0) return ready();
  if (timeoutMs == Thread::infinite) {
    changed.wait(guard, ready);
    return true;
  }
  return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs), ready);
}
}  // namespace

// Notifying under the lock lets a waiter destroy the event as soon as its wait
// returns: set() no longer touches it by then.
void Event::set() {
  std::lock_guard guard(handle_->mutex);
  handle_->set = true;
  handle_->changed.notify_all();
}

bool Event::wait(std::uint32_t timeoutMs) {
  std::unique_lock guard(handle_->mutex);
  return waitUntil(handle_->changed, guard, timeoutMs, [this] { return handle_->set; });
}

// A recursive mutex with timed waits, made of a plain mutex and a condition
// variable rather than std::recursive_timed_mutex: its timed lock goes through
// a call that ThreadSanitizer does not follow, and a release by a thread that
// does not own it must do nothing, as on Windows, not corrupt the mutex.
struct Mutex::Handle {
  std::mutex guard;
  std::condition_variable released;
  std::thread::id owner;
  std::uint32_t depth = 0;
};

Mutex::Mutex() : handle_(std::make_unique<Handle>()) {}

Mutex::~Mutex() = default;

bool Mutex::acquire(std::uint32_t timeoutMs) {
  Handle& h = *handle_;
  const auto self = std::this_thread::get_id();
  std::unique_lock guard(h.guard);
  if (h.depth > 0 && h.owner == self) {
    ++h.depth;
    return true;
  }
  if (!waitUntil(h.released, guard, timeoutMs, [&h] { return h.depth == 0; })) return false;
  h.owner = self;
  h.depth = 1;
  return true;
}

void Mutex::release() {
  Handle& h = *handle_;
  std::lock_guard guard(h.guard);
  if (h.depth == 0 || h.owner != std::this_thread::get_id()) return;
  if (--h.depth == 0) {
    h.owner = std::thread::id();
    h.released.notify_one();
  }
}

}  // namespace kelvo
