// The history pages: a host's round trips over a range, a chart per label,
// and a class's overview, every host's median on one chart and a table of
// figures per label.
#pragma once

#include <string>

#include "site/history.hpp"

namespace zelvor::site {

std::string historyPage(const HistoryView& history);
std::string classPage(const ClassView& overview);

}  // namespace zelvor::site
