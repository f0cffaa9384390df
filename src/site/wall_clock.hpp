// The site's wall clock: the time of runs received, of log lines and of
// retention's cutoff.
#pragma once

#include <cstdint>

namespace zelvor::site {

// Milliseconds since the Unix epoch, as the system's clock has them now.
std::int64_t unixNowMs();

}  // namespace zelvor::site
