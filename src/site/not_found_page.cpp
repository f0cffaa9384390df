// The page for a handle that names no run, served with status 404.
#include "site/not_found_page.hpp"

#include <string>
#include <string_view>

#include "site/page_frame.hpp"

namespace zelvor::site {

namespace {

constexpr std::string_view description = "There is no run at this address.";

}  // namespace

std::string notFoundPage() {
  std::string page = pageStart("Zelvor \u00b7 no such run", description);
  page +=
      "<h1>No such run</h1>\n"
      "<p>No run has that handle. It may have been mistyped or cut short.</p>\n"
      "<p><a href=\"/\">See the recent runs</a></p>\n";
  page += pageEnd();
  return page;
}

}  // namespace zelvor::site
