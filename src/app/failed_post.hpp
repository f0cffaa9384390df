// What both front ends tell the user after a post the site did not take:
// why, and what became of the report. Each lays the parts out its own way.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "app/site_address.hpp"

namespace zelvor {

// A text of the string table, read the way the caller reads it.
using TextOf = std::function<std::string(std::uint32_t id)>;

struct PostFailure {
  // The site answered with a failure status: it is there and refused the
  // report, which the reason names. Otherwise the way to it failed, and the
  // reason names the site.
  bool refused = false;
  std::string reason;
};

// `failure` is the text the post failed with.
PostFailure postFailure(std::string_view failure, const SiteAddress& site, const TextOf& textOf);

struct UnpostedReport {
  PostFailure failure;
  // "kept in the file" and the file's path, or "lost" and why it could not
  // be kept.
  std::string fate;
  std::string fateDetail;
};

// Keeps the report through `keep`, which returns the path of its file and
// throws when it cannot, and says why the post failed and where the report
// went.
UnpostedReport keepUnposted(std::string_view failure, const SiteAddress& site,
                            const std::function<std::string()>& keep, const TextOf& textOf);

}  // namespace zelvor
