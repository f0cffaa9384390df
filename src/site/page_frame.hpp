// The document every page's content sits in: the head, the site's header
// with its link home, and the end.
#pragma once

#include <string>
#include <string_view>

namespace zelvor::site {

// Everything up to and including the opening <main>; `title` is plain text
// and is escaped here.
std::string pageStart(std::string_view title);

// Closes what pageStart opened.
std::string_view pageEnd();

}  // namespace zelvor::site
