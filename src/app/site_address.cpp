#include "app/site_address.hpp"

#include <charconv>
#include <system_error>
#include <utility>

namespace zelvor {

namespace {

bool isAlphanumeric(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

bool isHost(std::string_view host) {
  if (host.empty() || !isAlphanumeric(host.front()) || !isAlphanumeric(host.back())) return false;
  for (const char c : host) {
    if (!isAlphanumeric(c) && c != '.' && c != '-') return false;
  }
  return true;
}

// from_chars into an unsigned type takes neither sign, and refuses values
// past 65535 rather than wrapping.
std::optional<std::uint16_t> parsePort(std::string_view text) {
  std::uint16_t port = 0;
  const char* const end = text.data() + text.size();
  const auto [stop, error] = std::from_chars(text.data(), end, port);
  if (text.empty() || error != std::errc() || stop != end || port == 0) return std::nullopt;
  return port;
}

}  // namespace

std::optional<SiteAddress> parseSiteAddress(std::string_view text) {
  const std::size_t colon = text.find(':');
  SiteAddress site{std::string(text.substr(0, colon))};
  if (!isHost(site.host)) return std::nullopt;
  if (colon == std::string_view::npos) return site;
  const std::optional<std::uint16_t> port = parsePort(text.substr(colon + 1));
  if (!port) return std::nullopt;
  site.port = *port;
  return site;
}

std::string siteAuthority(const SiteAddress& site) {
  if (site.port == defaultSitePort) return site.host;
  return site.host + ':' + std::to_string(site.port);
}

std::string resultsAddressOf(const SiteAddress& site, std::string_view resultsPath) {
  std::string address = "http://" + siteAuthority(site);
  address += resultsPath;
  address += "?handle=";
  return address;
}

SiteChoice chooseSite(const std::optional<SiteAddress>& commandLine,
                      const std::optional<std::string>& setting) {
  if (commandLine) return {commandLine, false};
  // Empty is none: an installer that was given no site writes it so.
  if (!setting || setting->empty()) return {};
  std::optional<SiteAddress> stored = parseSiteAddress(*setting);
  const bool refused = !stored;
  return {std::move(stored), refused};
}

SiteInUse siteInUse(const std::optional<SiteAddress>& chosen, std::string builtInHost,
                    std::string builtInResultsAddress, std::string_view resultsPath) {
  if (!chosen) return {{std::move(builtInHost), defaultSitePort}, std::move(builtInResultsAddress)};
  return {*chosen, resultsAddressOf(*chosen, resultsPath)};
}

std::string refusedSiteOption(std::string_view given) {
  std::string complaint = siteOptionName;
  complaint += ' ';
  complaint += given;
  complaint += ": not ";
  complaint += siteOptionType;
  complaint += " (a host name or IPv4 address, a port from 1 to 65535)";
  return complaint;
}

}  // namespace zelvor
