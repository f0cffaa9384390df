// The site's one style sheet, served at styleSheetPath.
#pragma once

#include <string_view>

namespace zelvor::site {

std::string_view styleSheet();

}  // namespace zelvor::site
