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
#include "cli/site_exchanges.hpp"

namespace zelvor::cli {

// The class line of the report of `zelvor-cli ping`: the hosts are the
// command line's, not a class of the site's.
inline constexpr const char* pingClassName = "ping";

// The command line's site, else the stored one, else the compiled-in host
// on port 80, as the window chooses.
SiteInUse siteInUse(const std::optional<SiteAddress>& commandLine,
                    const std::optional<std::string>& stored);

// The command line's label (already checked), else the stored one; a stored
// label that is not of the shape is said to be ignored.
std::optional<std::string> chosenLabel(const std::optional<std::string>& commandLine,
                                       const std::optional<std::string>& stored);

// Says that a stored ip naming no choice is ignored, unless the command
// line chose.
void sayRefusedIp(const std::optional<IpChoice>& commandLine,
                  const std::optional<std::string>& stored);

struct MeasuringOutput {
  Format format = Format::table;
  bool quiet = false;
};

Outcome listClasses(const SiteInUse& site, Format format);
// `label`, when there is one, goes with the post.
Outcome runClass(const SiteInUse& site, const std::string& className, const Measuring& measuring,
                 const MeasuringOutput& output, const std::optional<std::string>& label, bool post,
                 bool openResults);
Outcome pingHosts(const std::vector<std::string>& hosts, const Measuring& measuring,
                  const MeasuringOutput& output);
// A file named as a kept report is posted with the time its name holds.
Outcome postFiles(const SiteInUse& site, const std::vector<std::string>& files,
                  const std::optional<std::string>& label);

}  // namespace zelvor::cli
