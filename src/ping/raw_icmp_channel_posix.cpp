// The raw ICMP channel on Linux raw sockets: the IPv4 one hands over each
// datagram whole, IP header first, and on loopback also shows our own
// requests going out; the ICMPv6 one hands over the message alone, and
// lets in only the types the engine reads.
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <optional>
#include <string>

#include "net/socket.hpp"
#include "ping/arrival_stamp_posix.hpp"
#include "ping/icmp_packet.hpp"
#include "ping/raw_icmp_channel.hpp"
#include "ping/system_address_posix.hpp"
#include "support/failure.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor {

namespace {

int openRawSocket(int domain, int protocol) {
  return ::socket(domain, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol);
}

// Echo replies and the errors the reply table maps, from the same table
// that judges them; echo requests stay out (on loopback they are our own,
// and nobody else's concern us).
icmp6_filter engineTypesOnly() {
  icmp6_filter filter;
  ICMP6_FILTER_SETBLOCKALL(&filter);
  for (const ReplyType& known : replyTypes) {
    if (known.family == IcmpFamily::v6 && known.kind != ReplyKind::ownRequest) {
      ICMP6_FILTER_SETPASS(known.type, &filter);
    }
  }
  return filter;
}

template <class Option>
bool setOption(int fd, int level, int name, const Option& value) {
  return ::setsockopt(fd, level, name, &value, sizeof value) == 0;
}

bool sendTo(int fd, std::span<const std::uint8_t> message, const HostAddress& to) {
  const detail::SystemAddress target = detail::systemAddressOf(to);
  const auto sent = kelvo::retryInterrupted(
      [&] { return ::sendto(fd, message.data(), message.size(), 0, target.get(), target.length); });
  return sent >= 0 && static_cast<std::size_t>(sent) == message.size();
}

// recvmsg rather than recvfrom: only its flags tell that the datagram was
// cut to the buffer, and a cut datagram must not pass for a short one.
std::optional<ReceivedDatagram> receiveFrom(int fd, std::span<std::uint8_t> buffer,
                                            HostAddress& source) {
  sockaddr_storage sender{};
  iovec part{buffer.data(), buffer.size()};
  msghdr message{};
  message.msg_name = &sender;
  message.msg_namelen = sizeof sender;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  detail::StampControl control;
  detail::expectStamp(message, control);
  const auto count = kelvo::retryInterrupted([&] { return ::recvmsg(fd, &message, MSG_DONTWAIT); });
  if (count <= 0 || (message.msg_flags & MSG_TRUNC) != 0) return std::nullopt;
  source = detail::hostAddressOf(sender);
  return ReceivedDatagram{static_cast<std::size_t>(count), detail::waitedSinceArrival(message)};
}

class RawSocketChannel final : public RawIcmpChannel {
 public:
  // Throws the refusal text when no raw socket is to be had: any failure,
  // not only EPERM and EACCES, since the caller can do nothing but report
  // it.
  explicit RawSocketChannel(ArrivalStamps stamps)
      : stamps_(stamps), socket_(openRawSocket(AF_INET, IPPROTO_ICMP)) {
    if (!socket_.valid()) throw kelvo::Failure(rawSocketRefusedText);
    if (!setOption(socket_.get(), IPPROTO_IP, IP_TTL, int{255})) {
      throw kelvo::Failure(rawSocketSetupText);
    }
    if (stamps == ArrivalStamps::kernel) detail::askForArrivalStamps(socket_.get());
  }

  bool send(std::span<const std::uint8_t> message, const HostAddress& to) override {
    if (to.family == IcmpFamily::v4) {
      sentV4_ = true;
      return sendTo(socket_.get(), message, to);
    }
    return openV6() && sendTo(v6_->get(), message, to);
  }

  // Until an IPv4 request has gone out, nothing on the IPv4 socket can be
  // ours: a run over IPv6 alone leaves it unread rather than pay a failed
  // receive on it at every turn of the engine's loop.
  std::optional<ReceivedDatagram> receive(std::span<std::uint8_t> buffer,
                                          HostAddress& source) override {
    if (readsV4()) {
      if (auto received = receiveFrom(socket_.get(), buffer, source)) return received;
    }
    if (!v6_) return std::nullopt;
    return receiveFrom(v6_->get(), buffer, source);
  }

  void waitReadable(std::uint32_t timeoutMs) override {
    if (!v6_) {
      kelvo::waitReady(socket_.get(), kelvo::waitReadable, timeoutMs);
      return;
    }
    // The engine's waits are slices it repeats, so an interrupted wait may
    // end early. An unread IPv4 socket stays out, or its strangers' datagrams
    // would end every wait at once.
    pollfd both[] = {{v6_->get(), POLLIN, 0}, {socket_.get(), POLLIN, 0}};
    ::poll(both, readsV4() ? 2 : 1,
           static_cast<int>(std::min<std::uint32_t>(timeoutMs, 0x7FFFFFFF)));
  }

 private:
  // Without an ICMPv6 socket the IPv4 one is the channel's only one.
  bool readsV4() const { return sentV4_ || !v6_; }

  // The ICMPv6 socket, opened at the first send to an IPv6 address. One that
  // cannot be opened or set up is tried again at the next such send.
  bool openV6() {
    if (v6_) return true;
    kelvo::OwnedFd opened(openRawSocket(AF_INET6, IPPROTO_ICMPV6));
    if (!opened.valid() || !setOption(opened.get(), IPPROTO_IPV6, IPV6_UNICAST_HOPS, int{255}) ||
        !setOption(opened.get(), IPPROTO_ICMPV6, ICMP6_FILTER, engineTypesOnly())) {
      return false;
    }
    if (stamps_ == ArrivalStamps::kernel) detail::askForArrivalStamps(opened.get());
    v6_.emplace(std::move(opened));
    return true;
  }

  ArrivalStamps stamps_;
  kelvo::OwnedFd socket_;
  std::optional<kelvo::OwnedFd> v6_;
  bool sentV4_ = false;
};

}  // namespace

std::unique_ptr<RawIcmpChannel> openRawIcmpChannel(ArrivalStamps stamps) {
  return std::make_unique<RawSocketChannel>(stamps);
}

std::uint16_t processIdentifier() noexcept {
  return static_cast<std::uint16_t>(::getpid() & 0xFFFF);
}

}  // namespace zelvor
