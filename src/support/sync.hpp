// Event, Mutex and MutexLock: the program's synchronisation objects, each the
// owner of one system object that it releases when destroyed.
//
// Time-outs are millisecond counts; 0 only looks, and Thread::infinite waits
// without a bound.
#pragma once

#include <cstdint>
#include <memory>

namespace kelvo {

// A manual-reset event: once set it stays set and releases every waiter.
class Event {
 public:
  // Creates the event, not set. Throws Failure.
  Event();
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  void set();
  // True when the event is set, at once or within `timeoutMs`.
  bool wait(std::uint32_t timeoutMs);
  bool isSet() { return wait(0); }

  // The system object, for platform code that waits on it together with
  // other things (support/native_event_win32.hpp). Defined per platform.
  struct Handle;
  Handle& handle() noexcept { return *handle_; }

 private:
  std::unique_ptr<Handle> handle_;
};

class MutexLock;

// A mutex that the thread holding it may take again, like a kernel mutex.
class Mutex {
 public:
  // Creates the mutex, not held. Throws Failure.
  Mutex();
  ~Mutex();
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  // A lock on this mutex, acquired with no time limit.
  MutexLock lock();
  // True when nobody held the mutex at the moment of the look. It leaves the
  // mutex as it found it.
  bool isFree();

  // The raw operations under MutexLock, for callers that pair them
  // themselves. acquire is true only when the mutex was taken; only the
  // thread that took it may release it.
  bool acquire(std::uint32_t timeoutMs);
  void release();

 private:
  struct Handle;
  std::unique_ptr<Handle> handle_;
};

// Holds a Mutex for one scope on one thread. Each lock takes its mutex at most
// once and releases it at most once, whatever the mutex allows.
class MutexLock {
 public:
  // Acquires `mutex` with no time limit. The mutex must outlive the lock.
  explicit MutexLock(Mutex& mutex);
  ~MutexLock();
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  // True when held: at once if already held, otherwise when the mutex was
  // taken within `timeoutMs`.
  bool acquire(std::uint32_t timeoutMs);
  void release();
  bool held() const noexcept { return held_; }

 private:
  bool held_ = false;
  Mutex& mutex_;
};

}  // namespace kelvo
