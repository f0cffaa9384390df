// Which address of a host is measured: the `ip` setting and the choice it
// makes among the addresses a lookup found. Pure, so that every case is a
// row of a table.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "ping/icmp_packet.hpp"

namespace zelvor {

// "auto": IPv4 where the host has it, as the program always measured, and
// IPv6 for a host that has only IPv6; "4" and "6": that family alone.
enum class IpChoice { automatic, v4, v6 };

// The choice a setting or option names ("auto", "4", "6"); none for
// anything else.
std::optional<IpChoice> parseIpChoice(std::string_view text);
std::string_view ipChoiceName(IpChoice choice);

// An address of either family, as a lookup gives it.
using HostAddress = kelvo::IpAddress;

// The address measured among those a lookup found, in the lookup's order;
// none when the choice leaves none (the host's samples are BADADDRESS).
std::optional<HostAddress> chooseAddress(std::span<const HostAddress> found, IpChoice choice);

}  // namespace zelvor
