// What a post says about its run besides the report: where it was measured
// from and, for a report the client kept and sends late, when. Both ride in
// the query so that a client with nothing to say sends the bytes it always
// did.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

namespace zelvor::site {

// How far a measured time may lie from the site's clock: a client keeps an
// unsent report for days, not months, and its clock may run a little ahead.
inline constexpr std::int64_t oldestMeasuredAgeMs = 30LL * 24 * 60 * 60 * 1000;
inline constexpr std::int64_t furthestMeasuredAheadMs = 5LL * 60 * 1000;

struct PostQuery {
  std::optional<std::string> label;
  std::optional<std::int64_t> measuredAtMs;

  bool operator==(const PostQuery&) const = default;
};

// The post's `label` and `measured_at` parameters, or the one-line refusal
// (ending in a newline) naming the first that is wrong. `nowMs` is the
// site's clock.
std::variant<PostQuery, std::string> readPostQuery(std::string_view query, std::int64_t nowMs);

}  // namespace zelvor::site
