// Where a run was measured from ("berlin-office", "home-vpn"): a short name
// an organisation gives its vantage points. Its shape needs no escaping in a
// query, a file name, a page or a metric's label value.
#pragma once

#include <cstddef>
#include <string_view>

namespace zelvor {

inline constexpr std::size_t maxVantageLabelBytes = 64;

// 1 to 64 bytes of ASCII letters, digits, '-', '_' and '.'.
bool isVantageLabel(std::string_view text);

// What a refusal says a label must be.
inline constexpr char vantageLabelShape[] = "1 to 64 letters, digits, '-', '_' or '.'";

}  // namespace zelvor
