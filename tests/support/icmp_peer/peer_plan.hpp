// What the ICMP test peer answers, per destination address: the plan read
// from its command line, and the packets one request turns into under it.
#pragma once

#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "host_behaviour.hpp"
#include "peer_packet.hpp"

namespace zelvor::test {

// What one host does, whichever its family. Of the peer's words
// (parseBehaviour), "late" is reply by another name, unreachable and expired
// take no delay and so answer at once, and none gives sendFails.
struct Behaviour {
  HostBehaviour action = HostBehaviour::reply;
  std::uint32_t delayMs = 0;
  Ipv4 router = 0;                // expired only, when the router is an IPv4 address
  std::uint32_t spreadMs = 0;     // far only: the most a reply comes after delayMs
  std::uint32_t lossPercent = 0;  // far only: the chance of a drop, 0 to 100
  std::optional<Ipv6> router6{};  // expired only, when the router is an IPv6 address
  // unreachable only: "administratively prohibited" rather than the
  // host (IPv4) or address (IPv6) being unreachable.
  bool prohibited = false;
  bool operator==(const Behaviour&) const = default;
};

// The addresses first..last (inclusive) and what they do.
struct HostRule {
  Ipv4 first = 0;
  Ipv4 last = 0;
  Behaviour behaviour;
  bool operator==(const HostRule&) const = default;
};

// The same for IPv6 hosts.
struct HostRule6 {
  Ipv6 first{};
  Ipv6 last{};
  Behaviour behaviour;
  bool operator==(const HostRule6&) const = default;
};

inline constexpr std::uint32_t maxDelayMs = 600'000;
inline constexpr std::uint32_t maxLifetimeSeconds = 3600;
inline constexpr std::uint32_t defaultLifetimeSeconds = 60;
inline constexpr std::uint32_t defaultSeed = 1;

struct PeerPlan {
  std::vector<HostRule> hosts;    // in command-line order; the last match wins
  std::vector<HostRule6> hosts6;  // the same for IPv6
  Behaviour fallback;             // for the test host ranges of both; like a kernel: reply:0
  std::uint32_t lifetimeSeconds = defaultLifetimeSeconds;
  std::uint32_t seed = defaultSeed;  // of the draws of "far", so that a run can be repeated
};

// A command line the peer cannot follow; what() says why, naming the argument.
class PlanError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// 198.18.0.0/15 and 2001:db8::/32, the only networks the peer answers from or to.
bool inTestNetwork(Ipv4 address);
bool inTestNetwork(const Ipv6& address);
// 198.18.1.0 to 198.18.3.255, and 2001:db8:1::/64 to 2001:db8:3::/64, where
// the namespace harness makes every address a host, and so where the fallback
// applies.
bool inTestHostRanges(Ipv4 address);
bool inTestHostRanges(const Ipv6& address);

// "reply:MS", "late:MS", "drop", "foreign:MS", "twice:MS", "unreachable",
// "unreachable:prohibited", "expired:ROUTER" (an IPv4 or IPv6 address),
// "options:MS" or "far:MS:SPREAD:LOSSPERCENT". Throws PlanError.
Behaviour parseBehaviour(std::string_view text);
// "ADDR=BEHAVIOUR" where ADDR is one address or a last-octet range such as
// "198.18.2.1-200", inside the test network. Throws PlanError.
HostRule parseHostRule(std::string_view text);
// The same for IPv6, where a range ends in the last group, in hex like the
// address: "2001:db8:2::1-200" is 2001:db8:2::1 to 2001:db8:2::200. The
// behaviour's router, if any, must be IPv6 too. Throws PlanError.
HostRule6 parseHostRule6(std::string_view text);
// The arguments after the program name: --host RULE (repeatable, either
// family, told apart by the colons of IPv6), --default
// BEHAVIOUR, --lifetime SECONDS, --seed NUMBER, each also as --name=value.
// Throws PlanError.
PeerPlan parsePeerArguments(std::span<const std::string_view> arguments);

// What the plan says for requests to `destination`, or null when the peer
// stays silent because the address is neither listed nor a test host.
// The fallback serves both families, so a fallback of "expired" answers a
// host of the other family than its router from that host itself.
const Behaviour* behaviourFor(const PeerPlan& plan, Ipv4 destination);
const Behaviour* behaviourFor(const PeerPlan& plan, const Ipv6& destination);

// The generator of the peer's draws, seeded from the plan.
using PeerRandom = std::mt19937;

// What one request meets: "far" becomes a drop lossPercent times in a hundred,
// and otherwise a reply after delayMs plus a share of spreadMs. The share is
// the square of an even draw, so half the replies come within a quarter of the
// spread and a few near its end, as on a path where queues are mostly short.
// Every other behaviour is returned as it is, and draws nothing.
Behaviour drawBehaviour(const Behaviour& behaviour, PeerRandom& random);

// One packet to send, ready for a raw socket that takes the IP header.
struct OutgoingPacket {
  std::uint32_t delayMs = 0;  // after the request arrived
  Ipv4 destination = 0;
  Bytes bytes;
};

// The same for a raw IPv6 socket that takes the IPv6 header.
struct OutgoingPacket6 {
  std::uint32_t delayMs = 0;
  Ipv6 destination{};
  Bytes bytes;
};

// The packets that answer `request` under `behaviour`, in the order they are
// due. `identification` goes into the IP header of each, so that the two
// copies of "twice" are alike to the byte. "far" is meant to be drawn first;
// undrawn, it answers like "reply" after its least delay.
std::vector<OutgoingPacket> answerRequest(const Behaviour& behaviour, const EchoRequest& request,
                                          std::uint16_t identification);
// The same over IPv6, where "options" puts a destination options header of
// padding before the reply, and "unreachable" is destination unreachable with
// code 3 (address unreachable) or 1 (administratively prohibited).
std::vector<OutgoingPacket6> answerRequest(const Behaviour& behaviour, const EchoRequest6& request);

}  // namespace zelvor::test
