#include "app/call_queue.hpp"

#include <utility>

namespace zelvor {

bool CallQueue::post(Call call) {
  const std::lock_guard lock(mutex_);
  if (closed_) return false;
  calls_.push_back(std::move(call));
  wakeLocked();
  return true;
}

void CallQueue::runQueued() {
  {
    const std::lock_guard lock(mutex_);
    wakePending_ = false;
  }
  Call call;
  while (takeNext(call)) call();
}

void CallQueue::close() {
  // Declared first, so that the dropped calls are freed after the lock is
  // released.
  std::deque<Call> dropped;
  const std::lock_guard lock(mutex_);
  closed_ = true;
  dropped.swap(calls_);
}

bool CallQueue::closed() {
  const std::lock_guard lock(mutex_);
  return closed_;
}

bool CallQueue::takeNext(Call& call) {
  const std::lock_guard lock(mutex_);
  if (calls_.empty()) return false;
  call = std::move(calls_.front());
  calls_.pop_front();
  if (!calls_.empty()) wakeLocked();
  return true;
}

// Both toolkits' wake-ups neither wait for the window's thread nor run
// anything at once, so asking under the lock is safe.
void CallQueue::wakeLocked() {
  if (!wakePending_) wakePending_ = wake_();
}

}  // namespace zelvor
