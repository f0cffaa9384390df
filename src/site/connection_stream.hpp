// cpp-httplib's view of a connection while a worker serves one request:
// reads and writes that wait at most until the request's deadlines, so a
// client that trickles its request or reads the reply slowly holds a worker
// for a bounded time, however steadily it sends.
#pragma once

#include <httplib.h>

#include <string>

#include "site/connection.hpp"

namespace zelvor::site {

class ConnectionStream final : public httplib::Stream {
 public:
  // The whole request must have arrived by `readDeadline`; the reply must
  // be written within `writeTimeout` of its first byte.
  ConnectionStream(Connection& connection, Clock::time_point readDeadline,
                   Clock::duration writeTimeout) noexcept
      : connection_(connection), readDeadline_(readDeadline), writeTimeout_(writeTimeout) {}

  bool is_readable() const override;
  bool is_writable() const override;
  ssize_t read(char* ptr, size_t size) override;
  ssize_t write(const char* ptr, size_t size) override;
  void get_remote_ip_and_port(std::string& ip, int& port) const override;
  void get_local_ip_and_port(std::string& ip, int& port) const override;
  socket_t socket() const override { return connection_.fd(); }

 private:
  Clock::time_point writeDeadline();

  Connection& connection_;
  Clock::time_point readDeadline_;
  Clock::duration writeTimeout_;
  Clock::time_point writeDeadline_{};
};

// Waits until `fd` is ready for `events` (poll's) or `deadline` passes;
// true when it is ready, or has failed or been closed (which the next call
// on it reports).
bool waitReady(int fd, short events, Clock::time_point deadline);

}  // namespace zelvor::site
