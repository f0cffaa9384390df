#include "site/connection_stream.hpp"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <algorithm>

namespace zelvor::site {

namespace {

using Address = int (*)(int, sockaddr*, socklen_t*);

// The numeric address and port of either end, as getpeername or
// getsockname gives it; IPv4 clients of an IPv6 socket read as IPv4.
void numericAddress(int fd, Address which, std::string& ip, int& port) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  ip.clear();
  port = 0;
  if (which(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return;
  char text[INET6_ADDRSTRLEN] = "";
  if (address.ss_family == AF_INET) {
    const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
    ::inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
    port = ntohs(v4.sin_port);
  } else if (address.ss_family == AF_INET6) {
    const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
    if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
      ::inet_ntop(AF_INET, &v6.sin6_addr.s6_addr[12], text, sizeof text);
    } else {
      ::inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
    }
    port = ntohs(v6.sin6_port);
  }
  ip = text;
}

}  // namespace

bool waitReady(int fd, short events, Clock::time_point deadline) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd watched{fd, events, 0};
    const int ready = ::poll(&watched, 1, static_cast<int>(std::min<long long>(left, 60'000)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return true;
  }
}

bool ConnectionStream::is_readable() const {
  return connection_.hasReadAhead() || waitReady(connection_.fd(), POLLIN, readDeadline_);
}

bool ConnectionStream::is_writable() const {
  const Clock::time_point deadline =
      writeDeadline_ == Clock::time_point{} ? Clock::now() + writeTimeout_ : writeDeadline_;
  return waitReady(connection_.fd(), POLLOUT, deadline);
}

ssize_t ConnectionStream::read(char* ptr, size_t size) {
  if (!connection_.hasReadAhead()) {
    if (!waitReady(connection_.fd(), POLLIN, readDeadline_)) return -1;
    const long got = connection_.receiveAvailable(Connection::receiveBytes);
    if (got <= 0) return got;
  }
  return static_cast<ssize_t>(connection_.takeReadAhead(ptr, size));
}

Clock::time_point ConnectionStream::writeDeadline() {
  if (writeDeadline_ == Clock::time_point{}) writeDeadline_ = Clock::now() + writeTimeout_;
  return writeDeadline_;
}

ssize_t ConnectionStream::write(const char* ptr, size_t size) {
  const Clock::time_point deadline = writeDeadline();
  size_t sent = 0;
  while (sent < size) {
    if (!waitReady(connection_.fd(), POLLOUT, deadline)) return -1;
    const ssize_t wrote = kelvo::retryInterrupted([&] {
      return ::send(connection_.fd(), ptr + sent, size - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    });
    if (wrote < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
      return -1;
    }
    sent += static_cast<size_t>(wrote);
  }
  return static_cast<ssize_t>(size);
}

void ConnectionStream::get_remote_ip_and_port(std::string& ip, int& port) const {
  numericAddress(connection_.fd(), ::getpeername, ip, port);
}

void ConnectionStream::get_local_ip_and_port(std::string& ip, int& port) const {
  numericAddress(connection_.fd(), ::getsockname, ip, port);
}

}  // namespace zelvor::site
