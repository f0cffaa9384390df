// How the pages link to a run's page and downloads.
#pragma once

#include <string>
#include <string_view>

namespace zelvor::site {

// The address of a run's page or download: `path` + "?handle=" + the handle,
// percent-encoded beyond the URL-safe characters, so the result is safe in
// any attribute as it is.
std::string handleLink(std::string_view path, std::string_view handle);

}  // namespace zelvor::site
