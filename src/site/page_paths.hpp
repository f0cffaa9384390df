// The addresses the pages link to, besides "/" itself.
#pragma once

#include <string_view>

namespace zelvor::site {

// A run's page, "/zelvor?handle=H", and its two downloads.
inline constexpr std::string_view resultsPath = "/zelvor";
inline constexpr std::string_view resultsJsonPath = "/zelvor.json";
inline constexpr std::string_view resultsCsvPath = "/zelvor.csv";
// A host's history, "/history?class=C&host=H[&label=L][&range=R]", a
// class's overview, "/class?name=C[&range=R]", and their figures as JSON.
inline constexpr std::string_view historyPath = "/history";
inline constexpr std::string_view historyJsonPath = "/history.json";
inline constexpr std::string_view classPath = "/class";
inline constexpr std::string_view classJsonPath = "/class.json";
// The one style sheet every page links to.
inline constexpr std::string_view styleSheetPath = "/site.css";

}  // namespace zelvor::site
