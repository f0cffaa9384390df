// The history pages: a host's round trips over a range, a chart per label,
// and a class's overview, every host's median on one chart and a table of
// figures per label.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/history.hpp"

namespace zelvor::site {

std::string historyPage(const HistoryView& history);

// The addresses of a host's history (`path` is historyPath or its JSON's)
// and of a class's overview, over `range`; the range is left out of the
// address when none is given, so that the default applies.
std::string historyLink(std::string_view path, std::string_view className, std::string_view host,
                        const std::optional<std::string>& label,
                        std::optional<HistoryRange> range = std::nullopt);
std::string classLink(std::string_view path, std::string_view className,
                      std::optional<HistoryRange> range = std::nullopt);

std::string classPage(const ClassView& overview);

}  // namespace zelvor::site
