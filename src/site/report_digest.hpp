// The digest that tells a re-posted report from a new one (NewRun::digest).
#pragma once

#include <string>
#include <string_view>

namespace zelvor::site {

// The SHA-256 of `report`, 32 bytes. A cryptographic digest, so that nobody
// can make a report of theirs land on another's handle.
std::string reportDigest(std::string_view report);

}  // namespace zelvor::site
