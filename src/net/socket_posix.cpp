// The socket calls below the platform seam, on BSD sockets.
//
// Interrupted calls are retried in one place, kelvo::retryInterrupted. Sends carry
// MSG_NOSIGNAL: a peer that closes early must end an exchange with a
// failure, not end the process with SIGPIPE.
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>

#include "net/address_lookup_system.hpp"
#include "net/socket.hpp"
#include "support/owned_fd_posix.hpp"

namespace kelvo {

namespace {

int fd(NativeSocket socket) { return static_cast<int>(socket); }

// A plain blocking connect. One cut short by a signal goes on in the
// background, so its outcome is waited for rather than asked for again.
int connectBlocking(int socket, const sockaddr_in& target) {
  if (::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) == 0) return 0;
  if (errno != EINTR) return -1;
  pollfd entry{socket, POLLOUT, 0};
  if (retryInterrupted([&] { return ::poll(&entry, 1, -1); }) < 0) return -1;
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &length) < 0) return -1;
  if (error == 0) return 0;
  errno = error;
  return -1;
}

}  // namespace

// getaddrinfo, unlike gethostbyname, is safe to call from several threads.
bool resolveAddress(const char* host, SocketAddress& address) {
  address = SocketAddress{};
  const in_addr_t dotted = inet_addr(host);
  if (dotted != INADDR_NONE) {
    address.family = AF_INET;
    address.address = dotted;
    return true;
  }
  addrinfo hints{};
  hints.ai_family = AF_INET;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0 || found == nullptr) return false;
  sockaddr_in first{};
  std::memcpy(&first, found->ai_addr, sizeof first);
  freeaddrinfo(found);
  address.family = AF_INET;
  address.address = first.sin_addr.s_addr;
  return true;
}

std::vector<IpAddress> resolveAddresses(const char* host) { return detail::lookUpAddresses(host); }

std::optional<IpAddress> literalAddress(const char* host) { return detail::literalAddress(host); }

// poll rather than select: a descriptor numbered past FD_SETSIZE would
// overflow select's set. An interrupted wait resumes with the time it has
// left.
int waitReady(NativeSocket socket, int mode, std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  pollfd entry{fd(socket), static_cast<short>(mode == waitWritable ? POLLOUT : POLLIN), 0};
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    const int result = poll(&entry, 1, static_cast<int>(std::max<std::int64_t>(left.count(), 0)));
    if (result >= 0) return result > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

std::int32_t lastSocketErrorCode() noexcept { return errno; }

namespace detail {

NativeSocket connectStream(const SocketAddress& address) {
  const int socket = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  if (socket < 0) throw lastSocketFailure();
  sockaddr_in target{};
  static_assert(sizeof target == sizeof address);
  std::memcpy(&target, &address, sizeof target);
  if (connectBlocking(socket, target) < 0) {
    const Failure failure = lastSocketFailure();
    ::close(socket);
    throw failure;
  }
  return socket;
}

long sendOnce(NativeSocket socket, const char* data, std::size_t length) {
  return retryInterrupted([&] { return ::send(fd(socket), data, length, MSG_NOSIGNAL); });
}

long receiveOnce(NativeSocket socket, char* buffer, int size) {
  return retryInterrupted(
      [&] { return ::recv(fd(socket), buffer, static_cast<std::size_t>(size), 0); });
}

void shutdownSending(NativeSocket socket) noexcept { ::shutdown(fd(socket), SHUT_WR); }

void closeSocket(NativeSocket socket) noexcept { ::close(fd(socket)); }

}  // namespace detail

}  // namespace kelvo
