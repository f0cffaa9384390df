#include <winsock2.h>
#include <ws2tcpip.h>

#include <cstring>

#include "net/address_lookup_system.hpp"
#include "net/socket.hpp"

namespace kelvo {

namespace {
SOCKET handle(NativeSocket socket) { return static_cast<SOCKET>(socket); }
}  // namespace

bool resolveAddress(const char* host, SocketAddress& address) {
  address = SocketAddress{};
  const unsigned long dotted = inet_addr(host);
  if (dotted != INADDR_NONE) {
    address.family = AF_INET;
    address.address = dotted;
    return true;
  }
  // Winsock keeps the host entry per thread; the address is copied out at
  // once.
  const hostent* entry = gethostbyname(host);
  if (entry == nullptr || entry->h_addr_list[0] == nullptr ||
      entry->h_length != sizeof address.address) {
    return false;
  }
  address.family = static_cast<std::uint16_t>(entry->h_addrtype);
  std::memcpy(&address.address, entry->h_addr_list[0], sizeof address.address);
  return true;
}

std::vector<IpAddress> resolveAddresses(const char* host) { return detail::lookUpAddresses(host); }

std::optional<IpAddress> literalAddress(const char* host) { return detail::literalAddress(host); }

int waitReady(NativeSocket socket, int mode, std::uint32_t timeoutMs) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(handle(socket), &set);
  timeval time{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
  const int result = select(0, mode == waitReadable ? &set : nullptr,
                            mode == waitWritable ? &set : nullptr, nullptr, &time);
  if (result == SOCKET_ERROR) return -1;
  return FD_ISSET(handle(socket), &set) ? 1 : 0;
}

std::int32_t lastSocketErrorCode() noexcept { return WSAGetLastError(); }

namespace detail {

NativeSocket connectStream(const SocketAddress& address) {
  const SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (socket == INVALID_SOCKET) throw lastSocketFailure();
  u_long nonBlockingMode = 0;
  sockaddr_in target{};
  static_assert(sizeof target == sizeof address);
  std::memcpy(&target, &address, sizeof target);
  if (ioctlsocket(socket, FIONBIO, &nonBlockingMode) == SOCKET_ERROR ||
      ::connect(socket, reinterpret_cast<const sockaddr*>(&target), sizeof target) ==
          SOCKET_ERROR) {
    const Failure failure = lastSocketFailure();
    closesocket(socket);
    throw failure;
  }
  return static_cast<NativeSocket>(socket);
}

long sendOnce(NativeSocket socket, const char* data, std::size_t length) {
  // One call takes at most INT_MAX bytes; sendAll sends the rest after it.
  const int chunk = length > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(length);
  const int sent = ::send(handle(socket), data, chunk, 0);
  return sent == SOCKET_ERROR ? -1 : sent;
}

long receiveOnce(NativeSocket socket, char* buffer, int size) {
  const int count = ::recv(handle(socket), buffer, size, 0);
  return count == SOCKET_ERROR ? -1 : count;
}

void shutdownSending(NativeSocket socket) noexcept { ::shutdown(handle(socket), SD_SEND); }

void closeSocket(NativeSocket socket) noexcept { closesocket(handle(socket)); }

}  // namespace detail

}  // namespace kelvo
