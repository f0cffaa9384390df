// How the pages link to a run's page and downloads, and to other pages with
// a query.
#pragma once

#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>

namespace zelvor::site {

using QueryParameter = std::pair<std::string_view, std::string_view>;

// `path` + "?" + each "name=value" joined by '&', the values percent-encoded
// beyond the URL-safe characters, so the result is safe in any attribute as
// it is. Just `path` without parameters.
std::string queryLink(std::string_view path, std::span<const QueryParameter> parameters);
std::string queryLink(std::string_view path, std::initializer_list<QueryParameter> parameters);

// The address of a run's page or download: `path` + "?handle=" + the handle.
std::string handleLink(std::string_view path, std::string_view handle);

}  // namespace zelvor::site
