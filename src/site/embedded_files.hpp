// The files compiled into zelvor-site at build time (see
// cmake/embed_files.cmake), byte for byte as they are in resources/.
#pragma once

#include <cstdint>
#include <span>

namespace zelvor::embedded {

// resources/zelvor.ico, the program's own icon, served as the site's.
std::span<const std::uint8_t> siteIcon();

// resources/site.css, which site::styleSheet gives as text.
std::span<const std::uint8_t> siteStyleSheet();

// resources/robots.txt, served at /robots.txt: it keeps crawlers off every
// page, since a results page is for whoever ran the test.
std::span<const std::uint8_t> robotsText();

}  // namespace zelvor::embedded
