#include "support/sync.hpp"

#include "support/thread.hpp"

namespace kelvo {

MutexLock Mutex::lock() { return MutexLock(*this); }

bool Mutex::isFree() {
  if (!acquire(0)) return false;
  release();
  return true;
}

MutexLock::MutexLock(Mutex& mutex) : mutex_(mutex) { acquire(Thread::infinite); }

MutexLock::~MutexLock() { release(); }

bool MutexLock::acquire(std::uint32_t timeoutMs) {
  if (held_) return true;
  held_ = mutex_.acquire(timeoutMs);
  return held_;
}

void MutexLock::release() {
  if (!held_) return;
  held_ = false;
  mutex_.release();
}

}  // namespace kelvo
