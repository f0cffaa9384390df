// The echo service on the kernel's ping sockets (SOCK_DGRAM, IPPROTO_ICMP or
// IPPROTO_ICMPV6): no privilege needed, only membership of
// net.ipv4.ping_group_range, which governs both families. The kernel fills
// in the identifier (the socket's own port) and the checksum, hands each
// socket only the replies carrying its identifier, and gives them without
// the IP header.
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "ping/arrival_stamp_posix.hpp"
#include "ping/echo_service.hpp"
#include "ping/icmp_wire.hpp"
#include "ping/system_address_posix.hpp"
#include "support/failure.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor {

namespace {

constexpr std::int64_t nsPerMs = 1000000;

// Shared by every handle, so that echoes running at once on several threads
// never carry the same sequence even if the kernel gave two of them the
// same identifier in turn.
std::atomic<std::uint16_t> nextSequence{0};

std::int64_t monotonicNs() noexcept {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000000000 + now.tv_nsec;
}

int openPingSocket(IcmpFamily family) {
  const bool v6 = family == IcmpFamily::v6;
  return ::socket(v6 ? int{AF_INET6} : int{AF_INET}, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC,
                  v6 ? int{IPPROTO_ICMPV6} : int{IPPROTO_ICMP});
}

// One pending report from the error queue: a destination-unreachable or
// time-exceeded answer to our request, or a local failure to send it.
// Reading it clears the socket's readiness for errors.
void takeQueuedError(int fd) {
  std::uint8_t quoted[64];
  std::uint8_t control[256];
  sockaddr_storage offender{};
  iovec part{quoted, sizeof quoted};
  msghdr message{};
  message.msg_name = &offender;
  message.msg_namelen = sizeof offender;
  message.msg_iov = &part;
  message.msg_iovlen = 1;
  message.msg_control = control;
  message.msg_controllen = sizeof control;
  kelvo::retryInterrupted([&] { return ::recvmsg(fd, &message, MSG_ERRQUEUE | MSG_DONTWAIT); });
}

class PingSocketHandle final : public EchoHandle {
 public:
  explicit PingSocketHandle(IcmpFamily family) noexcept
      : family_(family), socket_(openPingSocket(family)) {}

  bool valid() const noexcept { return socket_.valid(); }

  // Without IP_RECVERR (IPV6_RECVERR) the kernel keeps no report of an
  // unreachable or time-exceeded answer for us, and the echo would wait out
  // its time-out.
  bool reportErrors() noexcept {
    const int on = 1;
    if (family_ == IcmpFamily::v6) {
      return ::setsockopt(socket_.get(), IPPROTO_IPV6, IPV6_RECVERR, &on, sizeof on) == 0;
    }
    return ::setsockopt(socket_.get(), IPPROTO_IP, IP_RECVERR, &on, sizeof on) == 0;
  }

  void stampArrivals() noexcept { detail::askForArrivalStamps(socket_.get()); }

  EchoOutcome echo(const HostAddress& address, std::span<const std::uint8_t> data,
                   std::uint32_t timeoutMs) override {
    const bool v6 = family_ == IcmpFamily::v6;
    const std::uint16_t sequence = nextSequence.fetch_add(1, std::memory_order_relaxed);
    // Network byte order: the kernel passes the sequence on as it stands.
    std::vector<std::uint8_t> request(icmp::headerSize + data.size());
    request[icmp::typeAt] = v6 ? icmp6::echoRequest : icmp::echoRequest;
    icmp::writeBig16(request, icmp::sequenceAt, sequence);
    std::copy(data.begin(), data.end(), request.begin() + icmp::headerSize);

    const detail::SystemAddress target = detail::systemAddressOf(address);
    const std::int64_t sentAt = monotonicNs();
    const auto sent = kelvo::retryInterrupted([&] {
      return ::sendto(socket_.get(), request.data(), request.size(), 0, target.get(),
                      target.length);
    });
    if (sent < 0 || static_cast<std::size_t>(sent) != request.size()) return {};

    // One byte more than a matching reply: a longer one then shows by its
    // length. Ping sockets, unlike UDP, ignore MSG_TRUNC in recv's flags and
    // report only what they copied.
    std::vector<std::uint8_t> reply(request.size() + 1);
    const std::int64_t deadline = sentAt + static_cast<std::int64_t>(timeoutMs) * nsPerMs;
    for (;;) {
      const std::int64_t left = deadline - monotonicNs();
      if (left <= 0) return {};
      const std::int64_t waitMs = std::min<std::int64_t>((left + nsPerMs - 1) / nsPerMs, INT_MAX);
      pollfd entry{socket_.get(), POLLIN, 0};
      const int ready = ::poll(&entry, 1, static_cast<int>(waitMs));
      if (ready < 0 && errno != EINTR) return {};
      if (ready <= 0) continue;
      if ((entry.revents & POLLERR) != 0) {
        takeQueuedError(socket_.get());
        return {};
      }
      if ((entry.revents & POLLIN) == 0) return {};
      iovec part{reply.data(), reply.size()};
      msghdr message{};
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      detail::StampControl control;
      detail::expectStamp(message, control);
      const auto length =
          kelvo::retryInterrupted([&] { return ::recvmsg(socket_.get(), &message, 0); });
      if (length < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) continue;
        return {};
      }
      // The wait is read first: a moment lost between the two clock readings
      // then makes the reply late, never earlier than it came.
      const auto waited = static_cast<std::int64_t>(detail::waitedSinceArrival(message));
      const std::int64_t receivedAt = monotonicNs() - waited;
      if (static_cast<std::size_t>(length) == request.size() &&
          reply[icmp::typeAt] == (v6 ? icmp6::echoReply : icmp::echoReply) &&
          icmp::readBig16(reply, icmp::sequenceAt) == sequence &&
          std::equal(data.begin(), data.end(), reply.begin() + icmp::headerSize)) {
        return {true, static_cast<std::uint32_t>((receivedAt - sentAt) / nsPerMs)};
      }
    }
  }

 private:
  IcmpFamily family_;
  kelvo::OwnedFd socket_;
};

class PingSocketService final : public EchoService {
 public:
  explicit PingSocketService(ArrivalStamps stamps) noexcept : stamps_(stamps) {}

  std::unique_ptr<EchoHandle> open(IcmpFamily family) override {
    auto handle = std::make_unique<PingSocketHandle>(family);
    if (!handle->valid() || !handle->reportErrors()) return nullptr;
    if (stamps_ == ArrivalStamps::kernel) handle->stampArrivals();
    return handle;
  }

 private:
  ArrivalStamps stamps_;
};

}  // namespace

// A probe socket settles at once whether the kernel lets our group open
// ping sockets; it is closed again straight away. Any failure counts as a
// refusal: without ping sockets the run can measure nothing this way.
std::shared_ptr<EchoService> bindEchoService(ArrivalStamps stamps) {
  const kelvo::OwnedFd probe(openPingSocket(IcmpFamily::v4));
  if (!probe.valid()) throw kelvo::Failure(echoServiceRefusedText);
  return std::make_shared<PingSocketService>(stamps);
}

}  // namespace zelvor
