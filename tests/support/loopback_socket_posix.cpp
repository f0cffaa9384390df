// The loopback socket on POSIX: non-blocking descriptors.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

sockaddr_in loopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

}  // namespace

void detail::failSocketCall(const char* operation, int code) {
  throw std::runtime_error(std::string(operation) + ": " + std::generic_category().message(code) +
                           " (errno " + std::to_string(code) + ")");
}

detail::SocketErrorKind detail::kindOf(int code) noexcept {
  if (code == EAGAIN || code == EWOULDBLOCK) return SocketErrorKind::wouldBlock;
  if (code == ECONNRESET || code == ECONNABORTED || code == EPIPE) return SocketErrorKind::reset;
  return SocketErrorKind::other;
}

void LoopbackSocket::HandleDeleter::operator()(Handle* handle) const noexcept { delete handle; }

LoopbackSocket::HandlePtr LoopbackSocket::newSocket() {
  HandlePtr handle(new Handle());
  handle->fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (handle->fd < 0) detail::failSocketCall("socket", errno);
  return handle;
}

kelvo::NativeSocket LoopbackSocket::native() const { return handle().fd; }

LoopbackSocket LoopbackSocket::listen(std::size_t receiveBufferBytes) {
  HandlePtr handle = newSocket();
  if (receiveBufferBytes > 0) {
    const int size = static_cast<int>(receiveBufferBytes);
    if (::setsockopt(handle->fd, SOL_SOCKET, SO_RCVBUF, &size, sizeof size) != 0) {
      detail::failSocketCall("setsockopt(SO_RCVBUF)", errno);
    }
  }
  const sockaddr_in address = loopbackAddress(0);
  if (::bind(handle->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    detail::failSocketCall("bind", errno);
  }
  if (::listen(handle->fd, SOMAXCONN) != 0) detail::failSocketCall("listen", errno);
  return LoopbackSocket(std::move(handle));
}

LoopbackSocket LoopbackSocket::connect(std::uint16_t port, std::uint32_t timeoutMs) {
  HandlePtr handle = newSocket();
  const sockaddr_in address = loopbackAddress(port);
  if (::connect(handle->fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    // A signal does not stop a connect in progress; it goes on as if it had
    // been EINPROGRESS.
    if (errno != EINPROGRESS && errno != EINTR) detail::failSocketCall("connect", errno);
    if (!detail::waitFor(handle->fd, kelvo::waitWritable, timeoutMs))
      detail::failSocketCall("connect", ETIMEDOUT);
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(handle->fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) {
      detail::failSocketCall("getsockopt(SO_ERROR)", errno);
    }
    if (error != 0) detail::failSocketCall("connect", error);
  }
  return LoopbackSocket(std::move(handle));
}

std::uint16_t LoopbackSocket::localPort() const {
  sockaddr_in address{};
  socklen_t size = sizeof address;
  if (::getsockname(handle().fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    detail::failSocketCall("getsockname", errno);
  }
  return ntohs(address.sin_port);
}

LoopbackSocket LoopbackSocket::accept(std::uint32_t timeoutMs) {
  const int listener = handle().fd;
  if (!detail::waitFor(listener, kelvo::waitReadable, timeoutMs)) return LoopbackSocket();
  HandlePtr accepted(new Handle());
  accepted->fd = ::accept4(listener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (accepted->fd >= 0) return LoopbackSocket(std::move(accepted));
  // The client may have given up between the wait and the accept.
  if (errno == EAGAIN || errno == EWOULDBLOCK || errno == ECONNABORTED || errno == EINTR) {
    return LoopbackSocket();
  }
  detail::failSocketCall("accept", errno);
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
