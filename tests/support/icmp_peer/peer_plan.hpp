// What the ICMP test peer answers, per destination address: the plan read
// from its command line, and the packets one request turns into under it.
#pragma once

#include <cstdint>
#include <random>
#include <span>
#include <stdexcept>
#include <string_view>
#include <vector>

#include "host_behaviour.hpp"
#include "peer_packet.hpp"

namespace zelvor::test {

// What one host does. Of the peer's words (parseBehaviour), "late" is reply by
// another name, unreachable and expired take no delay and so answer at once,
// and none gives sendFails.
struct Behaviour {
  HostBehaviour action = HostBehaviour::reply;
  std::uint32_t delayMs = 0;
  Ipv4 router = 0;                // expired only
  std::uint32_t spreadMs = 0;     // far only: the most a reply comes after delayMs
  std::uint32_t lossPercent = 0;  // far only: the chance of a drop, 0 to 100
  bool operator==(const Behaviour&) const = default;
};

// The addresses first..last (inclusive) and what they do.
struct HostRule {
  Ipv4 first = 0;
  Ipv4 last = 0;
  Behaviour behaviour;
  bool operator==(const HostRule&) const = default;
};

inline constexpr std::uint32_t maxDelayMs = 600'000;
inline constexpr std::uint32_t maxLifetimeSeconds = 3600;
inline constexpr std::uint32_t defaultLifetimeSeconds = 60;
inline constexpr std::uint32_t defaultSeed = 1;

struct PeerPlan {
  std::vector<HostRule> hosts;  // in command-line order; the last match wins
  Behaviour fallback;           // for the test host ranges; like a kernel: reply:0
  std::uint32_t lifetimeSeconds = defaultLifetimeSeconds;
  std::uint32_t seed = defaultSeed;  // of the draws of "far", so that a run can be repeated
};

// A command line the peer cannot follow; what() says why, naming the argument.
class PlanError : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

// 198.18.0.0/15, the only network the peer answers from or to.
bool inTestNetwork(Ipv4 address);
// 198.18.1.0 to 198.18.3.255, where the namespace harness makes every
// address a host, and so where the fallback applies.
bool inTestHostRanges(Ipv4 address);

// "reply:MS", "late:MS", "drop", "foreign:MS", "twice:MS", "unreachable",
// "expired:ROUTER", "options:MS" or "far:MS:SPREAD:LOSSPERCENT". Throws
// PlanError.
Behaviour parseBehaviour(std::string_view text);
// "ADDR=BEHAVIOUR" where ADDR is one address or a last-octet range such as
// "198.18.2.1-200", inside the test network. Throws PlanError.
HostRule parseHostRule(std::string_view text);
// The arguments after the program name: --host RULE (repeatable), --default
// BEHAVIOUR, --lifetime SECONDS, --seed NUMBER, each also as --name=value.
// Throws PlanError.
PeerPlan parsePeerArguments(std::span<const std::string_view> arguments);

// What the plan says for requests to `destination`, or null when the peer
// stays silent because the address is neither listed nor a test host.
const Behaviour* behaviourFor(const PeerPlan& plan, Ipv4 destination);

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

// The packets that answer `request` under `behaviour`, in the order they are
// due. `identification` goes into the IP header of each, so that the two
// copies of "twice" are alike to the byte. "far" is meant to be drawn first;
// undrawn, it answers like "reply" after its least delay.
std::vector<OutgoingPacket> answerRequest(const Behaviour& behaviour, const EchoRequest& request,
                                          std::uint16_t identification);

}  // namespace zelvor::test
