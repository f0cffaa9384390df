// zelvor_icmp_peer: answers ICMP echo requests inside a test network
// namespace as its command-line plan says, so that tests can meet slow,
// silent, duplicating, foreign and failing hosts on a real network path.
//
// One raw ICMP socket per family receives the requests (the kernel's own echo
// answers are switched off in that namespace); a second raw socket per family
// that takes whole IP packets sends the answers, so they can come from any
// address and carry IP options or IPv6 extension headers. Delayed answers wait
// in a queue ordered by due time, and the single thread sleeps in ppoll until
// the next is due or a request arrives.
#include <arpa/inet.h>
#include <linux/icmp.h>
#include <netinet/icmp6.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <initializer_list>
#include <iostream>
#include <optional>
#include <queue>
#include <span>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "peer_packet.hpp"
#include "peer_plan.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor::test {
namespace {

using Clock = std::chrono::steady_clock;

// Whatever the plan asks, no run sends more than this many packets.
constexpr std::uint64_t maxPacketsPerRun = 100'000;
// How many queued requests one wake-up reads before it looks at the queue
// again, so that a flood cannot make due answers late without bound.
constexpr int maxReadsPerWake = 64;
constexpr int receiveBufferBytes = 4 << 20;

constexpr std::string_view usage =
    "usage: zelvor_icmp_peer [--host ADDR=BEHAVIOUR]... [--default BEHAVIOUR] "
    "[--lifetime SECONDS] [--seed NUMBER]\n"
    "  ADDR: 198.18.x.y or a last-octet range 198.18.x.y-z, inside 198.18.0.0/15,\n"
    "        or 2001:db8:x::y or a last-group range 2001:db8:x::y-z (hex), inside\n"
    "        2001:db8::/32\n"
    "  BEHAVIOUR: reply:MS late:MS drop foreign:MS twice:MS unreachable\n"
    "             unreachable:prohibited expired:ROUTER options:MS\n"
    "             far:MS:SPREAD:LOSSPERCENT\n"
    "  ROUTER is of the host's family; options over IPv6 is a destination\n"
    "  options header before the reply.\n"
    "  far: each request is lost LOSSPERCENT times in 100, else answered after MS\n"
    "  plus 0 to SPREAD ms, mostly little, as drawn from --seed (default 1).\n"
    "  --default applies to 198.18.1.0-198.18.3.255 and 2001:db8:1::/64 to\n"
    "  2001:db8:3::/64 when no --host matches (default reply:0);\n"
    "  the last matching --host wins. --lifetime defaults to 60 (at most 3600).\n"
    "Prints \"ready\" once listening; exits 0 when the lifetime is over.\n";

volatile std::sig_atomic_t stopRequested = 0;

void requestStop(int) { stopRequested = 1; }

std::string errnoText(const char* what) { return std::string(what) + ": " + std::strerror(errno); }

// glibc's headers leave out this option of linux/in6.h: it hands over the
// traffic class and flow label of each packet, for an error's quote.
constexpr int ipv6FlowInfo = 11;

void switchOn(int socket, int level, int option, const char* name) {
  const int on = 1;
  if (::setsockopt(socket, level, option, &on, sizeof on) != 0) {
    throw std::runtime_error(errnoText(name));
  }
}

// The raw socket that sees every incoming echo request, and nothing else.
kelvo::OwnedFd openReceiver() {
  kelvo::OwnedFd socket(::socket(AF_INET, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP));
  if (!socket.valid()) throw std::runtime_error(errnoText("raw ICMP socket"));
  icmp_filter filter{};
  filter.data = ~(1U << ICMP_ECHO);  // a set bit filters that type out
  if (::setsockopt(socket.get(), SOL_RAW, ICMP_FILTER, &filter, sizeof filter) != 0) {
    throw std::runtime_error(errnoText("ICMP_FILTER"));
  }
  // Delays count from the kernel's arrival stamp, not from when the peer got
  // round to reading. Asking for stamps also switches them on machine-wide
  // for the peer's whole life: the kernel does that lazily, in deferred work,
  // so a client that asks for them only just before its first reply would
  // get that reply stamped when read, milliseconds late on a quiet machine.
  const int on = 1;
  if (::setsockopt(socket.get(), SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof on) != 0) {
    throw std::runtime_error(errnoText("SO_TIMESTAMPNS"));
  }
  // A burst of requests from a test must not be lost before the peer reads it.
  ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes,
               sizeof receiveBufferBytes);
  return socket;
}

// The same for ICMPv6, which keeps the IPv6 header from its reader: what an
// error quotes of it comes in ancillary data. Not valid when the kernel has no
// IPv6; the peer then answers IPv4 alone.
kelvo::OwnedFd openReceiver6() {
  kelvo::OwnedFd socket(
      ::socket(AF_INET6, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMPV6));
  if (!socket.valid()) {
    if (errno == EAFNOSUPPORT) return socket;
    throw std::runtime_error(errnoText("raw ICMPv6 socket"));
  }
  icmp6_filter filter{};
  ICMP6_FILTER_SETBLOCKALL(&filter);
  ICMP6_FILTER_SETPASS(ICMP6_ECHO_REQUEST, &filter);
  if (::setsockopt(socket.get(), IPPROTO_ICMPV6, ICMP6_FILTER, &filter, sizeof filter) != 0) {
    throw std::runtime_error(errnoText("ICMP6_FILTER"));
  }
  switchOn(socket.get(), IPPROTO_IPV6, IPV6_RECVPKTINFO, "IPV6_RECVPKTINFO");
  switchOn(socket.get(), IPPROTO_IPV6, IPV6_RECVHOPLIMIT, "IPV6_RECVHOPLIMIT");
  switchOn(socket.get(), IPPROTO_IPV6, ipv6FlowInfo, "IPV6_FLOWINFO");
  switchOn(socket.get(), SOL_SOCKET, SO_TIMESTAMPNS, "SO_TIMESTAMPNS");
  ::setsockopt(socket.get(), SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferBytes,
               sizeof receiveBufferBytes);
  return socket;
}

// The raw socket whose sends carry a whole IP header of the peer's making.
kelvo::OwnedFd openSender() {
  kelvo::OwnedFd socket(::socket(AF_INET, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
  if (!socket.valid()) throw std::runtime_error(errnoText("raw IP socket"));
  const int on = 1;
  if (::setsockopt(socket.get(), IPPROTO_IP, IP_HDRINCL, &on, sizeof on) != 0) {
    throw std::runtime_error(errnoText("IP_HDRINCL"));
  }
  return socket;
}

// The same for IPv6: a raw socket of protocol IPPROTO_RAW takes the IPv6
// header from its sender.
kelvo::OwnedFd openSender6() {
  kelvo::OwnedFd socket(::socket(AF_INET6, SOCK_RAW | SOCK_CLOEXEC, IPPROTO_RAW));
  if (!socket.valid()) throw std::runtime_error(errnoText("raw IPv6 socket"));
  return socket;
}

// The IPv6 half of hasDefaultRoute below. The kernel lists a rejecting
// default of its own in every namespace; only one that forwards counts.
bool hasDefaultRoute6() {
  std::ifstream routes("/proc/self/net/ipv6_route");
  if (!routes) return false;  // a kernel without IPv6
  constexpr unsigned long rejecting = 0x0200;
  std::string line;
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string destination;
    std::string prefixLength;
    std::string source;
    std::string sourceLength;
    std::string nextHop;
    std::string metric;
    std::string references;
    std::string use;
    std::string flags;
    fields >> destination >> prefixLength >> source >> sourceLength >> nextHop >> metric >>
        references >> use >> flags;
    if (destination != std::string(32, '0') || prefixLength != "00") continue;
    if (flags.empty()) return true;  // a line it cannot read: as if it were one
    if ((std::stoul(flags, nullptr, 16) & rejecting) == 0) return true;
  }
  return false;
}

// The peer belongs in a closed test namespace. A default route means the
// namespace reaches beyond the test network, as the machine's own does, so the
// peer will not start there; nor when it cannot tell.
bool hasDefaultRoute() {
  std::ifstream routes("/proc/self/net/route");
  if (!routes) return true;
  std::string line;
  std::getline(routes, line);  // column names
  while (std::getline(routes, line)) {
    std::istringstream fields(line);
    std::string interface;
    std::string destination;
    std::string gateway;
    std::string flags;
    std::string references;
    std::string use;
    std::string metric;
    std::string mask;
    fields >> interface >> destination >> gateway >> flags >> references >> use >> metric >> mask;
    if (destination == "00000000" && mask == "00000000") return true;
  }
  return hasDefaultRoute6();
}

using Destination = std::variant<Ipv4, Ipv6>;

// Answers not yet due, earliest first; equal times keep their order.
class ReplyQueue {
 public:
  void push(Clock::time_point due, Destination destination, Bytes bytes) {
    queue_.push(Entry{due, next_++, destination, std::move(bytes)});
  }
  bool empty() const noexcept { return queue_.empty(); }
  Clock::time_point nextDue() const { return queue_.top().due; }
  // Removes and returns the earliest entry; only when not empty.
  std::pair<Destination, Bytes> pop() {
    Entry entry = queue_.top();
    queue_.pop();
    return {entry.destination, std::move(entry.bytes)};
  }

 private:
  struct Entry {
    Clock::time_point due;
    std::uint64_t order;
    Destination destination;
    Bytes bytes;
  };
  struct Later {
    bool operator()(const Entry& a, const Entry& b) const noexcept {
      return a.due != b.due ? a.due > b.due : a.order > b.order;
    }
  };
  std::priority_queue<Entry, std::vector<Entry>, Later> queue_;
  std::uint64_t next_ = 0;
};

class Peer {
 public:
  explicit Peer(PeerPlan plan) : plan_(std::move(plan)) {}

  int run(const sigset_t& waitMask) {
    const Clock::time_point end = Clock::now() + std::chrono::seconds(plan_.lifetimeSeconds);
    std::cout << "ready" << std::endl;
    while (stopRequested == 0) {
      const Clock::time_point now = Clock::now();
      if (now >= end) break;
      sendDue(now);
      const Clock::time_point wake = queue_.empty() ? end : std::min(end, queue_.nextDue());
      const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(wake - Clock::now());
      timespec timeout{};
      if (left.count() > 0) {
        timeout.tv_sec = static_cast<time_t>(left.count() / 1'000'000'000);
        timeout.tv_nsec = static_cast<long>(left.count() % 1'000'000'000);
      }
      std::array<pollfd, 2> entries{pollfd{receiver_.get(), POLLIN, 0},
                                    pollfd{receiver6_.get(), POLLIN, 0}};
      const nfds_t watched = receiver6_.valid() ? 2 : 1;
      const int ready = ::ppoll(entries.data(), watched, &timeout, &waitMask);
      if (ready < 0 && errno != EINTR) throw std::runtime_error(errnoText("ppoll"));
      if (ready > 0 && entries[0].revents != 0) readRequests();
      if (ready > 0 && watched == 2 && entries[1].revents != 0) readRequests6();
    }
    std::cerr << "zelvor_icmp_peer: " << requests_ << " requests, " << sent_ << " packets sent, "
              << sendFailures_ << " sends failed, the latest send "
              << std::chrono::duration_cast<std::chrono::microseconds>(maxLateness_).count()
              << " us after it was due" << (budgetSpent_ ? ", packet limit reached" : "") << '\n';
    return 0;
  }

 private:
  void readRequests() {
    std::array<std::uint8_t, 65536> buffer;
    for (int read = 0; read < maxReadsPerWake; ++read) {
      Clock::time_point arrived;
      const std::optional<std::size_t> got = receive(buffer, arrived);
      if (!got) return;
      const std::optional<EchoRequest> request = parseEchoRequest(ByteView(buffer.data(), *got));
      // Only test hosts talk to test hosts: nothing is ever sent elsewhere.
      if (!request || !inTestNetwork(request->source)) continue;
      const Behaviour* behaviour = behaviourFor(plan_, request->destination);
      if (behaviour == nullptr) continue;
      ++requests_;
      schedule(arrived,
               answerRequest(drawBehaviour(*behaviour, random_), *request, nextIdentification()));
    }
  }

  void readRequests6() {
    std::array<std::uint8_t, 65536> buffer;
    for (int read = 0; read < maxReadsPerWake; ++read) {
      Clock::time_point arrived;
      Ipv6Arrival arrival;
      const std::optional<std::size_t> got = receive6(buffer, arrived, arrival);
      if (!got) return;
      const std::optional<EchoRequest6> request =
          parseEchoRequest6(arrival, ByteView(buffer.data(), *got));
      if (!request || !inTestNetwork(request->source)) continue;
      const Behaviour* behaviour = behaviourFor(plan_, request->destination);
      if (behaviour == nullptr) continue;
      ++requests_;
      schedule(arrived, answerRequest(drawBehaviour(*behaviour, random_), *request));
    }
  }

  template <typename Packet>
  void schedule(Clock::time_point arrived, std::vector<Packet> packets) {
    for (Packet& packet : packets) {
      if (scheduled_ >= maxPacketsPerRun) {
        budgetSpent_ = true;
        break;
      }
      ++scheduled_;
      queue_.push(arrived + std::chrono::milliseconds(packet.delayMs), packet.destination,
                  std::move(packet.bytes));
    }
  }

  // The size of the next waiting packet, nothing when none waits. `arrived`
  // is when the kernel took it in, on the peer's clock.
  std::optional<std::size_t> receive(std::span<std::uint8_t> buffer, Clock::time_point& arrived) {
    iovec io{buffer.data(), buffer.size()};
    alignas(cmsghdr) std::array<char, CMSG_SPACE(sizeof(timespec))> control{};
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t got = ::recvmsg(receiver_.get(), &message, 0);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return std::nullopt;
      throw std::runtime_error(errnoText("recvmsg"));
    }
    arrived = arrivalTime(message);
    return static_cast<std::size_t>(got);
  }

  // The same for IPv6, with what the kernel tells of the IPv6 header.
  std::optional<std::size_t> receive6(std::span<std::uint8_t> buffer, Clock::time_point& arrived,
                                      Ipv6Arrival& arrival) {
    iovec io{buffer.data(), buffer.size()};
    alignas(cmsghdr) std::array<char, 256> control{};
    sockaddr_in6 from{};
    msghdr message{};
    message.msg_name = &from;
    message.msg_namelen = sizeof from;
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control.data();
    message.msg_controllen = control.size();
    const ssize_t got = ::recvmsg(receiver6_.get(), &message, 0);
    if (got < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return std::nullopt;
      throw std::runtime_error(errnoText("recvmsg"));
    }
    arrived = arrivalTime(message);
    std::memcpy(arrival.source.data(), &from.sin6_addr, arrival.source.size());
    bool sawDestination = false;
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
         part = CMSG_NXTHDR(&message, part)) {
      if (part->cmsg_level != IPPROTO_IPV6) continue;
      if (part->cmsg_type == IPV6_PKTINFO) {
        in6_pktinfo info{};
        std::memcpy(&info, CMSG_DATA(part), sizeof info);
        std::memcpy(arrival.destination.data(), &info.ipi6_addr, arrival.destination.size());
        sawDestination = true;
      } else if (part->cmsg_type == IPV6_HOPLIMIT) {
        int hopLimit = 0;
        std::memcpy(&hopLimit, CMSG_DATA(part), sizeof hopLimit);
        arrival.hopLimit = static_cast<std::uint8_t>(hopLimit);
      } else if (part->cmsg_type == ipv6FlowInfo) {
        std::uint32_t flowInfo = 0;  // in network order
        std::memcpy(&flowInfo, CMSG_DATA(part), sizeof flowInfo);
        arrival.flowInfo = ntohl(flowInfo) & 0x0FFFFFFF;
      }
    }
    // Without its destination a request cannot be answered from it: dropped.
    if (!sawDestination) arrival.destination = Ipv6{};
    return static_cast<std::size_t>(got);
  }

  // When the kernel took in the packet just read, on the peer's clock.
  static Clock::time_point arrivalTime(msghdr& message) {
    Clock::time_point arrived = Clock::now();
    timespec wallNow{};
    ::clock_gettime(CLOCK_REALTIME, &wallNow);
    for (cmsghdr* part = CMSG_FIRSTHDR(&message); part != nullptr;
         part = CMSG_NXTHDR(&message, part)) {
      if (part->cmsg_level != SOL_SOCKET || part->cmsg_type != SCM_TIMESTAMPNS) continue;
      timespec stamp{};
      std::memcpy(&stamp, CMSG_DATA(part), sizeof stamp);
      const auto age = toDuration(wallNow) - toDuration(stamp);
      // The stamp is on the wall clock; a step of that clock must not move answers.
      if (age >= std::chrono::nanoseconds::zero() && age < std::chrono::seconds(1)) {
        arrived -= age;
      }
    }
    return arrived;
  }

  static std::chrono::nanoseconds toDuration(const timespec& time) {
    return std::chrono::seconds(time.tv_sec) + std::chrono::nanoseconds(time.tv_nsec);
  }

  void sendDue(Clock::time_point now) {
    while (!queue_.empty() && queue_.nextDue() <= now) {
      // How late the peer itself was, for telling its delays from the client's
      // when a test sees a slow answer.
      maxLateness_ = std::max(maxLateness_, now - queue_.nextDue());
      const auto [destination, bytes] = queue_.pop();
      const ssize_t sent = std::holds_alternative<Ipv4>(destination)
                               ? send(std::get<Ipv4>(destination), bytes)
                               : send(std::get<Ipv6>(destination), bytes);
      if (sent == static_cast<ssize_t>(bytes.size())) {
        ++sent_;
      } else if (sendFailures_++ < 10) {
        std::cerr << "zelvor_icmp_peer: " << errnoText("sendto") << " (to "
                  << (std::holds_alternative<Ipv4>(destination)
                          ? formatIpv4(std::get<Ipv4>(destination))
                          : formatIpv6(std::get<Ipv6>(destination)))
                  << ")\n";
      }
    }
  }

  ssize_t send(Ipv4 destination, const Bytes& bytes) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = htonl(destination);
    return ::sendto(sender_.get(), bytes.data(), bytes.size(), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

  ssize_t send(const Ipv6& destination, const Bytes& bytes) {
    sockaddr_in6 to{};
    to.sin6_family = AF_INET6;
    std::memcpy(&to.sin6_addr, destination.data(), destination.size());
    return ::sendto(sender6_.get(), bytes.data(), bytes.size(), 0,
                    reinterpret_cast<const sockaddr*>(&to), sizeof to);
  }

  // Never 0, which the kernel would replace with one of its own choosing.
  std::uint16_t nextIdentification() {
    identification_ =
        static_cast<std::uint16_t>(identification_ == 0xFFFF ? 1 : identification_ + 1);
    return identification_;
  }

  const PeerPlan plan_;
  kelvo::OwnedFd receiver_ = openReceiver();
  kelvo::OwnedFd sender_ = openSender();
  kelvo::OwnedFd receiver6_ = openReceiver6();
  kelvo::OwnedFd sender6_ = receiver6_.valid() ? openSender6() : kelvo::OwnedFd(-1);
  ReplyQueue queue_;
  PeerRandom random_{plan_.seed};
  std::uint16_t identification_ = 0;
  std::uint64_t requests_ = 0;
  std::uint64_t scheduled_ = 0;
  std::uint64_t sent_ = 0;
  std::uint64_t sendFailures_ = 0;
  bool budgetSpent_ = false;
  Clock::duration maxLateness_{};
};

int runPeer(int argc, char** argv) {
  std::vector<std::string_view> arguments(argv + 1, argv + argc);
  for (std::string_view argument : arguments) {
    if (argument == "--help" || argument == "-h") {
      std::cout << usage;
      return 0;
    }
  }
  PeerPlan plan;
  try {
    plan = parsePeerArguments(arguments);
  } catch (const PlanError& error) {
    std::cerr << "zelvor_icmp_peer: " << error.what() << '\n' << usage;
    return 2;
  }
  if (hasDefaultRoute()) {
    std::cerr << "zelvor_icmp_peer: refusing to run in a network namespace with a default route; "
                 "start it through tests/netns/netns-run\n";
    return 1;
  }

  // Stop signals are held back except while waiting, so that one cannot slip
  // in between the check of stopRequested and the wait.
  struct sigaction action {};
  action.sa_handler = requestStop;
  sigemptyset(&action.sa_mask);
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    ::sigaction(signal, &action, nullptr);
    sigaddset(&stopSignals, signal);
  }
  sigset_t waitMask;
  ::sigprocmask(SIG_BLOCK, &stopSignals, &waitMask);

  // Wake from ppoll when asked, not up to 50 us later.
  ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);

  try {
    Peer peer(std::move(plan));
    return peer.run(waitMask);
  } catch (const std::exception& error) {
    std::cerr << "zelvor_icmp_peer: " << error.what() << '\n';
    return 1;
  }
}

}  // namespace
}  // namespace zelvor::test

int main(int argc, char** argv) { return zelvor::test::runPeer(argc, argv); }
