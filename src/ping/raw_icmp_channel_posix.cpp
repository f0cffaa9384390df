// The raw ICMP channel on a Linux raw socket, which hands over each datagram
// whole, IP header first, and on loopback also shows our own requests going
// out.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "ping/arrival_stamp_posix.hpp"
#include "ping/raw_icmp_channel.hpp"
#include "support/failure.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor {

namespace {

class RawSocketChannel final : public RawIcmpChannel {
 public:
  // Throws the refusal text when no raw socket is to be had: any failure,
  // not only EPERM and EACCES, since the caller can do nothing but report
  // it.
  explicit RawSocketChannel(ArrivalStamps stamps)
      : socket_(::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP)) {
    if (!socket_.valid()) throw kelvo::Failure(rawSocketRefusedText);
    const int timeToLive = 255;
    if (::setsockopt(socket_.get(), IPPROTO_IP, IP_TTL, &timeToLive, sizeof timeToLive) != 0) {
      throw kelvo::Failure(rawSocketSetupText);
    }
    if (stamps == ArrivalStamps::kernel) detail::askForArrivalStamps(socket_.get());
  }

  bool send(std::span<const std::uint8_t> message, const kelvo::SocketAddress& to) override {
    sockaddr_in target{};
    static_assert(sizeof target == sizeof to);
    std::memcpy(&target, &to, sizeof target);
    const auto sent = kelvo::retryInterrupted([&] {
      return ::sendto(socket_.get(), message.data(), message.size(), 0,
                      reinterpret_cast<const sockaddr*>(&target), sizeof target);
    });
    return sent >= 0 && static_cast<std::size_t>(sent) == message.size();
  }

  // recvmsg rather than recvfrom: only its flags tell that the datagram was
  // cut to the buffer, and a cut datagram must not pass for a short one.
  std::optional<ReceivedDatagram> receive(std::span<std::uint8_t> buffer,
                                          kelvo::SocketAddress& source) override {
    sockaddr_in sender{};
    iovec part{buffer.data(), buffer.size()};
    msghdr message{};
    message.msg_name = &sender;
    message.msg_namelen = sizeof sender;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    detail::StampControl control;
    detail::expectStamp(message, control);
    const auto count =
        kelvo::retryInterrupted([&] { return ::recvmsg(socket_.get(), &message, MSG_DONTWAIT); });
    if (count <= 0 || (message.msg_flags & MSG_TRUNC) != 0) return std::nullopt;
    const std::uint64_t waited = detail::waitedSinceArrival(message);
    source = kelvo::SocketAddress{};
    source.family = sender.sin_family;
    source.port = sender.sin_port;
    source.address = sender.sin_addr.s_addr;
    return ReceivedDatagram{static_cast<std::size_t>(count), waited};
  }

  void waitReadable(std::uint32_t timeoutMs) override {
    kelvo::waitReady(socket_.get(), kelvo::waitReadable, timeoutMs);
  }

 private:
  kelvo::OwnedFd socket_;
};

}  // namespace

std::unique_ptr<RawIcmpChannel> openRawIcmpChannel(ArrivalStamps stamps) {
  return std::make_unique<RawSocketChannel>(stamps);
}

std::uint16_t processIdentifier() noexcept {
  return static_cast<std::uint16_t>(::getpid() & 0xFFFF);
}

}  // namespace zelvor
