// A range of client addresses written as ADDRESS/PREFIX (CIDR), IPv4 or
// IPv6, and whether an address a connection came from lies in it.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor::site {

struct AddressRange {
  bool v6 = false;
  // The network's address; an IPv4 one in the first four bytes.
  std::array<std::uint8_t, 16> network{};
  // Leading bits that must match: 0 to 32 for IPv4, 0 to 128 for IPv6.
  unsigned prefix = 0;

  // True for an address text (as a peer or X-Forwarded-For gives it) inside
  // the range. An IPv4 address mapped into IPv6 (::ffff:a.b.c.d), as a
  // dual-stack socket reports IPv4 peers, counts as the IPv4 address.
  bool contains(std::string_view address) const;

  bool operator==(const AddressRange&) const = default;
};

// "a.b.c.d/N" or "x:y::z/N"; an address alone is the range of that one
// address. None for anything else, and for an address with bits set past
// its prefix, which is more likely a slip than meant.
std::optional<AddressRange> parseAddressRange(std::string_view text);

// The client an address text stands for, where one client may hold many
// addresses: an IPv6 address as its /64 ("2001:db8:1:2::/64"), since a
// home or a phone is given a whole /64 to pick from; an IPv4 address, or one
// mapped into IPv6, as the IPv4 address. Text that is no address stands for
// itself.
std::string clientNetwork(std::string_view address);

// 127.0.0.0/8 and ::1: this machine alone.
std::vector<AddressRange> loopbackRanges();

}  // namespace zelvor::site
