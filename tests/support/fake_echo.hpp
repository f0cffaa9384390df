// Scripted stand-ins for what the echo engines need of the system: a clock
// moved by hand, a simulated network behind the raw ICMP channel, and an
// echo service with planned outcomes. They make scheduling, matching and
// expiry exact and instant to test.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "host_behaviour.hpp"
#include "ping/echo_service.hpp"
#include "ping/host_lookup.hpp"
#include "ping/raw_icmp_channel.hpp"
#include "ping/run_state.hpp"
#include "support/sync.hpp"
#include "support/thread.hpp"

namespace zelvor::test {

// IPv4 address "a.b.c.d".
HostAddress ipv4(const std::string& dotted);
// IPv6 address in its text form, "::" allowed, no embedded IPv4.
HostAddress ipv6(const std::string& text);
// A dotted IPv4 address or an IPv6 text resolves as itself; anything else
// does not resolve.
std::vector<HostAddress> resolveLiteral(const char* host);

// Test host `n`: "198.18.1.n".
std::string host(int n);
// IPv6 test host `n`: "2001:db8:1::n".
std::string host6(int n);
// A server entry for each of `hosts`, in order.
std::vector<ServerEntry> serversOf(const std::vector<std::string>& hosts);
// Servers host(0) to host(count - 1).
std::vector<ServerEntry> numberedServers(int count);

class ManualClock : public Clock {
 public:
  std::uint32_t now() override { return now_; }
  void advance(std::uint32_t ms) { now_ += ms; }
  void set(std::uint32_t ms) { now_ = ms; }

 private:
  std::uint32_t now_ = 0;
};

struct HostPlan {
  HostBehaviour behaviour = HostBehaviour::reply;
  std::uint32_t delayMs = 0;
};

// A network of simulated hosts behind a RawIcmpChannel. Time passes only in
// waitReadable, which moves the clock to the next datagram or by the whole
// time-out, so a run takes no real time at all.
class FakeIcmpNetwork : public RawIcmpChannel {
 public:
  static constexpr const char* routerAddress = "198.18.255.254";
  static constexpr const char* router6Address = "2001:db8:ffff::fe";

  struct Sent {
    std::uint32_t time;
    HostAddress address;
    std::uint16_t sequence;
    std::vector<std::uint8_t> message;
  };

  explicit FakeIcmpNetwork(ManualClock& clock) : clock_(clock) {}

  // Hosts (IPv4 or IPv6) without a plan reply at once; an expired host
  // answers from routerAddress (router6Address). The peer's options and far
  // throw std::logic_error on send.
  void plan(const std::string& address, HostPlan plan) {
    plans_[resolveLiteral(address.c_str()).at(0)] = plan;
  }
  // Each send keeps the sender busy for `ms`: replies due meanwhile wait in
  // the socket, as on a loaded machine.
  void sendsTake(std::uint32_t ms) { sendMs_ = ms; }
  // Receives tell how long each datagram waited, as a kernel's arrival
  // stamps do.
  void stampArrivals() { stamps_ = true; }
  // Queues any datagram (IP header first; an ICMPv6 message alone) from
  // `source`, to arrive at `time`.
  void deliverAt(std::uint32_t time, std::vector<std::uint8_t> datagram, HostAddress source);

  const std::vector<Sent>& sent() const { return sent_; }
  const std::vector<std::uint32_t>& waits() const { return waits_; }

  bool send(std::span<const std::uint8_t> message, const HostAddress& to) override;
  std::optional<zelvor::ReceivedDatagram> receive(std::span<std::uint8_t> buffer,
                                                  HostAddress& source) override;
  void waitReadable(std::uint32_t timeoutMs) override;

  // An IPv4 datagram from `source` carrying `icmp`; `options` extra 4-byte
  // words of IP options. An IPv6 source gets `icmp` as it stands, as an
  // ICMPv6 socket gives it.
  static std::vector<std::uint8_t> datagram(const HostAddress& source,
                                            std::vector<std::uint8_t> icmp,
                                            std::size_t optionWords = 0);

 private:
  struct Pending {
    std::uint32_t due;
    std::uint64_t order;
    std::vector<std::uint8_t> datagram;
    HostAddress source;
  };

  ManualClock& clock_;
  std::map<HostAddress, HostPlan> plans_;
  std::vector<Pending> pending_;
  std::uint64_t nextOrder_ = 0;
  std::vector<Sent> sent_;
  std::vector<std::uint32_t> waits_;
  std::uint32_t sendMs_ = 0;
  bool stamps_ = false;
};

// Hands a channel that someone else owns to an engine that wants to own one.
class ChannelProxy : public RawIcmpChannel {
 public:
  explicit ChannelProxy(RawIcmpChannel& channel) : channel_(channel) {}
  bool send(std::span<const std::uint8_t> message, const HostAddress& to) override {
    return channel_.send(message, to);
  }
  std::optional<zelvor::ReceivedDatagram> receive(std::span<std::uint8_t> buffer,
                                                  HostAddress& source) override {
    return channel_.receive(buffer, source);
  }
  void waitReadable(std::uint32_t timeoutMs) override { channel_.waitReadable(timeoutMs); }

 private:
  RawIcmpChannel& channel_;
};

// A resolver over a table of names (address texts resolve as themselves),
// safe to call from several threads, that records every lookup.
class FakeResolver {
 public:
  struct Lookup {
    std::string host;
    std::thread::id thread;
    std::size_t sentBefore;  // what `sentSoFar` gave when the lookup began
  };

  // Adds `address` (IPv4 or IPv6 text) to the addresses of `host`, after
  // those it has.
  void name(const std::string& host, const std::string& address);
  // Each lookup moves `clock` on by `ms`, as a slow resolver takes time.
  void takes(ManualClock& clock, std::uint32_t ms);
  // How many requests have gone out, recorded with each lookup.
  void watch(std::function<std::size_t()> sentSoFar) { sentSoFar_ = std::move(sentSoFar); }
  // Each thread's first lookup waits (10 s at most) until `count` threads
  // are looking up at once.
  void gatherThreads(std::size_t count) { gatherCount_ = count; }
  // The `n`th lookup (from 1) sets `event` as it begins.
  void setOnLookup(std::size_t n, kelvo::Event& event);
  // Names n0.test to n(count - 1).test for host(0) to host(count - 1):
  // hosts that are looked up, where addresses would not be.
  std::vector<std::string> numberedNames(int count);

  zelvor::Resolver resolver();
  std::vector<Lookup> lookups() const;
  std::vector<std::string> hostsLookedUp() const;
  std::size_t threadCount() const;

 private:
  std::vector<HostAddress> resolve(const char* host);

  mutable std::mutex mutex_;
  std::condition_variable arrived_;
  std::map<std::string, std::vector<std::string>> names_;
  std::vector<Lookup> lookups_;
  std::set<std::thread::id> threads_;
  ManualClock* clock_ = nullptr;
  std::uint32_t takesMs_ = 0;
  std::function<std::size_t()> sentSoFar_;
  std::size_t gatherCount_ = 0;
  std::size_t setOn_ = 0;
  kelvo::Event* event_ = nullptr;
};

// An echo service with an outcome planned per address (a success of 7 ms
// when none is), recording every echo from any thread.
class FakeEchoService : public EchoService, public std::enable_shared_from_this<FakeEchoService> {
 public:
  struct Echo {
    std::thread::id thread;
    HostAddress address;
    std::vector<std::uint8_t> data;
    std::uint32_t timeoutMs;
  };

  void plan(const std::string& address, EchoOutcome outcome);
  // Every echo first sets `started`, then waits for `gate`.
  void holdEchoes(kelvo::Event* started, kelvo::Event* gate) {
    started_ = started;
    gate_ = gate;
  }
  void failOpens() { failOpens_ = true; }
  // Each thread's first echo waits (10 s at most) until `count` threads
  // have come, so that all are alive at once and none can take over the id
  // of one that ended.
  void gatherThreads(std::size_t count) { gatherCount_ = count; }

  std::vector<Echo> echoes() const;
  int openHandles() const;

  // Opens of each family, in order.
  std::vector<IcmpFamily> opened() const;

  std::unique_ptr<EchoHandle> open(IcmpFamily family) override;

 private:
  class Handle;
  void gather();

  mutable std::mutex mutex_;
  std::map<HostAddress, EchoOutcome> plans_;
  std::vector<Echo> echoes_;
  std::vector<IcmpFamily> opened_;
  int openHandles_ = 0;
  std::condition_variable arrived_;
  std::set<std::thread::id> gathered_;
  std::size_t gatherCount_ = 0;
  kelvo::Event* started_ = nullptr;
  kelvo::Event* gate_ = nullptr;
  bool failOpens_ = false;
};

}  // namespace zelvor::test
