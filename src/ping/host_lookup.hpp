// The hosts of a run, resolved before its first request: a lookup that
// blocks while requests are in flight delays the reading of their replies,
// and so every round trip measured across it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "net/socket.hpp"
#include "support/sync.hpp"

namespace zelvor {

// Resolves a host text to an IPv4 address: kelvo::resolveAddress in the
// program, a table in tests. Called from several threads at once.
using Resolver = std::function<bool(const char* host, kelvo::SocketAddress& address)>;

// Enough lookups at once that a list of hundreds of names starts within a
// few lookup times, few enough that the system's resolver is not flooded.
inline constexpr std::uint32_t defaultLookupsAtOnce = 8;

// The address of each server's host, in server order; nothing for a host
// that does not resolve, or that was never looked up because `stop` was
// set first. Each distinct host text is looked up once, the first
// occurrences first, with up to `atOnce` lookups running together (on the
// calling thread and on threads of its own; fewer when no more threads can
// be made). Once `stop` is set no lookup starts; those already running are
// waited for, since they use the resolver and the results.
std::vector<std::optional<kelvo::SocketAddress>> resolveHosts(
    const std::vector<ServerEntry>& servers, const Resolver& resolve, std::uint32_t atOnce,
    kelvo::Event& stop);

}  // namespace zelvor
