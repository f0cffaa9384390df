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
  // Through a buffer of its own: growing the string first would clear all
  // of the room asked for, on every receive, however little came.
  char chunk[receiveBytes];
  const ssize_t got = kelvo::retryInterrupted(
      [&] { return ::recv(fd(), chunk, std::min(atMost, sizeof chunk), MSG_DONTWAIT); });
  if (got > 0) received_.append(chunk, static_cast<std::size_t>(got));
  return got;
}

}  // namespace zelvor::site
