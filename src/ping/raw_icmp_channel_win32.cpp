// The raw ICMP channel on a Winsock raw socket, which receives each datagram
// whole, IP header first.

// winsock2.h (which brings in windows.h) and ws2tcpip.h: the Winsock 2
// value of IP_TTL; the old winsock.h one would set another option.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "ping/raw_icmp_channel.hpp"
#include "ping/winsock_startup_win32.hpp"
#include "support/failure.hpp"

namespace zelvor {

namespace {

// The most a reply read takes: a 20-byte IP header and up to 256 bytes of
// ICMP, more than any echo reply or quoted error this program expects. A
// longer datagram fails with WSAEMSGSIZE and is lost.
constexpr int largestReceive = 276;

// One raw socket, closed when its owner goes.
class RawSocket {
 public:
  RawSocket() noexcept = default;
  explicit RawSocket(SOCKET socket) noexcept : socket_(socket) {}
  ~RawSocket() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
  }
  RawSocket(const RawSocket&) = delete;
  RawSocket& operator=(const RawSocket&) = delete;

  SOCKET get() const noexcept { return socket_; }
  bool valid() const noexcept { return socket_ != INVALID_SOCKET; }

 private:
  SOCKET socket_ = INVALID_SOCKET;
};

class WinsockRawChannel final : public RawIcmpChannel {
 public:
  // A constructor that throws undoes what it did in reverse: the socket is
  // closed before the start-up it needs is given back.
  WinsockRawChannel() : winsock_(MAKEWORD(2, 0), rawSocketRefusedText), socket_(probeThenOpen()) {
    const int timeToLive = 255;
    u_long nonBlocking = 1;
    if (!socket_.valid() ||
        setsockopt(socket_.get(), IPPROTO_IP, IP_TTL, reinterpret_cast<const char*>(&timeToLive),
                   sizeof timeToLive) == SOCKET_ERROR ||
        ioctlsocket(socket_.get(), FIONBIO, &nonBlocking) == SOCKET_ERROR) {
      throw kelvo::Failure(rawSocketSetupText);
    }
  }

  bool send(std::span<const std::uint8_t> message, const kelvo::SocketAddress& to) override {
    if (message.size() > 0x7FFFFFFF) return false;
    sockaddr_in target{};
    target.sin_family = to.family;
    target.sin_port = to.port;
    target.sin_addr.s_addr = to.address;
    const int sent = sendto(socket_.get(), reinterpret_cast<const char*>(message.data()),
                            static_cast<int>(message.size()), 0,
                            reinterpret_cast<const sockaddr*>(&target), sizeof target);
    return sent != SOCKET_ERROR && static_cast<std::size_t>(sent) == message.size();
  }

  std::optional<ReceivedDatagram> receive(std::span<std::uint8_t> buffer,
                                          kelvo::SocketAddress& source) override {
    const int size = static_cast<int>(std::min<std::size_t>(buffer.size(), largestReceive));
    sockaddr_in sender{};
    int senderLength = sizeof sender;
    const int count = recvfrom(socket_.get(), reinterpret_cast<char*>(buffer.data()), size, 0,
                               reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (count == SOCKET_ERROR || count == 0) return std::nullopt;
    source = kelvo::SocketAddress{};
    source.family = sender.sin_family;
    source.port = sender.sin_port;
    source.address = sender.sin_addr.s_addr;
    return ReceivedDatagram{static_cast<std::size_t>(count), 0};
  }

  void waitReadable(std::uint32_t timeoutMs) override {
    kelvo::waitReady(static_cast<kelvo::NativeSocket>(socket_.get()), kelvo::waitReadable,
                     timeoutMs);
  }

 private:
  // A first raw socket, closed at once, tells a system that refuses raw
  // sockets outright from one whose socket merely cannot be set up: the
  // two fail with different texts.
  static SOCKET probeThenOpen() {
    if (!RawSocket(socket(AF_INET, SOCK_RAW, IPPROTO_ICMP)).valid()) {
      throw kelvo::Failure(rawSocketRefusedText);
    }
    return WSASocketA(AF_INET, SOCK_RAW, IPPROTO_ICMP, nullptr, 0, 0);
  }

  detail::WinsockStartup winsock_;
  RawSocket socket_;
};

}  // namespace

// Winsock gives no arrival stamps on a raw socket: replies are timed as read.
std::unique_ptr<RawIcmpChannel> openRawIcmpChannel(ArrivalStamps) {
  return std::make_unique<WinsockRawChannel>();
}

std::uint16_t processIdentifier() noexcept {
  return static_cast<std::uint16_t>(GetCurrentProcessId() & 0xFFFF);
}

}  // namespace zelvor
