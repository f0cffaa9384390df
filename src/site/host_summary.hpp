// A run's report boiled down per host, as the store keeps it beside the
// report for the history pages, and the compact form its round trips are
// stored in.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "site/store.hpp"

namespace zelvor::site {

// One summary per host, in the order the hosts first appear; a host whose
// lines a report splits in two is still one host of the run.
std::vector<HostSummary> hostSummaries(const ServerClass& measured);

// A run's summaries as the store keeps them, one value a run: per host, in
// order, the name's length and the name, sent, lost and the number of round
// trips, then the round trips, the first zigzagged (0, -1, 1, -2 ... as 0, 1,
// 2, 3 ...) and each later one as its step up from the one before; every
// number as a varint (seven bits a byte, low first, the top bit on every
// byte but the last). Compact, since it is written with every post, and the
// same bytes from either backend on any machine.
std::string packHostSummaries(std::span<const HostSummary> hosts);
// hostSummaries(measured), packed, without gathering them first: what every
// post does.
std::string packHostSummaries(const ServerClass& measured);

// Calls `visit` with each host of `packed` (its name, sent, lost and round
// trips, valid during the call), or only with `host` when one is given.
// Throws a Failure for bytes that packHostSummaries did not write.
using PackedHostVisitor =
    std::function<void(std::string_view host, std::size_t echoes, std::size_t lost,
                       std::span<const std::int32_t> roundTrips)>;
void visitPackedHosts(std::string_view packed, const std::optional<std::string>& host,
                      const PackedHostVisitor& visit);

}  // namespace zelvor::site
