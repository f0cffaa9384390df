// A host address as the socket calls take and give it, for the ICMP sockets
// of either family.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

#include "ping/address_choice.hpp"

namespace zelvor::detail {

struct SystemAddress {
  sockaddr_storage address{};
  socklen_t length = 0;

  const sockaddr* get() const noexcept { return reinterpret_cast<const sockaddr*>(&address); }
};

inline SystemAddress systemAddressOf(const HostAddress& host) noexcept {
  SystemAddress system;
  if (host.family == IcmpFamily::v6) {
    sockaddr_in6 v6{};
    v6.sin6_family = AF_INET6;
    std::memcpy(&v6.sin6_addr, host.bytes.data(), sizeof v6.sin6_addr);
    std::memcpy(&system.address, &v6, sizeof v6);
    system.length = sizeof v6;
  } else {
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    std::memcpy(&v4.sin_addr, host.bytes.data(), sizeof v4.sin_addr);
    std::memcpy(&system.address, &v4, sizeof v4);
    system.length = sizeof v4;
  }
  return system;
}

// The sender a receive filled in; an address of another family reads as
// the IPv4 address 0.0.0.0.
inline HostAddress hostAddressOf(const sockaddr_storage& system) noexcept {
  HostAddress host;
  if (system.ss_family == AF_INET6) {
    sockaddr_in6 v6{};
    std::memcpy(&v6, &system, sizeof v6);
    host.family = IcmpFamily::v6;
    std::memcpy(host.bytes.data(), &v6.sin6_addr, sizeof v6.sin6_addr);
  } else if (system.ss_family == AF_INET) {
    sockaddr_in v4{};
    std::memcpy(&v4, &system, sizeof v4);
    std::memcpy(host.bytes.data(), &v4.sin_addr, sizeof v4.sin_addr);
  }
  return host;
}

}  // namespace zelvor::detail
