// The digest that tells a re-posted report from a new one (NewRun::digest).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor::site {

// The SHA-256 of `report`, 32 bytes. A cryptographic digest, so that nobody
// can make a report of theirs land on another's handle.
std::string reportDigest(std::string_view report);

// The digest of a post: reportDigest of the report alone when it says
// nothing else, as posts always did; with a label or a measured time, of
// those too, so that the same bytes measured at another time or from
// another place are another run, not a re-post.
std::string postDigest(std::string_view report, const std::optional<std::string>& label,
                       std::optional<std::int64_t> measuredAtMs);

}  // namespace zelvor::site
