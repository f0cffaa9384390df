#include "net/socket.hpp"

#include <cstring>
#include <utility>

namespace kelvo {

namespace {
constexpr const char* socketErrorPrefix = "Socket error ";
constexpr const char* invalidAddressPrefix = "Invalid address: ";
}  // namespace

Failure lastSocketFailure() {
  return Failure(socketErrorPrefix + std::to_string(lastSocketErrorCode()));
}

Socket::Socket(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs)
    : socket_(invalidSocket), timeoutMs_(timeoutMs) {
  SocketAddress address;
  if (!resolveAddress(host.c_str(), address)) throw Failure(invalidAddressPrefix + host);
  const unsigned char networkOrder[2] = {static_cast<unsigned char>(port >> 8),
                                         static_cast<unsigned char>(port & 0xFF)};
  std::memcpy(&address.port, networkOrder, sizeof networkOrder);
  socket_ = detail::connectStream(address);
}

Socket::~Socket() {
  detail::shutdownSending(socket_);
  waitReady(socket_, waitReadable, timeoutMs_);
  detail::closeSocket(socket_);
}

void Socket::sendAll(const char* data, std::size_t length) {
  do {
    if (waitReady(socket_, waitWritable, timeoutMs_) != 1) throw lastSocketFailure();
    const long sent = detail::sendOnce(socket_, data, length);
    if (sent < 0) throw lastSocketFailure();
    data += sent;
    length -= static_cast<std::size_t>(sent);
  } while (length > 0);
}

// A receive that outwaits the time-out yields nothing, exactly like an
// orderly close by the peer: callers see the stream end either way.
int Socket::receive(char* buffer, int size) {
  switch (waitReady(socket_, waitReadable, timeoutMs_)) {
    case 0:
      return 0;
    case 1: {
      const long count = detail::receiveOnce(socket_, buffer, size);
      if (count < 0) throw lastSocketFailure();
      return static_cast<int>(count);
    }
    default:
      throw lastSocketFailure();
  }
}

}  // namespace kelvo
