// zelvor-cli's four commands, after the command line has been read: each
// writes its results on stdout and its messages on stderr, and returns what
// the exit code must say.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "app/site_address.hpp"
#include "cli/exit_status.hpp"
#include "cli/measuring_settings.hpp"
#include "cli/result_formats.hpp"

namespace zelvor::cli {

// The class line of the report of `zelvor-cli ping`: the hosts are the
// command line's, not a class of the site's.
inline constexpr const char* pingClassName = "ping";

// The command line's site, else the stored one, else the compiled-in host
// on port 80, as the window chooses.
SiteInUse siteInUse(const std::optional<SiteAddress>& commandLine,
                    const std::optional<std::string>& stored);

struct MeasuringOutput {
  Format format = Format::table;
  bool quiet = false;
};

Outcome listClasses(const SiteInUse& site, Format format);
Outcome runClass(const SiteInUse& site, const std::string& className, const Measuring& measuring,
                 const MeasuringOutput& output, bool post, bool openResults);
Outcome pingHosts(const std::vector<std::string>& hosts, const Measuring& measuring,
                  const MeasuringOutput& output);
Outcome postFiles(const SiteInUse& site, const std::vector<std::string>& files);

// The handle a site answers a post with: URL-safe characters, 1 to 64 of
// them. Anything else is not a site's answer.
bool isHandleReply(const std::string& reply);

}  // namespace zelvor::cli
