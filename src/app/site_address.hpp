// Where the site is: a host and a port, given as `host` or `host:port` on
// the command line or in the settings, and the choice between those and the
// compiled-in host.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace zelvor {

inline constexpr std::uint16_t defaultSitePort = 80;

struct SiteAddress {
  std::string host;
  std::uint16_t port = defaultSitePort;

  bool operator==(const SiteAddress&) const = default;
};

// `host` or `host:port`. The host follows the rule the build applies to the
// compiled-in one (letters, digits, dots and hyphens, neither first nor last
// a dot or hyphen), which an IPv4 address meets too; the port is decimal
// digits only, 1 to 65535. Nothing for anything else.
std::optional<SiteAddress> parseSiteAddress(std::string_view text);

// `host`, or `host:port` when the port is not 80: the site as the user
// writes it, and as an address names it.
std::string siteAuthority(const SiteAddress& site);

// "http://" + authority + `resultsPath` + "?handle=", to which the report's
// handle is appended.
std::string resultsAddressOf(const SiteAddress& site, std::string_view resultsPath);

struct SiteChoice {
  // Nothing: the compiled-in host on port 80.
  std::optional<SiteAddress> site;
  // The stored setting was consulted and is not an address.
  bool settingRefused = false;
};

// The command line wins over the stored setting; a setting that does not
// parse counts as none.
SiteChoice chooseSite(const std::optional<SiteAddress>& commandLine,
                      const std::optional<std::string>& setting);

struct SiteInUse {
  SiteAddress address;
  // Where the site shows a run: the handle is appended.
  std::string resultsAddress;
};

// The `chosen` site with resultsAddressOf, else the compiled-in host on
// port 80 with the results address the build wrote beside it: the string
// table's texts, as the caller reads them.
SiteInUse siteInUse(const std::optional<SiteAddress>& chosen, std::string builtInHost,
                    std::string builtInResultsAddress, std::string_view resultsPath);

// The option of both programs that names the site for one run.
inline constexpr const char* siteOptionName = "--site";
inline constexpr const char* siteOptionType = "HOST[:PORT]";
inline constexpr const char* siteOptionHelp =
    "Talk to this site for this run only, instead of the stored one or the built-in one "
    "(port 80 unless given)";

// The complaint about a value of the option that parseSiteAddress refuses,
// without the program's name.
std::string refusedSiteOption(std::string_view given);

}  // namespace zelvor
