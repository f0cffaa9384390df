// Connections waiting for their next request, watched by one thread with
// epoll so that a quiet client costs a descriptor, not a worker. The thread
// also gathers each request's bytes as they arrive; once a request can be
// served without waiting (request_framing.hpp) the connection goes to
// `ready`. A connection whose deadline passes first is closed.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <utility>

#include "site/connection.hpp"
#include "site/request_framing.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor::site {

class IdleConnections {
 public:
  using Ready = std::function<void(std::unique_ptr<Connection>)>;

  // A request must be gathered within `requestTimeout` of its first bytes.
  // Throws a Failure when epoll cannot be set up.
  IdleConnections(Ready ready, Gathering gathering, Clock::duration requestTimeout);
  // stop().
  ~IdleConnections();
  IdleConnections(const IdleConnections&) = delete;
  IdleConnections& operator=(const IdleConnections&) = delete;

  // Watches the connection until `deadline` (moved on when a request's
  // first bytes arrive). After stop() it is closed at once instead.
  void add(std::unique_ptr<Connection> connection, Clock::time_point deadline);
  // Ends the watching thread, hands the connections whose next request has
  // begun to arrive to `ready` (on the calling thread), and closes the
  // others and every one added later. From one thread, not from `ready`.
  void stop();
  std::size_t size() const;

 private:
  struct Waiting {
    std::unique_ptr<Connection> connection;
    Clock::time_point deadline;
  };

  void watch();
  // Under the lock. Reads what arrived for `fd`; the connection when its
  // request is ready for a worker.
  std::unique_ptr<Connection> gather(int fd, Clock::time_point now);
  std::unique_ptr<Connection> take(int fd);
  // Closes what waited too long; the milliseconds until the next deadline.
  int closeExpired(Clock::time_point now);

  Ready ready_;
  Gathering gathering_;
  Clock::duration requestTimeout_;
  kelvo::OwnedFd epoll_;
  kelvo::OwnedFd wake_;
  mutable std::mutex mutex_;
  std::map<int, Waiting> waiting_;
  std::set<std::pair<Clock::time_point, int>> deadlines_;
  bool stopped_ = false;
  std::thread thread_;
};

}  // namespace zelvor::site
