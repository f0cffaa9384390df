// The progress line zelvor-cli draws on a terminal's stderr while it
// measures.
#pragma once

#include <cstdint>
#include <string>

namespace zelvor::cli {

inline constexpr std::size_t progressBarWidth = 30;

// "[#########                     ]  30 of 100 echoes  1.5 s": the bar
// filled in proportion to `done` of `due` (empty while nothing is due), the
// counts, and the time since measuring began in tenths of a second.
std::string progressLine(std::uint32_t done, std::uint32_t due, std::uint32_t elapsedMs);

}  // namespace zelvor::cli
