// The site's one style sheet, resources/site.css. Pages carry no styles of
// their own (the Content-Security-Policy forbids them), so every look lives
// there, the charts' included. Tables turn into one card per row on narrow
// screens so that no page ever scrolls sideways.
#include "site/style_sheet.hpp"

#include "site/embedded_files.hpp"

namespace zelvor::site {

std::string_view styleSheet() {
  const auto bytes = embedded::siteStyleSheet();
  return {reinterpret_cast<const char*>(bytes.data()), bytes.size()};
}

}  // namespace zelvor::site
