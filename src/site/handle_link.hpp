// How the pages link to a run's page and downloads, and to the histories.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>

namespace zelvor::site {

using QueryPair = std::pair<std::string_view, std::string_view>;

// `path` + "?" + the pairs as name=value joined by "&", each value
// percent-encoded beyond the URL-safe characters, so the result is safe in
// any attribute as it is.
std::string pageLink(std::string_view path, std::initializer_list<QueryPair> query);

// The address of a run's page or download: `path` + "?handle=" + the handle.
std::string handleLink(std::string_view path, std::string_view handle);

}  // namespace zelvor::site
