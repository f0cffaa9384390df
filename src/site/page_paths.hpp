// The addresses the pages link to, besides "/" itself.
#pragma once

#include <string_view>

namespace zelvor::site {

// A run's page, "/zelvor?handle=H", and its two downloads.
inline constexpr std::string_view resultsPath = "/zelvor";
inline constexpr std::string_view resultsJsonPath = "/zelvor.json";
inline constexpr std::string_view resultsCsvPath = "/zelvor.csv";
// The one style sheet every page links to.
inline constexpr std::string_view styleSheetPath = "/site.css";

}  // namespace zelvor::site
