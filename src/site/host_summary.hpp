// A run's report boiled down per host, as the store keeps it beside the
// report for the history pages, and the compact form its round trips are
// stored in.
#pragma once

#include <cstdint>
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

// Round trips as 4-byte little-endian two's complement integers, end to
// end: the same bytes from either backend, on any machine.
std::string packRoundTrips(std::span<const std::int32_t> roundTrips);
// Throws a Failure for bytes that are not a whole number of round trips.
std::vector<std::int32_t> unpackRoundTrips(std::string_view bytes);
// Appends to `out` instead, for readers that pool many runs.
void appendRoundTrips(std::vector<std::int32_t>& out, std::string_view bytes);

}  // namespace zelvor::site
