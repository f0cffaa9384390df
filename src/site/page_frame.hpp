// The document every page's content sits in (the head, the site's header
// with its link home, and the end) and the policy every page is served with.
#pragma once

#include <string>
#include <string_view>

namespace zelvor::site {

// What every page is served with: nothing runs, nothing is loaded from
// elsewhere, and the one style sheet comes from the site itself. So no page
// holds a script or a style of its own.
inline constexpr std::string_view contentSecurityPolicy =
    "default-src 'none'; style-src 'self'; img-src 'self'; base-uri 'none'; "
    "form-action 'none'; frame-ancestors 'none'";

// Everything up to and including the opening <main>. `title` and
// `description` (what the page shows, for a link's preview) are plain text
// and are escaped here.
std::string pageStart(std::string_view title, std::string_view description);

// Closes what pageStart opened.
std::string_view pageEnd();

}  // namespace zelvor::site
