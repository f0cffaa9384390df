// The site's front page, "/".
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "site/store.hpp"

namespace zelvor::site {

// What "/" shows: one page of the stored runs, newest first, of one class
// ("/?class=C"), one label ("/?label=L") or all.
struct IndexView {
  std::vector<RunSummary> runs;
  // 1-based; pageCount is at least 1, even with no runs at all.
  std::size_t page = 1;
  std::size_t pageCount = 1;
  // Of the runs the filter lets through.
  std::size_t runCount = 0;
  RunFilter filter;
};

std::string indexPage(const IndexView& index);

}  // namespace zelvor::site
