// The reports kept unsent, posted again once the site takes posts: oldest
// first, each with the time it was measured, removed once the site took it.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/site_address.hpp"

namespace zelvor::cli {

// A refusal that no later post can turn into a success: the site is there
// and refused the report itself (a 4xx status), but for the two statuses
// that ask a client to come back later (408, 429). Anything else, the way to
// the site included, may pass next time.
bool isLastingRefusal(std::string_view failure);

// The names in `folder` that are kept reports (measuredAtOfKeptName reads
// them), in the order they were kept. None when the folder is missing.
std::vector<std::string> keptReportNames(const std::string& folder);

// Where a report the site refused for good is moved: `refused` in `folder`,
// out of the way of the next flush but not lost.
inline constexpr const char* refusedFolderName = "refused";

struct KeptPosting {
  int posted = 0;
  int setAside = 0;
  // A post failed in a way that may pass later: it and those after it
  // stay kept.
  bool stopped = false;
};

// Posts every kept report of `folder`, oldest first, with `label` and its
// measuring time, and removes each the site took. One the site refuses for
// good (or that is not a report) is moved below refusedFolderName; the
// first other failure stops the round. `say` gets one line per report.
KeptPosting postKeptReports(const SiteInUse& site, const std::optional<std::string>& label,
                            const std::string& folder,
                            const std::function<void(const std::string&)>& say);

}  // namespace zelvor::cli
