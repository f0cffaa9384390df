// The files compiled into zelvor-site at build time (see
// cmake/embed_files.cmake), byte for byte as they are in resources/.
#pragma once

#include <cstdint>
#include <span>

namespace zelvor::embedded {

// resources/zelvor.ico, the program's own icon, served as the site's.
std::span<const std::uint8_t> siteIcon();

}  // namespace zelvor::embedded
