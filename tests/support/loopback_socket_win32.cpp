// The loopback socket on Windows: non-blocking Winsock sockets, each holding
// its own Winsock start-up.
#include <winsock2.h>
#include <ws2tcpip.h>
// winsock2.h before windows.h, which would otherwise pull in the old winsock.
#include <windows.h>

#include <algorithm>
#include <climits>

#include "loopback_socket.hpp"

namespace zelvor::test {

void detail::failSocketCall(const char* operation, int code) {
  throw std::runtime_error(std::string(operation) + ": Winsock error " + std::to_string(code));
}

detail::SocketErrorKind detail::kindOf(int code) noexcept {
  if (code == WSAEWOULDBLOCK) return SocketErrorKind::wouldBlock;
  if (code == WSAECONNRESET || code == WSAECONNABORTED) return SocketErrorKind::reset;
  return SocketErrorKind::other;
}

namespace {

using detail::failSocketCall;

// One reference on Winsock, which counts its start-ups and shuts down at the
// last clean-up.
class WinsockUse {
 public:
  WinsockUse() {
    WSADATA data;
    const int code = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (code != 0) failSocketCall("WSAStartup", code);
  }
  ~WinsockUse() { ::WSACleanup(); }
  WinsockUse(const WinsockUse&) = delete;
  WinsockUse& operator=(const WinsockUse&) = delete;
};

sockaddr_in loopbackAddress(std::uint16_t port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

// Waits at most `timeoutMs` for a connect in progress to end. A failed
// connect shows in the exception set; it counts as ended, so that SO_ERROR
// then tells the failure.
bool connectEnded(SOCKET socket, std::uint32_t timeoutMs) {
  fd_set done;
  FD_ZERO(&done);
  FD_SET(socket, &done);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(socket, &failed);
  timeval limit{static_cast<long>(timeoutMs / 1000), static_cast<long>(timeoutMs % 1000 * 1000)};
  // The first argument is ignored by Winsock.
  const int count = ::select(0, nullptr, &done, &failed, &limit);
  if (count == SOCKET_ERROR) failSocketCall("select", ::WSAGetLastError());
  return count > 0;
}

}  // namespace

// Made empty and then given its socket, so that no socket exists without an
// owner.
struct LoopbackSocket::Handle {
  Handle() = default;
  ~Handle() {
    if (socket != INVALID_SOCKET) ::closesocket(socket);
  }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;

  WinsockUse winsock;  // declared first, so it outlives the socket
  SOCKET socket = INVALID_SOCKET;
};

namespace {

void makeNonBlocking(SOCKET socket) {
  u_long nonBlocking = 1;
  if (::ioctlsocket(socket, FIONBIO, &nonBlocking) != 0) {
    failSocketCall("ioctlsocket(FIONBIO)", ::WSAGetLastError());
  }
}

}  // namespace

void LoopbackSocket::HandleDeleter::operator()(Handle* handle) const noexcept { delete handle; }

LoopbackSocket::HandlePtr LoopbackSocket::newSocket() {
  HandlePtr handle(new Handle());
  handle->socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (handle->socket == INVALID_SOCKET) failSocketCall("socket", ::WSAGetLastError());
  makeNonBlocking(handle->socket);
  return handle;
}

kelvo::NativeSocket LoopbackSocket::native() const {
  return static_cast<kelvo::NativeSocket>(handle().socket);
}

LoopbackSocket LoopbackSocket::listen(std::size_t receiveBufferBytes) {
  HandlePtr handle = newSocket();
  if (receiveBufferBytes > 0) {
    const int size = static_cast<int>(std::min<std::size_t>(receiveBufferBytes, INT_MAX));
    if (::setsockopt(handle->socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<const char*>(&size),
                     sizeof size) != 0) {
      failSocketCall("setsockopt(SO_RCVBUF)", ::WSAGetLastError());
    }
  }
  const sockaddr_in address = loopbackAddress(0);
  if (::bind(handle->socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    failSocketCall("bind", ::WSAGetLastError());
  }
  if (::listen(handle->socket, SOMAXCONN) != 0) failSocketCall("listen", ::WSAGetLastError());
  return LoopbackSocket(std::move(handle));
}

LoopbackSocket LoopbackSocket::connect(std::uint16_t port, std::uint32_t timeoutMs) {
  HandlePtr handle = newSocket();
  const sockaddr_in address = loopbackAddress(port);
  if (::connect(handle->socket, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int code = ::WSAGetLastError();
    if (code != WSAEWOULDBLOCK) failSocketCall("connect", code);
    if (!connectEnded(handle->socket, timeoutMs)) failSocketCall("connect", WSAETIMEDOUT);
    int error = 0;
    int size = sizeof error;
    if (::getsockopt(handle->socket, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&error),
                     &size) != 0) {
      failSocketCall("getsockopt(SO_ERROR)", ::WSAGetLastError());
    }
    if (error != 0) failSocketCall("connect", error);
  }
  return LoopbackSocket(std::move(handle));
}

std::uint16_t LoopbackSocket::localPort() const {
  sockaddr_in address{};
  int size = sizeof address;
  if (::getsockname(handle().socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    failSocketCall("getsockname", ::WSAGetLastError());
  }
  return ntohs(address.sin_port);
}

LoopbackSocket LoopbackSocket::accept(std::uint32_t timeoutMs) {
  const SOCKET listener = handle().socket;
  if (!detail::waitFor(native(), kelvo::waitReadable, timeoutMs)) return LoopbackSocket();
  HandlePtr accepted(new Handle());
  accepted->socket = ::accept(listener, nullptr, nullptr);
  if (accepted->socket != INVALID_SOCKET) {
    // Accepted sockets should take the listener's mode; set it rather than rely on that.
    makeNonBlocking(accepted->socket);
    return LoopbackSocket(std::move(accepted));
  }
  // The client may have given up between the select and the accept.
  const int code = ::WSAGetLastError();
  if (code == WSAEWOULDBLOCK || code == WSAECONNRESET) return LoopbackSocket();
  failSocketCall("accept", code);
}

bool LoopbackSocket::shutdownSending() noexcept {
  return handle_ != nullptr && ::shutdown(handle_->socket, SD_SEND) == 0;
}

void LoopbackSocket::close() noexcept { handle_.reset(); }

void LoopbackSocket::abort() noexcept {
  if (handle_ == nullptr) return;
  // A zero linger time makes closesocket() send a reset instead of a FIN.
  const linger now{1, 0};
  ::setsockopt(handle_->socket, SOL_SOCKET, SO_LINGER, reinterpret_cast<const char*>(&now),
               sizeof now);
  handle_.reset();
}

std::size_t openDescriptorCount() {
  DWORD count = 0;
  if (!::GetProcessHandleCount(::GetCurrentProcess(), &count)) {
    throw std::runtime_error("GetProcessHandleCount: Windows error " +
                             std::to_string(::GetLastError()));
  }
  return count;
}

}  // namespace zelvor::test
