#include "site/networks.hpp"

#include <algorithm>
#include <utility>

#include "catalogue/vantage_label.hpp"
#include "site/line_file.hpp"

namespace zelvor::site {

namespace {

// The line's fields separated by blanks.
std::vector<std::string_view> fieldsOf(std::string_view line) {
  std::vector<std::string_view> fields;
  constexpr std::string_view blanks = " \t\r";
  for (std::size_t at = line.find_first_not_of(blanks); at != std::string_view::npos;
       at = line.find_first_not_of(blanks, at)) {
    const std::size_t end = std::min(line.find_first_of(blanks, at), line.size());
    fields.push_back(line.substr(at, end - at));
    at = end;
  }
  return fields;
}

}  // namespace

Networks::Networks(std::vector<Entry> entries) : entries_(std::move(entries)) {
  // An IPv4 prefix counts as the IPv6 one of its mapped address would.
  const auto width = [](const Entry& entry) {
    return entry.range.v6 ? entry.range.prefix : entry.range.prefix + 96;
  };
  std::stable_sort(entries_.begin(), entries_.end(),
                   [&](const Entry& a, const Entry& b) { return width(a) > width(b); });
}

std::optional<std::string> Networks::labelOf(std::string_view address) const {
  for (const Entry& entry : entries_)
    if (entry.range.contains(address)) return entry.label;
  return std::nullopt;
}

Networks parseNetworksFile(std::string_view text, std::string_view fileName) {
  std::vector<Networks::Entry> entries;
  forEachLine(text, [&](std::size_t lineNumber, std::string_view line) {
    const std::vector<std::string_view> fields = fieldsOf(line);
    if (fields.size() != 2)
      refuseLine(fileName, lineNumber, "write a range and a label: CIDR label");
    const std::optional<AddressRange> range = parseAddressRange(fields[0]);
    if (!range)
      refuseLine(
          fileName, lineNumber,
          "not an address range such as 198.18.0.0/15 or 2001:db8::/32: " + std::string(fields[0]));
    if (!isVantageLabel(fields[1]))
      refuseLine(fileName, lineNumber,
                 "a label is " + std::string(vantageLabelShape) + ": " + std::string(fields[1]));
    entries.push_back({*range, std::string(fields[1])});
  });
  return Networks(std::move(entries));
}

Networks readNetworksFile(const std::string& path) {
  return parseNetworksFile(readLineFile(path), path);
}

}  // namespace zelvor::site
