// The raw ICMP channel and the ping-socket echo service against the real
// kernel. Everything that sends runs only inside a network namespace of its
// own with nothing but loopback (tests/netns/in-fresh-netns makes one), so
// no packet can leave the machine; elsewhere those cases skip.
//
// Some cases silence the kernel's own echo replies in that namespace and
// answer the echo service themselves through the raw channel: that is how
// they reach the waiting, matching and error paths that a loopback reply,
// always there within a millisecond, never takes.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <fstream>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "ping/arrival_stamp_posix.hpp"
#include "ping/echo_service.hpp"
#include "ping/icmp_packet.hpp"
#include "ping/icmp_wire.hpp"
#include "ping/raw_icmp_channel.hpp"
#include "support/failure.hpp"
#include "support/owned_fd_posix.hpp"

namespace zelvor {
namespace {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;

constexpr std::size_t ipHeaderSize = 20;  // what the kernel writes: no options
constexpr int capNetRaw = 13;

HostAddress loopbackAddress() { return {IcmpFamily::v4, {127, 0, 0, 1}}; }
HostAddress loopback6Address() {
  HostAddress address{IcmpFamily::v6, {}};
  address.bytes[15] = 1;
  return address;
}

// Addresses from the benchmarking block and the documentation range, which
// have no route in a namespace that has only loopback.
HostAddress unroutedAddress() { return {IcmpFamily::v4, {198, 18, 77, 77}}; }
HostAddress unrouted6Address() {
  return {IcmpFamily::v6, {0x20, 0x01, 0x0d, 0xb8, 0, 0x77, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x77}};
}

long long elapsedMs(Clock::time_point since) {
  return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

// An echo request or reply with its checksum: type, code 0, identifier and
// sequence in network order, then `payload`.
Bytes echoMessage(std::uint8_t type, std::uint16_t identifier, std::uint16_t sequence,
                  const Bytes& payload) {
  // Sized once: GCC 12 at -O3 misreads an insert at the end of a fresh
  // vector as a write out of bounds.
  Bytes message(icmp::headerSize + payload.size(), 0);
  message[icmp::typeAt] = type;
  icmp::writeBig16(message, icmp::identifierAt, identifier);
  icmp::writeBig16(message, icmp::sequenceAt, sequence);
  std::copy(payload.begin(), payload.end(), message.begin() + icmp::headerSize);
  icmp::fillChecksum(message);
  return message;
}

// A router's answer to `offending`, a whole datagram: its IP header and the
// first 8 bytes of what it carried, as routers quote.
Bytes errorMessage(std::uint8_t type, std::uint8_t code, const Bytes& offending) {
  Bytes message(icmp::headerSize, 0);
  message[icmp::typeAt] = type;
  message[icmp::codeAt] = code;
  const std::size_t quoted = std::min(offending.size(), ipHeaderSize + icmp::headerSize);
  message.insert(message.end(), offending.begin(), offending.begin() + quoted);
  icmp::fillChecksum(message);
  return message;
}

Bytes patternPayload(std::size_t size, std::uint8_t seed) {
  Bytes payload(size);
  for (std::size_t i = 0; i < size; ++i) payload[i] = static_cast<std::uint8_t>(seed + 7 * i);
  return payload;
}

Bytes icmpPart(const Bytes& datagram) {
  return Bytes(datagram.begin() + ipHeaderSize, datagram.end());
}

// Datagrams from the channel until `wanted` accepts one or `timeoutMs`
// passes; the accepted one, whole.
std::optional<Bytes> awaitDatagram(RawIcmpChannel& channel,
                                   const std::function<bool(const Bytes&)>& wanted,
                                   std::uint32_t timeoutMs) {
  const auto deadline = Clock::now() + milliseconds(timeoutMs);
  Bytes buffer(1500);
  HostAddress source;
  while (Clock::now() < deadline) {
    const auto left = std::chrono::ceil<milliseconds>(deadline - Clock::now()).count();
    channel.waitReadable(static_cast<std::uint32_t>(std::max<long long>(left, 0)));
    while (const auto received = channel.receive(buffer, source)) {
      Bytes datagram(buffer.begin(),
                     buffer.begin() + static_cast<std::ptrdiff_t>(received->length));
      if (datagram.size() >= ipHeaderSize + 8 && wanted(datagram)) return datagram;
    }
  }
  return std::nullopt;
}

bool isEchoRequest(const Bytes& datagram) { return datagram[ipHeaderSize] == icmp::echoRequest; }

// Whether this process runs in a network namespace other than the one it
// was started from, whose only interface is loopback: then nothing sent here
// leaves the machine, and the namespace's settings are ours to change. The
// parent stands for the machine's namespace since in-fresh-netns execs into
// its new one; init's is not always open to us, even as root.
bool inFreshNamespace() {
  struct stat ours {};
  struct stat parents {};
  const std::string parentNamespace = "/proc/" + std::to_string(getppid()) + "/ns/net";
  if (stat("/proc/self/ns/net", &ours) != 0 || stat(parentNamespace.c_str(), &parents) != 0) {
    return false;
  }
  if (ours.st_dev == parents.st_dev && ours.st_ino == parents.st_ino) return false;
  struct if_nameindex* interfaces = if_nameindex();
  if (interfaces == nullptr) return false;
  bool onlyLoopback = true;
  for (const struct if_nameindex* entry = interfaces; entry->if_index != 0; ++entry) {
    if (std::string(entry->if_name) != "lo") onlyLoopback = false;
  }
  if_freenameindex(interfaces);
  return onlyLoopback;
}

bool hasEffectiveCapability(int capability) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("CapEff:", 0) == 0) {
      return ((std::stoull(line.substr(7), nullptr, 16) >> capability) & 1) != 0;
    }
  }
  return false;
}

class FreshNetns : public testing::Test {
 protected:
  void SetUp() override {
    if (!inFreshNamespace()) {
      GTEST_SKIP() << "sends ICMP: run only in a network namespace of its own with only "
                      "loopback, through tests/netns/in-fresh-netns";
    }
  }
};

// Keeps the kernel from answering echo requests in this namespace while it
// lives, so that the test alone answers them.
class KernelEchoesSilenced {
 public:
  KernelEchoesSilenced() { write("1"); }
  ~KernelEchoesSilenced() { write("0"); }
  KernelEchoesSilenced(const KernelEchoesSilenced&) = delete;
  KernelEchoesSilenced& operator=(const KernelEchoesSilenced&) = delete;

 private:
  static void write(const char* value) {
    std::ofstream setting("/proc/sys/net/ipv4/icmp_echo_ignore_all");
    setting << value;
    setting.flush();
    if (!setting) throw std::runtime_error("cannot set net.ipv4.icmp_echo_ignore_all");
  }
};

// One echo on a thread of its own, so that the test can answer it.
class BackgroundEcho {
 public:
  BackgroundEcho(EchoHandle& handle, HostAddress address, Bytes data, std::uint32_t timeoutMs)
      : data_(std::move(data)),
        started_(Clock::now()),
        thread_([this, &handle, address, timeoutMs] {
          outcome_ = handle.echo(address, data_, timeoutMs);
          tookMs_ = elapsedMs(started_);
          done_.store(true);
        }) {}
  ~BackgroundEcho() {
    if (thread_.joinable()) thread_.join();
  }
  BackgroundEcho(const BackgroundEcho&) = delete;
  BackgroundEcho& operator=(const BackgroundEcho&) = delete;

  bool done() const { return done_.load(); }
  // Interrupts whatever call the echo is waiting in; no-op once it is done.
  void interrupt() {
    if (!done()) pthread_kill(thread_.native_handle(), SIGUSR1);
  }
  EchoOutcome finish() {
    thread_.join();
    return outcome_;
  }
  // Valid after finish.
  long long tookMs() const { return tookMs_; }

 private:
  const Bytes data_;
  const Clock::time_point started_;
  EchoOutcome outcome_;
  long long tookMs_ = -1;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// SIGUSR1 caught by a handler that does nothing, without SA_RESTART: each
// one ends the system call it lands in with EINTR.
class InterruptingSignal {
 public:
  InterruptingSignal() {
    struct sigaction action {};
    action.sa_handler = [](int) {};
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &previous_);
  }
  ~InterruptingSignal() { sigaction(SIGUSR1, &previous_, nullptr); }
  InterruptingSignal(const InterruptingSignal&) = delete;
  InterruptingSignal& operator=(const InterruptingSignal&) = delete;

 private:
  struct sigaction previous_ {};
};

// SIGUSR1 caught by a handler that keeps the thread it lands on away for
// `sleepMs`, as a busy machine keeps a thread from running; `asleep()` tells
// when it has begun.
class SleepingSignal {
 public:
  explicit SleepingSignal(long sleepMs) {
    sleepMs_ = sleepMs;
    asleep_.store(false);
    struct sigaction action {};
    action.sa_handler = [](int) {
      asleep_.store(true);
      const timespec pause{sleepMs_ / 1000, (sleepMs_ % 1000) * 1000000};
      nanosleep(&pause, nullptr);
    };
    sigemptyset(&action.sa_mask);
    sigaction(SIGUSR1, &action, &previous_);
  }
  ~SleepingSignal() { sigaction(SIGUSR1, &previous_, nullptr); }
  SleepingSignal(const SleepingSignal&) = delete;
  SleepingSignal& operator=(const SleepingSignal&) = delete;

  static bool asleep() { return asleep_.load(); }

 private:
  static inline std::atomic<bool> asleep_{false};
  static inline long sleepMs_ = 0;
  struct sigaction previous_ {};
};

struct StampCase {
  const char* name;
  ArrivalStamps stamps;
};

// The kernel turns arrival stamps on through deferred work the first time a
// socket asks for them (and off again after the last one closes); until that
// work has run, datagrams are stamped only as they are read. Holds a stamped
// UDP socket on loopback for its life, and is made only once a datagram it
// sent itself shows a stamp older than its read.
class ArrivalStampsOn {
 public:
  ArrivalStampsOn() : socket_(::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0)) {
    if (!socket_.valid() || !zelvor::detail::askForArrivalStamps(socket_.get()))
      throw std::runtime_error("cannot open a stamped UDP socket");
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof self;
    if (::bind(socket_.get(), reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
        ::getsockname(socket_.get(), reinterpret_cast<sockaddr*>(&self), &length) != 0)
      throw std::runtime_error("cannot bind the stamped UDP socket");
    for (int attempt = 0; attempt < 100; ++attempt) {
      const char probe = 'p';
      ::sendto(socket_.get(), &probe, 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof self);
      std::this_thread::sleep_for(milliseconds(10));
      char buffer = 0;
      iovec part{&buffer, 1};
      msghdr message{};
      message.msg_iov = &part;
      message.msg_iovlen = 1;
      zelvor::detail::StampControl control;
      zelvor::detail::expectStamp(message, control);
      if (::recvmsg(socket_.get(), &message, MSG_DONTWAIT) == 1 &&
          zelvor::detail::waitedSinceArrival(message) >= 5000000)
        return;
    }
    throw std::runtime_error("the kernel never stamped a datagram on arrival");
  }

 private:
  kelvo::OwnedFd socket_;
};

void PrintTo(const StampCase& c, std::ostream* out) { *out << c.name; }

const auto stampCases = testing::Values(StampCase{"Kernel", ArrivalStamps::kernel},
                                        StampCase{"None", ArrivalStamps::none});
const auto stampCaseName = [](const auto& info) { return std::string(info.param.name); };

// ---------------------------------------------------------------- raw channel

using RawChannel = FreshNetns;

TEST_F(RawChannel, SeesOurRequestAndTheKernelsReplyWholeWithIpHeaderFirst) {
  const auto channel = openRawIcmpChannel();
  const std::uint16_t identifier = processIdentifier();
  const Bytes payload = patternPayload(24, 0x41);
  const Bytes request = echoMessage(icmp::echoRequest, identifier, 0x5A17, payload);
  const auto started = Clock::now();
  ASSERT_TRUE(channel->send(request, loopbackAddress()));

  std::optional<Bytes> seenRequest;
  std::optional<Bytes> seenReply;
  Bytes buffer(1500);
  while ((!seenRequest || !seenReply) && elapsedMs(started) < 1000) {
    channel->waitReadable(100);
    HostAddress source;
    while (const auto received = channel->receive(buffer, source)) {
      const Bytes datagram(buffer.begin(),
                           buffer.begin() + static_cast<std::ptrdiff_t>(received->length));
      ASSERT_EQ(datagram.size(), ipHeaderSize + request.size());
      EXPECT_EQ(source, loopbackAddress());
      EXPECT_EQ(datagram[0], 0x45) << "IPv4 header of 20 bytes first";
      EXPECT_EQ(datagram[9], IPPROTO_ICMP);
      EXPECT_EQ((datagram[2] << 8) | datagram[3], static_cast<int>(datagram.size()));
      EXPECT_EQ(Bytes(datagram.begin() + 12, datagram.begin() + 16), (Bytes{127, 0, 0, 1}));
      if (datagram[ipHeaderSize] == icmp::echoRequest) {
        seenRequest = datagram;
      } else if (datagram[ipHeaderSize] == icmp::echoReply) {
        seenReply = datagram;
      }
    }
  }
  ASSERT_TRUE(seenRequest) << "our own request, as loopback delivers it";
  ASSERT_TRUE(seenReply) << "the kernel's echo reply";
  EXPECT_LT(elapsedMs(started), 1000);

  EXPECT_EQ(icmpPart(*seenRequest), request);
  EXPECT_EQ((*seenRequest)[8], 255) << "the channel sends with a time-to-live of 255";
  const Bytes reply = icmpPart(*seenReply);
  EXPECT_EQ(reply[1], 0);
  EXPECT_EQ(Bytes(reply.begin() + 4, reply.end()), Bytes(request.begin() + 4, request.end()))
      << "identifier, sequence and payload come back unchanged";
}

// The ICMPv6 socket gives the message alone, checksummed by the kernel, and
// lets in only what the engine reads: of a packet-too-big, a destination
// unreachable, our own request and the kernel's reply, the second and last.
TEST_F(RawChannel, Icmp6ComesAsTheMessageAloneAndOnlyOfTheTypesTheEngineReads) {
  const auto channel = openRawIcmpChannel();
  const auto message = [](std::uint8_t type) {
    Bytes bytes(icmp::headerSize + 40, 0);
    bytes[icmp::typeAt] = type;
    return bytes;
  };
  ASSERT_TRUE(channel->send(message(icmp6::packetTooBig), loopback6Address()));
  ASSERT_TRUE(channel->send(message(icmp6::destinationUnreachable), loopback6Address()));
  const EchoRequest request = buildEchoRequest(processIdentifier(), 0x5A17, 1234, IcmpFamily::v6);
  ASSERT_TRUE(channel->send(request, loopback6Address()));

  std::vector<std::uint8_t> types;
  std::optional<Bytes> reply;
  Bytes buffer(1500);
  const auto started = Clock::now();
  while (!reply && elapsedMs(started) < 1000) {
    channel->waitReadable(100);
    HostAddress source;
    while (const auto received = channel->receive(buffer, source)) {
      EXPECT_EQ(source, loopback6Address());
      types.push_back(buffer[icmp::typeAt]);
      if (buffer[icmp::typeAt] == icmp6::echoReply) {
        reply =
            Bytes(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(received->length));
      }
    }
  }
  EXPECT_EQ(types, (std::vector<std::uint8_t>{icmp6::destinationUnreachable, icmp6::echoReply}));
  ASSERT_TRUE(reply) << "the kernel's ICMPv6 echo reply";
  ASSERT_EQ(reply->size(), request.size());
  EXPECT_NE(icmp::readBig16(*reply, icmp::checksumAt), 0) << "the kernel checksummed our request";
  EXPECT_EQ(Bytes(reply->begin() + 4, reply->end()), Bytes(request.begin() + 4, request.end()));
  EXPECT_EQ(classifyIcmp6Reply(*reply, processIdentifier()).sequence, 0x5A17);
}

TEST_F(RawChannel, ReceiveWithNothingQueuedReturnsNothingAtOnce) {
  const auto channel = openRawIcmpChannel();
  std::atomic<bool> returned{false};
  std::optional<ReceivedDatagram> result = ReceivedDatagram{};
  std::thread receiver([&] {
    Bytes buffer(1500);
    HostAddress source;
    result = channel->receive(buffer, source);
    returned.store(true);
  });
  const auto started = Clock::now();
  while (!returned.load() && elapsedMs(started) < 1000)
    std::this_thread::sleep_for(milliseconds(5));
  const bool returnedAtOnce = returned.load();
  // A receive that blocks is woken by a datagram, so that the test ends.
  if (!returnedAtOnce) {
    channel->send(echoMessage(icmp::echoRequest, 1, 1, {}), loopbackAddress());
  }
  receiver.join();
  ASSERT_TRUE(returnedAtOnce) << "receive waited for a datagram";
  EXPECT_FALSE(result.has_value());
}

TEST_F(RawChannel, DatagramLargerThanTheBufferIsLostNotCut) {
  const auto channel = openRawIcmpChannel();
  const Bytes request =
      echoMessage(icmp::echoRequest, processIdentifier(), 0x0102, patternPayload(32, 9));
  ASSERT_TRUE(channel->send(request, loopbackAddress()));
  // Loopback queues our request and then the kernel's reply; give the reply
  // time to follow.
  channel->waitReadable(1000);
  std::this_thread::sleep_for(milliseconds(50));

  Bytes small(ipHeaderSize + 8);
  HostAddress source;
  EXPECT_FALSE(channel->receive(small, source).has_value());

  Bytes large(1500);
  const auto next = channel->receive(large, source);
  ASSERT_TRUE(next.has_value());
  EXPECT_EQ(next->length, ipHeaderSize + request.size());
  EXPECT_EQ(large[ipHeaderSize], icmp::echoReply) << "the request that did not fit is gone";
  EXPECT_FALSE(channel->receive(large, source).has_value());
}

class RawChannelStamps : public FreshNetns, public testing::WithParamInterface<StampCase> {};

TEST_P(RawChannelStamps, ReceiveTellsHowLongTheDatagramWaitedOnlyWhenStamped) {
  const ArrivalStampsOn stampsOn;
  const auto channel = openRawIcmpChannel(GetParam().stamps);
  const Bytes request = echoMessage(icmp::echoRequest, processIdentifier(), 0x0A0B, {});
  ASSERT_TRUE(channel->send(request, loopbackAddress()));
  channel->waitReadable(1000);
  std::this_thread::sleep_for(milliseconds(50));
  Bytes buffer(1500);
  HostAddress source;
  const auto received = channel->receive(buffer, source);
  ASSERT_TRUE(received.has_value());
  if (GetParam().stamps == ArrivalStamps::kernel) {
    EXPECT_GE(received->waitedNs, 50000000u);
    EXPECT_LT(received->waitedNs, 1000000000u);
  } else {
    EXPECT_EQ(received->waitedNs, 0u);
  }
}

INSTANTIATE_TEST_SUITE_P(KernelAndNone, RawChannelStamps, stampCases, stampCaseName);

TEST(RawChannelRefused, WithoutCapNetRaw) {
  if (hasEffectiveCapability(capNetRaw)) {
    GTEST_SKIP() << "this process may open raw sockets; run it without CAP_NET_RAW";
  }
  try {
    openRawIcmpChannel();
    FAIL() << "a raw channel opened without CAP_NET_RAW";
  } catch (const kelvo::Failure& text) {
    EXPECT_EQ(text, "Unable to setup winsock 2");
  }
}

// ------------------------------------------------------------- echo service

using PingSocketEcho = FreshNetns;

TEST_F(PingSocketEcho, EchoesLoopbackOfEitherFamilyWithinAMillisecondOrSo) {
  const auto service = bindEchoService();
  for (const HostAddress& loopback : {loopbackAddress(), loopback6Address()}) {
    const auto handle = service->open(loopback.family);
    ASSERT_NE(handle, nullptr);
    const auto outcome = handle->echo(loopback, patternPayload(32, 3), 1000);
    EXPECT_TRUE(outcome.replied);
    EXPECT_LE(outcome.roundTripMs, 1u);
  }
}

TEST_F(PingSocketEcho, HandlesEchoAtOnceOnSeveralThreads) {
  const auto service = bindEchoService();
  constexpr int threadCount = 8;
  constexpr int echoesEach = 5;
  std::atomic<int> replied{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < threadCount; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < echoesEach; ++i) {
        const auto handle = service->open(IcmpFamily::v4);
        if (handle == nullptr) continue;
        const auto payload =
            patternPayload(16 + static_cast<std::size_t>(t), static_cast<std::uint8_t>(t * 10 + i));
        if (handle->echo(loopbackAddress(), payload, 1000).replied) ++replied;
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(replied.load(), threadCount * echoesEach);
}

TEST_F(PingSocketEcho, UnroutedAddressOfEitherFamilyFailsAtOnce) {
  const auto service = bindEchoService();
  for (const HostAddress& unrouted : {unroutedAddress(), unrouted6Address()}) {
    const auto handle = service->open(unrouted.family);
    ASSERT_NE(handle, nullptr);
    const auto started = Clock::now();
    const auto outcome = handle->echo(unrouted, patternPayload(32, 5), 3000);
    EXPECT_FALSE(outcome.replied);
    EXPECT_LT(elapsedMs(started), 500);
  }
}

TEST_F(PingSocketEcho, NoReplyEndsAtTheTimeOutThoughSignalsInterruptTheWait) {
  const KernelEchoesSilenced silenced;
  const InterruptingSignal signal;
  const auto service = bindEchoService();
  const auto handle = service->open(IcmpFamily::v4);
  ASSERT_NE(handle, nullptr);
  BackgroundEcho echo(*handle, loopbackAddress(), patternPayload(32, 7), 300);
  // Signals until past the time-out: a wait that gave up at the first would
  // end near 40 ms, one that began its full time-out again at each would end
  // near 660 ms.
  for (int i = 0; i < 10 && !echo.done(); ++i) {
    std::this_thread::sleep_for(milliseconds(40));
    echo.interrupt();
  }
  const auto outcome = echo.finish();
  EXPECT_FALSE(outcome.replied);
  EXPECT_GE(echo.tookMs(), 300);
  EXPECT_LT(echo.tookMs(), 600);
}

TEST_F(PingSocketEcho, OnlyAnEchoReplyMatchingSequenceAndPayloadCounts) {
  const KernelEchoesSilenced silenced;
  const auto channel = openRawIcmpChannel();
  const auto service = bindEchoService();
  const auto handle = service->open(IcmpFamily::v4);
  ASSERT_NE(handle, nullptr);
  const Bytes payload = patternPayload(32, 11);
  BackgroundEcho echo(*handle, loopbackAddress(), payload, 3000);

  const auto sent = awaitDatagram(*channel, isEchoRequest, 1000);
  ASSERT_TRUE(sent) << "the service's request never showed on loopback";
  const Bytes request = icmpPart(*sent);
  EXPECT_EQ(request[1], 0);
  EXPECT_EQ(Bytes(request.begin() + 8, request.end()), payload);
  const std::uint16_t identifier = icmp::readBig16(request, icmp::identifierAt);
  const std::uint16_t sequence = icmp::readBig16(request, icmp::sequenceAt);
  Bytes otherPayload = payload;
  otherPayload.back() ^= 0xFF;
  Bytes longerPayload = payload;
  longerPayload.push_back(0);

  const auto to = loopbackAddress();
  ASSERT_TRUE(channel->send(
      echoMessage(icmp::echoReply, identifier, static_cast<std::uint16_t>(sequence + 1), payload),
      to));
  ASSERT_TRUE(channel->send(echoMessage(icmp::echoReply, identifier, sequence, otherPayload), to));
  ASSERT_TRUE(channel->send(echoMessage(icmp::echoReply, identifier, sequence, longerPayload), to));
  ASSERT_TRUE(channel->send(
      echoMessage(icmp::echoReply, identifier, sequence, Bytes(payload.begin(), payload.end() - 1)),
      to));
  std::this_thread::sleep_for(milliseconds(150));
  EXPECT_FALSE(echo.done()) << "a reply that is not ours ended the echo";

  ASSERT_TRUE(channel->send(echoMessage(icmp::echoReply, identifier, sequence, payload), to));
  const auto outcome = echo.finish();
  EXPECT_TRUE(outcome.replied);
  EXPECT_GE(outcome.roundTripMs, 150u);
  EXPECT_LT(outcome.roundTripMs, 1500u);
}

class PingSocketEchoStamps : public FreshNetns, public testing::WithParamInterface<StampCase> {};

// The echo's thread is kept away for 300 ms just before its reply comes:
// with stamps the reply is timed as it came, without as it was read.
TEST_P(PingSocketEchoStamps, ReplyReadLateIsTimedByItsArrivalOnlyWhenStamped) {
  const KernelEchoesSilenced silenced;
  const ArrivalStampsOn stampsOn;
  const SleepingSignal sleeping(300);
  const auto channel = openRawIcmpChannel();
  const auto service = bindEchoService(GetParam().stamps);
  const auto handle = service->open(IcmpFamily::v4);
  ASSERT_NE(handle, nullptr);
  const Bytes payload = patternPayload(32, 17);
  BackgroundEcho echo(*handle, loopbackAddress(), payload, 3000);
  const auto sent = awaitDatagram(*channel, isEchoRequest, 1000);
  ASSERT_TRUE(sent) << "the service's request never showed on loopback";
  const Bytes request = icmpPart(*sent);
  const std::uint16_t identifier = icmp::readBig16(request, icmp::identifierAt);
  const std::uint16_t sequence = icmp::readBig16(request, icmp::sequenceAt);

  echo.interrupt();
  const auto started = Clock::now();
  while (!SleepingSignal::asleep() && elapsedMs(started) < 1000)
    std::this_thread::sleep_for(milliseconds(1));
  ASSERT_TRUE(SleepingSignal::asleep());
  ASSERT_TRUE(channel->send(echoMessage(icmp::echoReply, identifier, sequence, payload),
                            loopbackAddress()));
  const auto outcome = echo.finish();
  ASSERT_TRUE(outcome.replied);
  if (GetParam().stamps == ArrivalStamps::kernel) {
    EXPECT_LT(outcome.roundTripMs, 150u);
  } else {
    EXPECT_GE(outcome.roundTripMs, 250u);
  }
}

INSTANTIATE_TEST_SUITE_P(KernelAndNone, PingSocketEchoStamps, stampCases, stampCaseName);

class PingSocketEchoErrors
    : public FreshNetns,
      public testing::WithParamInterface<std::pair<std::uint8_t, std::uint8_t>> {};

TEST_P(PingSocketEchoErrors, ErrorAnswerEndsTheEchoAtOnceWithoutReply) {
  const auto [type, code] = GetParam();
  const KernelEchoesSilenced silenced;
  const auto channel = openRawIcmpChannel();
  const auto service = bindEchoService();
  const auto handle = service->open(IcmpFamily::v4);
  ASSERT_NE(handle, nullptr);
  BackgroundEcho echo(*handle, loopbackAddress(), patternPayload(32, 13), 5000);

  const auto sent = awaitDatagram(*channel, isEchoRequest, 1000);
  ASSERT_TRUE(sent) << "the service's request never showed on loopback";
  ASSERT_TRUE(channel->send(errorMessage(type, code, *sent), loopbackAddress()));
  const auto outcome = echo.finish();
  EXPECT_FALSE(outcome.replied);
  EXPECT_LT(echo.tookMs(), 1500) << "the echo waited out its time-out";
}

INSTANTIATE_TEST_SUITE_P(
    HostUnreachableAndTimeExceeded, PingSocketEchoErrors,
    testing::Values(
        std::pair<std::uint8_t, std::uint8_t>{icmp::destinationUnreachable, icmp::hostUnreachable},
        std::pair<std::uint8_t, std::uint8_t>{icmp::timeExceeded, icmp::ttlExceededInTransit}));

TEST(EchoServiceRefused, WhenPingGroupRangeLeavesOurGroupsOut) {
  std::ifstream setting("/proc/sys/net/ipv4/ping_group_range");
  long long low = 0;
  long long high = 0;
  ASSERT_TRUE(setting >> low >> high);
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
  groups.resize(static_cast<std::size_t>(
      std::max(getgroups(static_cast<int>(groups.size()), groups.data()), 0)));
  groups.push_back(getegid());
  if (std::any_of(groups.begin(), groups.end(),
                  [&](gid_t group) { return group >= low && group <= high; })) {
    GTEST_SKIP() << "net.ipv4.ping_group_range " << low << "-" << high
                 << " admits one of our groups";
  }
  try {
    bindEchoService();
    FAIL() << "the echo service bound though ping sockets are refused";
  } catch (const kelvo::Failure& text) {
    EXPECT_EQ(text, "Unable to setup icmp.dll");
  }
}

}  // namespace
}  // namespace zelvor
