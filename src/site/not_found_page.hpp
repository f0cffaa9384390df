// The page served with status 404.
#pragma once

#include <string>

namespace zelvor::site {

// For a handle that names no run, or any unknown address.
std::string notFoundPage();

}  // namespace zelvor::site
