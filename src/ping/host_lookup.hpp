// The hosts of a run, resolved before its first request: a lookup that
// blocks while requests are in flight delays the reading of their replies,
// and so every round trip measured across it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "ping/address_choice.hpp"
#include "support/sync.hpp"

namespace zelvor {

// Every address of a host text, both families from one lookup, none when it
// does not resolve: kelvo::resolveAddresses in the program, a table in
// tests. Called from several threads at once.
using Resolver = std::function<std::vector<HostAddress>(const char* host)>;

// Enough lookups at once that a list of hundreds of names starts within a
// few lookup times, few enough that the system's resolver is not flooded.
inline constexpr std::uint32_t defaultLookupsAtOnce = 8;

// The address of each server's host that `choice` takes among its
// addresses, in server order; nothing for a host that does not resolve,
// has no address the choice takes, or was never looked up because `stop`
// was set first. A host written as an address (kelvo::literalAddress) is
// that address, taken on the calling thread without the resolver, stop or
// not. Each distinct host name is looked up once, the first occurrences
// first, with up to `atOnce` lookups running together (on the calling
// thread and on threads of its own, never more threads than names; fewer
// when no more threads can be made). Once `stop` is set no lookup starts;
// those already running are waited for, since they use the resolver and
// the results.
std::vector<std::optional<HostAddress>> resolveHosts(const std::vector<ServerEntry>& servers,
                                                     const Resolver& resolve, IpChoice choice,
                                                     std::uint32_t atOnce, kelvo::Event& stop);

}  // namespace zelvor
