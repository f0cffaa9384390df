// The loopback socket on POSIX: non-blocking descriptors waited on with poll.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <iterator>
#include <system_error>

#include "loopback_socket.hpp"

namespace zelvor::test {

// Made empty and then given its descriptor, so that no descriptor exists
// without an owner.
struct LoopbackSocket::Handle {
  Handle() noexcept = default;
  ~Handle() {
    if (fd >= 0) ::close(fd);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  int fd = -1;
};

namespace {

// A signal landing in the middle of a wait is retried, but not for ever.
constexpr int interruptRetries = 100;

[[noreturn]] void fail(const char* operation, int code) {
  throw std::runtime_error(std::string(operation) + ": " + std::generic_category().message(code) +
                           " (errno " + std::to_string(code) + ")");
}

sockaddr_in loopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Waits at most `timeoutMs` for `events` on `fd`, the time a signal took
// included. Returns the events seen, 0 when the time ran out.
short waitFor(int fd, short events, std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  for (int attempt = 0; attempt < interruptRetries; ++attempt) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(std::max<long long>(left, 0)));
    if (ready > 0) return entry.revents;
    if (ready == 0) return 0;
    if (errno != EINTR) fail("poll", errno);
  }
  fail("poll", EINTR);
}

}  // namespace

void LoopbackSocket::HandleDeleter::operator()(Handle* handle) const noexcept { delete handle; }

LoopbackSocket::HandlePtr LoopbackSocket::newSocket() {
  HandlePtr handle(new Handle());
  handle->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (handle->fd < 0) fail("socket", errno);
  return handle;
}

LoopbackSocket::LoopbackSocket() noexcept = default;
LoopbackSocket::LoopbackSocket(HandlePtr handle) noexcept : handle_(std::move(handle)) {}
LoopbackSocket::~LoopbackSocket() = default;
LoopbackSocket::LoopbackSocket(LoopbackSocket&& other) noexcept = default;
LoopbackSocket& LoopbackSocket::operator=(LoopbackSocket&& other) noexcept = default;

LoopbackSocket::Handle& LoopbackSocket::handle() const {
  if (handle_ == nullptr) throw std::logic_error("LoopbackSocket: no socket is open");
  return *handle_;
}

LoopbackSocket LoopbackSocket::listen(std::size_t receiveBufferBytes) {
  HandlePtr handle = newSocket();
  if (receiveBufferBytes > 0) {
    const int size = static_cast<int>(receiveBufferBytes);
    if (::setsockopt(handle->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
      fail("setsockopt(SO_RCVBUF)", errno);
    }
  }
  const sockaddr_in address = loopbackAddress(0);
  if (::bind(handle->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fail("bind", errno);
  }
  if (::listen(handle->fd, SOMAXCONN) != 0) fail("listen", errno);
  return LoopbackSocket(std::move(handle));
}

LoopbackSocket LoopbackSocket::connect(std::uint16_t port, std::uint32_t timeoutMs) {
  HandlePtr handle = newSocket();
  const sockaddr_in address = loopbackAddress(port);
  if (::connect(handle->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // A signal does not stop a connect in progress; it goes on as if it had
    // been EINPROGRESS.
    if (errno != EINPROGRESS && errno != EINTR) fail("connect", errno);
    if (waitFor(handle->fd, POLLOUT, timeoutMs) == 0) fail("connect", ETIMEDOUT);
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(handle->fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
      fail("getsockopt(SO_ERROR)", errno);
    }
    if (error != 0) fail("connect", error);
  }
  return LoopbackSocket(std::move(handle));
}

std::uint16_t LoopbackSocket::localPort() const {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(handle().fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    fail("getsockname", errno);
  }
  return ntohs(address.sin_port);
}

LoopbackSocket LoopbackSocket::accept(std::uint32_t timeoutMs) {
  const int listener = handle().fd;
  if (waitFor(listener, POLLIN, timeoutMs) == 0) return LoopbackSocket();
  HandlePtr accepted(new Handle());
  accepted->fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (accepted->fd >= 0) return LoopbackSocket(std::move(accepted));
  // The client may have given up between the poll and the accept.
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR) {
    return LoopbackSocket();
  }
  fail("accept", errno);
}

std::size_t LoopbackSocket::sendSome(std::string_view bytes, std::uint32_t timeoutMs) {
  const int fd = handle().fd;
  if (bytes.empty() || waitFor(fd, POLLOUT, timeoutMs) == 0) return 0;
  for (int attempt = 0; attempt < interruptRetries; ++attempt) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent >= 0) return static_cast<std::size_t>(sent);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return 0;
    if (errno != EINTR) fail("send", errno);
  }
  fail("send", EINTR);
}

ReceiveResult LoopbackSocket::receiveSome(std::string& into, std::size_t maxBytes,
                                          std::uint32_t timeoutMs) {
  const int fd = handle().fd;
  if (maxBytes == 0 || waitFor(fd, POLLIN, timeoutMs) == 0) return ReceiveResult::timedOut;
  const std::size_t start = into.size();
  into.resize(start + maxBytes);
  for (int attempt = 0; attempt < interruptRetries; ++attempt) {
    const ssize_t got = ::recv(fd, into.data() + start, maxBytes, 0);
    if (got >= 0) into.resize(start + static_cast<std::size_t>(got));
    if (got > 0) return ReceiveResult::received;
    if (got == 0) return ReceiveResult::peerClosed;
    if (errno == EINTR) continue;
    into.resize(start);
    if (errno == EAGAIN || errno == EWOULDBLOCK) return ReceiveResult::timedOut;
    if (errno == ECONNRESET || errno == ECONNABORTED || errno == EPIPE) {
      return ReceiveResult::reset;
    }
    fail("recv", errno);
  }
  into.resize(start);
  fail("recv", EINTR);
}

bool LoopbackSocket::shutdownSending() noexcept {
  return handle_ != nullptr && ::shutdown(handle_->fd, SHUT_WR) == 0;
}

void LoopbackSocket::close() noexcept { handle_.reset(); }

void LoopbackSocket::abort() noexcept {
  if (handle_ == nullptr) return;
  // A zero linger time makes close() send a reset instead of a FIN.
  const linger now{1, 0};
  ::setsockopt(handle_->fd, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  handle_.reset();
}

std::size_t openDescriptorCount() {
  const auto listed = std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                                    std::filesystem::directory_iterator());
  // The iterator's own descriptor was listed too.
  return static_cast<std::size_t>(listed) - 1;
}

}  // namespace zelvor::test
