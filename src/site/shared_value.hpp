// A value the site replaces while it serves (the list, the networks), read
// by many threads at once: a reader keeps the value it took for as long as
// it needs it, whatever replaces it meanwhile.
#pragma once

#include <memory>
#include <mutex>
#include <utility>

namespace zelvor::site {

template <class T>
class SharedValue {
 public:
  explicit SharedValue(T value) : value_(std::make_shared<const T>(std::move(value))) {}

  std::shared_ptr<const T> current() const {
    const std::lock_guard lock(mutex_);
    return value_;
  }

  void replace(T value) {
    auto replacement = std::make_shared<const T>(std::move(value));
    const std::lock_guard lock(mutex_);
    value_.swap(replacement);
    // The old value, if last, goes with `replacement` outside the lock.
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const T> value_;
};

}  // namespace zelvor::site
