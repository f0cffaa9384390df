// zelvor-cli's two exchanges with the site, the list and a post, shared by
// the single commands and the scheduled runs; each failure comes back as
// the text a user reads.
#pragma once

#include <optional>
#include <string>
#include <variant>

#include "app/failed_post.hpp"
#include "app/site_address.hpp"
#include "catalogue/catalogue.hpp"

namespace zelvor::cli {

inline constexpr const char* notHandleText = "the site's answer is not a handle";

// The handle a site answers a post with: URL-safe characters, 1 to 64 of
// them. Anything else is not a site's answer.
bool isHandleReply(const std::string& reply);

// What a post says beside the report, each part only when there is one.
struct PostQuery {
  std::optional<std::string> label;
  std::optional<std::string> measuredAt;
};

// The results address of the report posted. Throws the failure texts of
// httpPost, and notHandleText.
std::string postReport(const SiteInUse& site, const std::string& report, const PostQuery& query);

// The site's classes, or why there are none: the site could not be reached,
// or it lists none.
std::variant<ServerCatalogue, std::string> fetchCatalogue(const SiteInUse& site);

// Why a post failed with `failure`: the site's own refusal names what it did
// not like; anything else is the way to it, and the failure says how.
std::string postFailureLine(const SiteInUse& site, const std::string& failure);

}  // namespace zelvor::cli
