// What the POSIX files below the seam share: the owner of one file
// descriptor and the retry of calls cut short by a signal.
#pragma once

#include <unistd.h>

#include <cerrno>
#include <utility>

namespace kelvo {

// Repeats `call` while it fails with EINTR.
template <class Call>
auto retryInterrupted(Call call) {
  for (;;) {
    const auto result = call();
    if (!(result < 0 && errno == EINTR)) return result;
  }
}

// One descriptor, closed when its owner goes. Made from the result of the
// call that opened it, so that a failed open (-1) is owned too and nothing
// is ever left without an owner.
class OwnedFd {
 public:
  explicit OwnedFd(int fd) noexcept : fd_(fd) {}
  ~OwnedFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  OwnedFd(OwnedFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  OwnedFd(const OwnedFd&) = delete;
  OwnedFd& operator=(const OwnedFd&) = delete;

  int get() const noexcept { return fd_; }
  bool valid() const noexcept { return fd_ >= 0; }

 private:
  int fd_;
};

}  // namespace kelvo
