// How the pages and downloads write links, and (from the statistics)
// numbers.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "stats/figure_text.hpp"

namespace zelvor::site {

// The figures' own texts, shared with the terminal client.
using stats::appendOneDecimal;
using stats::appendWhole;
using stats::formatOneDecimal;
using stats::formatWhole;

// The address of a run's page or download: `path` + "?handle=" + the handle,
// percent-encoded beyond the URL-safe characters, so the result is safe in
// any attribute as it is.
std::string handleLink(std::string_view path, std::string_view handle);

}  // namespace zelvor::site
