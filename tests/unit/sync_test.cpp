// Event, Mutex and MutexLock: set-and-stay events, recursive mutexes, and
// locks that take and release at most once.
#include "support/sync.hpp"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "support/thread.hpp"

namespace {

using kelvo::Event;
using kelvo::Mutex;
using kelvo::MutexLock;

constexpr std::uint32_t generousMs = 10000;

// Whether another thread finds the mutex free. The mutex is recursive, so
// only another thread can tell whether this one still holds it.
bool freeElsewhere(Mutex& mutex) {
  bool isFree = false;
  std::thread([&] { isFree = mutex.isFree(); }).join();
  return isFree;
}

TEST(Event, StartsUnsetAndStaysSetOnceSet) {
  Event event;
  EXPECT_FALSE(event.isSet());
  event.set();
  EXPECT_TRUE(event.isSet());
  EXPECT_TRUE(event.wait(0));
  event.set();
  EXPECT_TRUE(event.isSet());
}

TEST(Event, WaitTimesOutWhileUnset) {
  Event event;
  const auto before = std::chrono::steady_clock::now();
  EXPECT_FALSE(event.wait(30));
  EXPECT_GE(std::chrono::steady_clock::now() - before, std::chrono::milliseconds(30));
}

TEST(Event, SetReleasesEveryWaiter) {
  Event event;
  Event ready1, ready2;
  bool woke1 = false, woke2 = false;
  std::thread waiter1([&] {
    ready1.set();
    woke1 = event.wait(kelvo::Thread::infinite);
  });
  std::thread waiter2([&] {
    ready2.set();
    woke2 = event.wait(generousMs);
  });
  ASSERT_TRUE(ready1.wait(generousMs));
  ASSERT_TRUE(ready2.wait(generousMs));
  event.set();
  waiter1.join();
  waiter2.join();
  EXPECT_TRUE(woke1);
  EXPECT_TRUE(woke2);
}

TEST(Mutex, IsFreeLeavesAFreeMutexFree) {
  Mutex mutex;
  EXPECT_TRUE(mutex.isFree());
  EXPECT_TRUE(mutex.isFree());
  EXPECT_TRUE(freeElsewhere(mutex));
}

TEST(Mutex, HeldByAnotherThreadIsNotFreeAndCannotBeTaken) {
  Mutex mutex;
  MutexLock lock(mutex);
  lock.release();
  Event locked, finish;
  std::thread holder([&] {
    MutexLock lock(mutex);
    locked.set();
    finish.wait(generousMs);
  });
  ASSERT_TRUE(locked.wait(generousMs));
  EXPECT_FALSE(mutex.isFree());
  EXPECT_FALSE(lock.acquire(0));
  EXPECT_FALSE(lock.acquire(20));
  EXPECT_FALSE(lock.held());
  finish.set();
  holder.join();
  EXPECT_TRUE(lock.acquire(generousMs));
  EXPECT_TRUE(lock.held());
}

TEST(Mutex, ReleaseByAThreadThatDoesNotOwnItDoesNothing) {
  Mutex mutex;
  MutexLock lock(mutex);
  std::thread([&] { mutex.release(); }).join();
  EXPECT_FALSE(freeElsewhere(mutex));
  lock.release();
  EXPECT_TRUE(freeElsewhere(mutex));
}

TEST(MutexLock, HoldsUntilReleasedOrDestroyed) {
  Mutex mutex;
  {
    MutexLock lock = mutex.lock();
    EXPECT_TRUE(lock.held());
    EXPECT_FALSE(freeElsewhere(mutex));
    lock.release();
    EXPECT_FALSE(lock.held());
    EXPECT_TRUE(freeElsewhere(mutex));
    EXPECT_TRUE(lock.acquire(0));
    EXPECT_FALSE(freeElsewhere(mutex));
  }
  EXPECT_TRUE(freeElsewhere(mutex));
}

TEST(MutexLock, TakesItsMutexAtMostOnce) {
  Mutex mutex;
  MutexLock lock(mutex);
  // Already held: true at once, and the mutex is not taken a second time, so
  // one release frees it.
  EXPECT_TRUE(lock.acquire(0));
  EXPECT_TRUE(lock.acquire(kelvo::Thread::infinite));
  lock.release();
  EXPECT_TRUE(freeElsewhere(mutex));
  // Not held: release does nothing (and never releases a mutex it lacks).
  lock.release();
  EXPECT_FALSE(lock.held());
  EXPECT_TRUE(freeElsewhere(mutex));
}

TEST(MutexLock, SameThreadMayHoldTheMutexTwice) {
  Mutex mutex;
  MutexLock outer(mutex);
  {
    MutexLock inner(mutex);
    EXPECT_TRUE(inner.held());
  }
  EXPECT_FALSE(freeElsewhere(mutex));
  outer.release();
  EXPECT_TRUE(freeElsewhere(mutex));
}

}  // namespace
