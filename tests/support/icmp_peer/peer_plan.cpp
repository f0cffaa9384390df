// Reading the peer's plan and applying it to one request. Every number has a
// ceiling, so that no plan can keep the peer busy beyond its lifetime.
#include "peer_plan.hpp"

#include <algorithm>
#include <charconv>
#include <functional>
#include <optional>
#include <string>

namespace zelvor::test {

namespace {

constexpr Ipv4 testNetwork = 0xC6120000;  // 198.18.0.0
constexpr Ipv4 testNetworkMask = 0xFFFE0000;
constexpr Ipv4 firstTestHost = 0xC6120100;                       // 198.18.1.0
constexpr Ipv4 lastTestHost = 0xC61203FF;                        // 198.18.3.255
constexpr Ipv6 firstTestHost6 = {0x20, 0x01, 0x0d, 0xb8, 0, 1};  // 2001:db8:1::
constexpr Ipv6 lastTestHost6 = {0x20, 0x01, 0x0d, 0xb8, 0,    3,    0,    0,
                                0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff};

// Of destination unreachable over IPv4: "communication administratively prohibited".
constexpr std::uint8_t communicationProhibited = 13;

std::optional<std::uint32_t> parseNumber(std::string_view text) {
  std::uint32_t value = 0;
  const char* end = text.data() + text.size();
  const std::from_chars_result parsed = std::from_chars(text.data(), end, value);
  if (text.empty() || parsed.ec != std::errc() || parsed.ptr != end) return std::nullopt;
  return value;
}

Ipv4 parseTestAddress(std::string_view text, std::string_view context) {
  const std::optional<Ipv4> address = parseIpv4(text);
  if (!address) {
    throw PlanError(std::string(context) + ": '" + std::string(text) + "' is no IPv4 address");
  }
  if (!inTestNetwork(*address)) {
    throw PlanError(std::string(context) + ": " + std::string(text) +
                    " is outside the test network 198.18.0.0/15");
  }
  return *address;
}

Ipv6 parseTestAddress6(std::string_view text, std::string_view context) {
  const std::optional<Ipv6> address = parseIpv6(text);
  if (!address) {
    throw PlanError(std::string(context) + ": '" + std::string(text) + "' is no IPv6 address");
  }
  if (!inTestNetwork(*address)) {
    throw PlanError(std::string(context) + ": " + std::string(text) +
                    " is outside the test network 2001:db8::/32");
  }
  return *address;
}

bool isIpv6Text(std::string_view text) { return text.find(':') != std::string_view::npos; }

// The last 16-bit group of an IPv6 range's end, written in hex.
std::optional<std::uint16_t> parseLastGroup(std::string_view text) {
  std::uint16_t value = 0;
  const char* end = text.data() + text.size();
  const std::from_chars_result parsed = std::from_chars(text.data(), end, value, 16);
  if (text.empty() || text.size() > 4 || parsed.ec != std::errc() || parsed.ptr != end) {
    return std::nullopt;
  }
  return value;
}

std::uint32_t parseDelay(std::string_view text, std::string_view behaviour) {
  const std::optional<std::uint32_t> ms = parseNumber(text);
  if (!ms || *ms > maxDelayMs) {
    throw PlanError("'" + std::string(behaviour) + "': the delay must be 0 to " +
                    std::to_string(maxDelayMs) + " milliseconds");
  }
  return *ms;
}

// "MS:SPREAD:LOSSPERCENT", the value of "far" in `behaviour`.
Behaviour parseFar(std::string_view value, std::string_view behaviour) {
  const std::size_t first = value.find(':');
  const std::size_t second = first == std::string_view::npos ? first : value.find(':', first + 1);
  if (second == std::string_view::npos) {
    throw PlanError("'" + std::string(behaviour) +
                    "' needs a delay, a spread and a loss, e.g. far:120:15:2");
  }
  Behaviour far{HostBehaviour::far, parseDelay(value.substr(0, first), behaviour), 0};
  const std::optional<std::uint32_t> spread =
      parseNumber(value.substr(first + 1, second - first - 1));
  if (!spread || *spread > maxDelayMs - far.delayMs) {
    throw PlanError("'" + std::string(behaviour) + "': delay and spread together must be at most " +
                    std::to_string(maxDelayMs) + " milliseconds");
  }
  const std::optional<std::uint32_t> loss = parseNumber(value.substr(second + 1));
  if (!loss || *loss > 100) {
    throw PlanError("'" + std::string(behaviour) + "': the loss must be 0 to 100 percent");
  }
  far.spreadMs = *spread;
  far.lossPercent = *loss;
  return far;
}

}  // namespace

bool inTestNetwork(Ipv4 address) { return (address & testNetworkMask) == testNetwork; }

bool inTestNetwork(const Ipv6& address) {
  return address[0] == 0x20 && address[1] == 0x01 && address[2] == 0x0d && address[3] == 0xb8;
}

bool inTestHostRanges(Ipv4 address) { return address >= firstTestHost && address <= lastTestHost; }

bool inTestHostRanges(const Ipv6& address) {
  return address >= firstTestHost6 && address <= lastTestHost6;
}

Behaviour parseBehaviour(std::string_view text) {
  const std::size_t colon = text.find(':');
  const std::string_view name = text.substr(0, colon);
  const bool hasValue = colon != std::string_view::npos;
  const std::string_view value = hasValue ? text.substr(colon + 1) : std::string_view();

  struct Timed {
    std::string_view name;
    HostBehaviour action;
  };
  constexpr Timed timed[] = {{"reply", HostBehaviour::reply},
                             {"late", HostBehaviour::reply},
                             {"foreign", HostBehaviour::foreign},
                             {"twice", HostBehaviour::twice},
                             {"options", HostBehaviour::options}};
  for (const Timed& entry : timed) {
    if (name != entry.name) continue;
    if (!hasValue) {
      throw PlanError("'" + std::string(text) + "' needs a delay, e.g. " + std::string(name) +
                      ":20");
    }
    return Behaviour{entry.action, parseDelay(value, text), 0};
  }
  if (name == "unreachable" && value == "prohibited") {
    Behaviour prohibited{HostBehaviour::unreachable, 0, 0};
    prohibited.prohibited = true;
    return prohibited;
  }
  if (name == "drop" || name == "unreachable") {
    if (hasValue) throw PlanError("'" + std::string(text) + "' takes no value but 'prohibited'");
    return Behaviour{name == "drop" ? HostBehaviour::drop : HostBehaviour::unreachable, 0, 0};
  }
  if (name == "expired") {
    if (!hasValue) {
      throw PlanError(
          "'" + std::string(text) +
          "' needs the router, e.g. expired:198.18.255.254 or expired:2001:db8:255::254");
    }
    Behaviour expired{HostBehaviour::expired, 0, 0};
    if (isIpv6Text(value)) {
      expired.router6 = parseTestAddress6(value, text);
    } else {
      expired.router = parseTestAddress(value, text);
    }
    return expired;
  }
  if (name == "far") return parseFar(value, text);
  throw PlanError("unknown behaviour '" + std::string(text) +
                  "' (reply:MS, late:MS, drop, foreign:MS, twice:MS, unreachable, "
                  "unreachable:prohibited, expired:ROUTER, options:MS, far:MS:SPREAD:LOSSPERCENT)");
}

HostRule parseHostRule(std::string_view text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    throw PlanError("--host '" + std::string(text) + "': expected ADDR=BEHAVIOUR");
  }
  std::string_view addresses = text.substr(0, equals);
  HostRule rule;
  rule.behaviour = parseBehaviour(text.substr(equals + 1));
  if (rule.behaviour.router6) {
    throw PlanError("--host '" + std::string(text) + "': an IPv4 host's router is IPv4 too");
  }
  const std::size_t dash = addresses.find('-');
  rule.first = parseTestAddress(addresses.substr(0, dash), text);
  rule.last = rule.first;
  if (dash != std::string_view::npos) {
    const std::optional<std::uint32_t> lastOctet = parseNumber(addresses.substr(dash + 1));
    if (!lastOctet || *lastOctet > 255 || *lastOctet < (rule.first & 0xFF)) {
      throw PlanError("--host '" + std::string(text) +
                      "': a range ends in a last octet no lower than its first, e.g. "
                      "198.18.2.1-200");
    }
    rule.last = (rule.first & 0xFFFFFF00) | *lastOctet;
  }
  return rule;
}

HostRule6 parseHostRule6(std::string_view text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) {
    throw PlanError("--host '" + std::string(text) + "': expected ADDR=BEHAVIOUR");
  }
  const std::string_view addresses = text.substr(0, equals);
  HostRule6 rule;
  rule.behaviour = parseBehaviour(text.substr(equals + 1));
  if (rule.behaviour.action == HostBehaviour::expired && !rule.behaviour.router6) {
    throw PlanError("--host '" + std::string(text) + "': an IPv6 host's router is IPv6 too");
  }
  const std::size_t dash = addresses.find('-');
  rule.first = parseTestAddress6(addresses.substr(0, dash), text);
  rule.last = rule.first;
  if (dash != std::string_view::npos) {
    const std::optional<std::uint16_t> lastGroup = parseLastGroup(addresses.substr(dash + 1));
    const auto firstGroup = static_cast<std::uint16_t>(rule.first[14] << 8 | rule.first[15]);
    if (!lastGroup || *lastGroup < firstGroup) {
      throw PlanError("--host '" + std::string(text) +
                      "': a range ends in a last group, in hex, no lower than its first, e.g. "
                      "2001:db8:2::1-200");
    }
    rule.last[14] = static_cast<std::uint8_t>(*lastGroup >> 8);
    rule.last[15] = static_cast<std::uint8_t>(*lastGroup);
  }
  return rule;
}

PeerPlan parsePeerArguments(std::span<const std::string_view> arguments) {
  PeerPlan plan;
  for (std::size_t at = 0; at < arguments.size(); ++at) {
    std::string_view option = arguments[at];
    std::string_view value;
    if (const std::size_t equals = option.find('=');
        option.starts_with("--") && equals != std::string_view::npos) {
      value = option.substr(equals + 1);
      option = option.substr(0, equals);
    } else if (option == "--host" || option == "--default" || option == "--lifetime" ||
               option == "--seed") {
      if (at + 1 == arguments.size()) throw PlanError(std::string(option) + " needs a value");
      value = arguments[++at];
    }

    if (option == "--host") {
      const std::string_view addresses = value.substr(0, value.find('='));
      if (isIpv6Text(addresses)) {
        plan.hosts6.push_back(parseHostRule6(value));
      } else {
        plan.hosts.push_back(parseHostRule(value));
      }
    } else if (option == "--default") {
      plan.fallback = parseBehaviour(value);
    } else if (option == "--lifetime") {
      const std::optional<std::uint32_t> seconds = parseNumber(value);
      if (!seconds || *seconds == 0 || *seconds > maxLifetimeSeconds) {
        throw PlanError("--lifetime must be 1 to " + std::to_string(maxLifetimeSeconds) +
                        " seconds, not '" + std::string(value) + "'");
      }
      plan.lifetimeSeconds = *seconds;
    } else if (option == "--seed") {
      const std::optional<std::uint32_t> seed = parseNumber(value);
      if (!seed) {
        throw PlanError("--seed must be a whole number from 0 to 4294967295, not '" +
                        std::string(value) + "'");
      }
      plan.seed = *seed;
    } else {
      throw PlanError("unknown argument '" + std::string(arguments[at]) + "'");
    }
  }
  return plan;
}

const Behaviour* behaviourFor(const PeerPlan& plan, Ipv4 destination) {
  for (auto rule = plan.hosts.rbegin(); rule != plan.hosts.rend(); ++rule) {
    if (destination >= rule->first && destination <= rule->last) return &rule->behaviour;
  }
  return inTestHostRanges(destination) ? &plan.fallback : nullptr;
}

const Behaviour* behaviourFor(const PeerPlan& plan, const Ipv6& destination) {
  for (auto rule = plan.hosts6.rbegin(); rule != plan.hosts6.rend(); ++rule) {
    if (destination >= rule->first && destination <= rule->last) return &rule->behaviour;
  }
  return inTestHostRanges(destination) ? &plan.fallback : nullptr;
}

Behaviour drawBehaviour(const Behaviour& behaviour, PeerRandom& random) {
  if (behaviour.action != HostBehaviour::far) return behaviour;
  if (std::uniform_int_distribution<std::uint32_t>(0, 99)(random) < behaviour.lossPercent) {
    return Behaviour{HostBehaviour::drop, 0, 0};
  }
  const double even = std::uniform_real_distribution<double>(0.0, 1.0)(random);
  // Some library versions can round the draw up to 1.0, past the spread.
  const auto share = static_cast<std::uint32_t>(even * even * (behaviour.spreadMs + 1.0));
  return Behaviour{HostBehaviour::reply, behaviour.delayMs + std::min(share, behaviour.spreadMs),
                   0};
}

namespace {

// What one family makes of each behaviour: its echo reply (with the
// identifier given), its destination unreachable, its time exceeded and its
// reply behind options.
struct FamilyAnswers {
  std::function<Bytes(std::uint16_t identifier)> echo;
  std::function<Bytes()> unreachable;
  std::function<Bytes()> expired;
  std::function<Bytes()> withOptions;
};

// The schedule of answers, the same for both families.
template <class Packet, class Address>
std::vector<Packet> scheduleAnswers(const Behaviour& behaviour, const Address& to,
                                    std::uint16_t identifier, const FamilyAnswers& answers) {
  const std::uint32_t ms = behaviour.delayMs;
  switch (behaviour.action) {
    case HostBehaviour::reply:
    case HostBehaviour::far:
      return {{ms, to, answers.echo(identifier)}};
    case HostBehaviour::drop:
    case HostBehaviour::sendFails:
      return {};
    case HostBehaviour::foreign:
      return {{ms, to, answers.echo(static_cast<std::uint16_t>(identifier ^ 0xFFFF))}};
    case HostBehaviour::twice: {
      Bytes packet = answers.echo(identifier);
      return {{ms, to, packet}, {2 * ms, to, std::move(packet)}};
    }
    case HostBehaviour::unreachable:
      return {{ms, to, answers.unreachable()}};
    case HostBehaviour::expired:
      return {{ms, to, answers.expired()}};
    case HostBehaviour::options:
      return {{ms, to, answers.withOptions()}};
  }
  return {};
}

}  // namespace

std::vector<OutgoingPacket> answerRequest(const Behaviour& behaviour, const EchoRequest& request,
                                          std::uint16_t identification) {
  IpHeaderFields header;
  header.source = request.destination;
  header.destination = request.source;
  header.identification = identification;
  // A kernel's echo reply keeps the request's type of service; its errors do not.
  header.tos = request.tos;

  const auto echo = [&](std::uint16_t identifier) {
    return buildIpPacket(header, buildEchoReply(identifier, request.sequence, request.payload));
  };
  const auto error = [&](std::uint8_t type, std::uint8_t code) {
    header.tos = 0;
    return buildIpPacket(header, buildIcmpError(type, code, request.quote));
  };
  const FamilyAnswers answers{
      echo,
      [&] {
        return error(icmp::destinationUnreachable,
                     behaviour.prohibited ? communicationProhibited : icmp::hostUnreachable);
      },
      [&] {
        header.source = behaviour.router6 ? request.destination : behaviour.router;
        return error(icmp::timeExceeded, icmp::ttlExceededInTransit);
      },
      [&] {
        const Bytes options = recordRouteOption(request.destination);
        header.options = options;
        return echo(request.identifier);
      }};
  return scheduleAnswers<OutgoingPacket>(behaviour, request.source, request.identifier, answers);
}

std::vector<OutgoingPacket6> answerRequest(const Behaviour& behaviour,
                                           const EchoRequest6& request) {
  Ipv6HeaderFields header;
  header.source = request.destination;
  header.destination = request.source;
  header.trafficClass = request.trafficClass;

  const auto echo = [&](std::uint16_t identifier) {
    return buildIpv6Packet(header, buildEchoReply6(identifier, request.sequence, request.payload));
  };
  const auto error = [&](std::uint8_t type, std::uint8_t code) {
    header.trafficClass = 0;
    return buildIpv6Packet(header, buildIcmpv6Error(type, code, request.quote));
  };
  const FamilyAnswers answers{echo,
                              [&] {
                                return error(icmp6::destinationUnreachable,
                                             behaviour.prohibited
                                                 ? icmp6::administrativelyProhibited
                                                 : icmp6::addressUnreachable);
                              },
                              [&] {
                                // A fallback's IPv4 router cannot speak for an IPv6 host: the host
                                // does.
                                header.source = behaviour.router6.value_or(request.destination);
                                return error(icmp6::timeExceeded, icmp6::hopLimitExceeded);
                              },
                              [&] {
                                const Bytes options = paddingDestinationOptions();
                                header.destinationOptions = options;
                                return echo(request.identifier);
                              }};
  return scheduleAnswers<OutgoingPacket6>(behaviour, request.source, request.identifier, answers);
}

}  // namespace zelvor::test
