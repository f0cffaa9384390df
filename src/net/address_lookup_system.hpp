// The lookup of every address of a host, which both platforms make with the
// same calls under the same names: included by each platform's socket file
// after its own system headers, and by nothing else.
#pragma once

#include <cstring>
#include <optional>
#include <vector>

#include "net/ip_address.hpp"

namespace kelvo::detail {

// What inet_addr reads as an IPv4 address stands for itself, in every form
// it takes (as the program always took them), and so does an IPv6 address
// without a zone (one with a zone is left to getaddrinfo).
inline std::optional<IpAddress> literalAddress(const char* host) {
  IpAddress address;
  if (const auto v4 = inet_addr(host); v4 != INADDR_NONE) {
    std::memcpy(address.bytes.data(), &v4, 4);
    return address;
  }
  address.family = IpFamily::v6;
  if (inet_pton(AF_INET6, host, address.bytes.data()) == 1) return address;
  return std::nullopt;
}

// A literal address is not looked up.
inline std::vector<IpAddress> lookUpAddresses(const char* host) {
  if (const auto literal = literalAddress(host)) return {*literal};
  // One socket type, or each address comes once per type.
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  addrinfo* found = nullptr;
  if (getaddrinfo(host, nullptr, &hints, &found) != 0) return {};
  std::vector<IpAddress> addresses;
  for (const addrinfo* entry = found; entry != nullptr; entry = entry->ai_next) {
    IpAddress address;
    if (entry->ai_family == AF_INET) {
      sockaddr_in v4{};
      std::memcpy(&v4, entry->ai_addr, sizeof v4);
      std::memcpy(address.bytes.data(), &v4.sin_addr, sizeof v4.sin_addr);
    } else if (entry->ai_family == AF_INET6) {
      sockaddr_in6 v6{};
      std::memcpy(&v6, entry->ai_addr, sizeof v6);
      address.family = IpFamily::v6;
      std::memcpy(address.bytes.data(), &v6.sin6_addr, sizeof v6.sin6_addr);
    } else {
      continue;
    }
    addresses.push_back(address);
  }
  freeaddrinfo(found);
  return addresses;
}

}  // namespace kelvo::detail
