// The connection's read-ahead.
#include "site/connection.hpp"

#include <sys/socket.h>

#include <algorithm>
#include <cstring>

namespace zelvor::site {

std::size_t Connection::takeReadAhead(char* out, std::size_t size) noexcept {
  const std::size_t count = std::min(size, received_.size() - consumed_);
  std::memcpy(out, received_.data() + consumed_, count);
  consumed_ += count;
  if (consumed_ == received_.size()) {
    received_.clear();
    consumed_ = 0;
  }
  return count;
}

long Connection::receiveAvailable(std::size_t atMost) {
  const std::size_t kept = received_.size();
  received_.resize(kept + atMost);
  const ssize_t got = kelvo::retryInterrupted(
      [&] { return ::recv(fd(), received_.data() + kept, atMost, MSG_DONTWAIT); });
  received_.resize(kept + static_cast<std::size_t>(std::max<ssize_t>(got, 0)));
  return got;
}

}  // namespace zelvor::site
