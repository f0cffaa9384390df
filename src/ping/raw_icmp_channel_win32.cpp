// The raw ICMP channel on Winsock raw sockets: the IPv4 one receives each
// datagram whole, IP header first; the ICMPv6 one, opened by the first send
// to an IPv6 address, receives the message alone and has the stack write
// its checksum.

// winsock2.h (which brings in windows.h) and ws2tcpip.h: the Winsock 2
// value of IP_TTL; the old winsock.h one would set another option.
#include <winsock2.h>
#include <ws2tcpip.h>

#include <algorithm>
#include <cstring>
#include <optional>
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
  RawSocket(RawSocket&& other) noexcept : socket_(other.socket_) { other.socket_ = INVALID_SOCKET; }
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

  bool send(std::span<const std::uint8_t> message, const HostAddress& to) override {
    if (message.size() > 0x7FFFFFFF) return false;
    sockaddr_storage target{};
    int length = 0;
    if (to.family == IcmpFamily::v6) {
      if (!openV6()) return false;
      sockaddr_in6 v6{};
      v6.sin6_family = AF_INET6;
      std::memcpy(&v6.sin6_addr, to.bytes.data(), sizeof v6.sin6_addr);
      std::memcpy(&target, &v6, sizeof v6);
      length = sizeof v6;
    } else {
      sockaddr_in v4{};
      v4.sin_family = AF_INET;
      std::memcpy(&v4.sin_addr, to.bytes.data(), sizeof v4.sin_addr);
      std::memcpy(&target, &v4, sizeof v4);
      length = sizeof v4;
    }
    const SOCKET socket = to.family == IcmpFamily::v6 ? v6_->get() : socket_.get();
    const int sent = sendto(socket, reinterpret_cast<const char*>(message.data()),
                            static_cast<int>(message.size()), 0,
                            reinterpret_cast<const sockaddr*>(&target), length);
    return sent != SOCKET_ERROR && static_cast<std::size_t>(sent) == message.size();
  }

  std::optional<ReceivedDatagram> receive(std::span<std::uint8_t> buffer,
                                          HostAddress& source) override {
    if (auto received = receiveFrom(socket_.get(), buffer, source)) return received;
    if (!v6_) return std::nullopt;
    return receiveFrom(v6_->get(), buffer, source);
  }

  void waitReadable(std::uint32_t timeoutMs) override {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(socket_.get(), &set);
    if (v6_) FD_SET(v6_->get(), &set);
    timeval time{static_cast<long>(timeoutMs / 1000), static_cast<long>((timeoutMs % 1000) * 1000)};
    select(0, &set, nullptr, nullptr, &time);
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

  static std::optional<ReceivedDatagram> receiveFrom(SOCKET socket, std::span<std::uint8_t> buffer,
                                                     HostAddress& source) {
    const int size = static_cast<int>(std::min<std::size_t>(buffer.size(), largestReceive));
    sockaddr_storage sender{};
    int senderLength = sizeof sender;
    const int count = recvfrom(socket, reinterpret_cast<char*>(buffer.data()), size, 0,
                               reinterpret_cast<sockaddr*>(&sender), &senderLength);
    if (count == SOCKET_ERROR || count == 0) return std::nullopt;
    source = HostAddress{};
    if (sender.ss_family == AF_INET6) {
      sockaddr_in6 v6{};
      std::memcpy(&v6, &sender, sizeof v6);
      source.family = IcmpFamily::v6;
      std::memcpy(source.bytes.data(), &v6.sin6_addr, sizeof v6.sin6_addr);
    } else {
      sockaddr_in v4{};
      std::memcpy(&v4, &sender, sizeof v4);
      std::memcpy(source.bytes.data(), &v4.sin_addr, sizeof v4.sin_addr);
    }
    return ReceivedDatagram{static_cast<std::size_t>(count), 0};
  }

  // One that cannot be opened or set up is tried again at the next send to
  // an IPv6 address.
  bool openV6() {
    if (v6_) return true;
    RawSocket opened(WSASocketA(AF_INET6, SOCK_RAW, IPPROTO_ICMPV6, nullptr, 0, 0));
    const int hopLimit = 255;
    u_long nonBlocking = 1;
    if (!opened.valid() ||
        setsockopt(opened.get(), IPPROTO_IPV6, IPV6_UNICAST_HOPS,
                   reinterpret_cast<const char*>(&hopLimit), sizeof hopLimit) == SOCKET_ERROR ||
        ioctlsocket(opened.get(), FIONBIO, &nonBlocking) == SOCKET_ERROR) {
      return false;
    }
    v6_.emplace(std::move(opened));
    return true;
  }

  detail::WinsockStartup winsock_;
  RawSocket socket_;
  std::optional<RawSocket> v6_;
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
