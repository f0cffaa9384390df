// An IP address of either family, as the echo engines measure it: plain
// bytes, so that matching and choosing need no system headers.
#pragma once

#include <array>
#include <compare>
#include <cstdint>

namespace kelvo {

enum class IpFamily { v4, v6 };

// In network byte order: IPv4 in the first four bytes, the rest zero.
struct IpAddress {
  IpFamily family = IpFamily::v4;
  std::array<std::uint8_t, 16> bytes{};

  // Ordered, so that tests and tables can key by it.
  auto operator<=>(const IpAddress&) const = default;
};

}  // namespace kelvo
