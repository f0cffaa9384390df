// Calls handed from any thread to the window's thread: they wait here in
// the order they were made, and the window's thread is woken once for any
// number of them. Both window toolkits carry their View calls this way,
// because their own hand-over queues are bounded and would lose calls.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace zelvor {

class CallQueue {
 public:
  using Call = std::function<void()>;
  // Asks the window's thread to call runQueued soon, without waiting for
  // it; false when the request could not be made.
  using Wake = std::function<bool()>;

  explicit CallQueue(Wake wake) : wake_(std::move(wake)) {}
  CallQueue(const CallQueue&) = delete;
  CallQueue& operator=(const CallQueue&) = delete;

  // Queues `call`; false once the queue is closed. A wake-up that could not
  // be requested is requested again with the next call.
  bool post(Call call);

  // On the window's thread: carries out the waiting calls in order, one at a
  // time. While calls remain it keeps a wake-up requested, so that a call
  // running a loop of its own (a modal box) still has the ones behind it
  // carried out, in their order.
  void runQueued();

  // Drops the waiting calls and refuses later ones.
  void close();
  bool closed();

 private:
  bool takeNext(Call& call);
  void wakeLocked();

  const Wake wake_;
  std::mutex mutex_;
  std::deque<Call> calls_;
  // A wake-up is on its way, so a new call needs none.
  bool wakePending_ = false;
  bool closed_ = false;
};

}  // namespace zelvor
