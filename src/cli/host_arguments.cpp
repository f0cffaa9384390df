#include "cli/host_arguments.hpp"

#include <algorithm>
#include <cstddef>

#include "catalogue/report.hpp"

namespace zelvor::cli {

namespace {

constexpr std::size_t ipv6Groups = 8;

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool isHexDigit(char c) { return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }

bool isHexGroup(std::string_view group) {
  return !group.empty() && group.size() <= 4 && std::all_of(group.begin(), group.end(), isHexDigit);
}

bool isZoneByte(char c) {
  return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '.' || c == '_' ||
         c == '-';
}

// Four decimal bytes without leading zeros, as the system's parsers take
// them inside an IPv6 address.
bool isDottedQuad(std::string_view text) {
  for (int part = 0; part < 4; ++part) {
    const std::size_t dot = text.find('.');
    if ((part < 3) == (dot == std::string_view::npos)) return false;
    const std::string_view digits = text.substr(0, dot);
    if (digits.empty() || digits.size() > 3 || !std::all_of(digits.begin(), digits.end(), isDigit))
      return false;
    if (digits.size() > 1 && digits.front() == '0') return false;
    if (std::stoi(std::string(digits)) > 255) return false;
    text.remove_prefix(dot == std::string_view::npos ? text.size() : dot + 1);
  }
  return true;
}

// The groups of colon-separated `text` (none when it is empty), a dotted
// quad at its end counting as two; nothing when a group is malformed.
std::optional<std::size_t> groupCount(std::string_view text, bool mayEndInQuad) {
  if (text.empty()) return 0;
  std::size_t count = 0;
  for (;;) {
    const std::size_t colon = text.find(':');
    const std::string_view group = text.substr(0, colon);
    if (colon == std::string_view::npos) {
      if (mayEndInQuad && isDottedQuad(group)) return count + 2;
      if (!isHexGroup(group)) return std::nullopt;
      return count + 1;
    }
    if (!isHexGroup(group)) return std::nullopt;
    ++count;
    text.remove_prefix(colon + 1);
  }
}

}  // namespace

bool isIpv6Literal(std::string_view text) {
  if (const std::size_t percent = text.find('%'); percent != std::string_view::npos) {
    const std::string_view zone = text.substr(percent + 1);
    if (zone.empty() || !std::all_of(zone.begin(), zone.end(), isZoneByte)) return false;
    text = text.substr(0, percent);
  }
  const std::size_t gap = text.find("::");
  if (gap == std::string_view::npos) return groupCount(text, true) == ipv6Groups;
  // A second "::" leaves an empty group on the tail's side, which is refused.
  const auto head = groupCount(text.substr(0, gap), false);
  const auto tail = groupCount(text.substr(gap + 2), true);
  return head && tail && *head + *tail < ipv6Groups;
}

std::optional<std::string> refusedHost(std::string_view host, Format format) {
  if (isReportField(host)) return std::nullopt;
  const std::string named = "HOST " + std::string(host);
  if (!isIpv6Literal(host)) return named + ": not a host name";
  if (format != Format::report) return std::nullopt;
  return "--format report cannot hold " + named +
         ": a report line is host:rtt: and an IPv6 address has colons";
}

}  // namespace zelvor::cli
