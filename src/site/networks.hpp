// The site's networks file: which vantage point an address stands for, for
// clients that do not label their runs themselves (an office's desktops
// behind its own range, say).
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/address_range.hpp"

namespace zelvor::site {

class Networks {
 public:
  struct Entry {
    AddressRange range;
    std::string label;
  };

  Networks() = default;
  explicit Networks(std::vector<Entry> entries);

  // The label of the narrowest range holding `address` (an office's subnet
  // inside its company's whole range), the earlier line among equals; none
  // when no range holds it.
  std::optional<std::string> labelOf(std::string_view address) const;
  std::size_t size() const { return entries_.size(); }

 private:
  // Narrowest first, file order among equals.
  std::vector<Entry> entries_;
};

// "CIDR label" lines (IPv4 or IPv6, blanks between, '#' comments and blank
// lines skipped). Throws "FILE:LINE: reason" for a line that is not a range
// and a label of the labels' shape.
Networks parseNetworksFile(std::string_view text, std::string_view fileName);
Networks readNetworksFile(const std::string& path);

}  // namespace zelvor::site
