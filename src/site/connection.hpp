// One accepted HTTP connection between requests and while a worker serves
// it: the socket and the bytes received ahead of what the server has read.
#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

#include "support/owned_fd_posix.hpp"

namespace zelvor::site {

using Clock = std::chrono::steady_clock;

class Connection {
 public:
  // What one receive asks for while a worker reads.
  static constexpr std::size_t receiveBytes = 16 * 1024;

  // Counts itself in `open` for as long as it lives.
  Connection(int fd, std::atomic<std::size_t>& open) noexcept : open_(open), socket_(fd) {
    ++open_;
  }
  ~Connection() { --open_; }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  int fd() const noexcept { return socket_.get(); }

  // Bytes received and not yet read: a request gathered while the
  // connection waited, or a pipelining client's next one.
  std::string_view readAhead() const noexcept {
    return std::string_view(received_).substr(consumed_);
  }
  bool hasReadAhead() const noexcept { return consumed_ < received_.size(); }
  // Moves up to `size` read-ahead bytes to `out`; how many it moved.
  std::size_t takeReadAhead(char* out, std::size_t size) noexcept;
  // Appends up to `atMost` bytes (at most receiveBytes) of what the socket
  // holds, without waiting; as recv: the count, 0 at the peer's close, -1
  // on failure or when nothing is there.
  long receiveAvailable(std::size_t atMost);

  // Requests answered on this connection so far.
  std::size_t served = 0;
  // When its current request's first bytes were seen.
  Clock::time_point readySince{};

 private:
  std::atomic<std::size_t>& open_;
  kelvo::OwnedFd socket_;
  std::string received_;
  std::size_t consumed_ = 0;
};

}  // namespace zelvor::site
