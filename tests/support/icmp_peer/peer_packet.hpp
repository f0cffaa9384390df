// The IPv4 and ICMP packets the test peer reads and writes, as pure functions
// over bytes so that unit tests can hold them to exact values.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "ping/icmp_wire.hpp"

namespace zelvor::test {

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;

// An IPv4 address in host order: 198.18.1.2 is 0xC6120102.
using Ipv4 = std::uint32_t;

// Dotted quad only ("198.18.1.2"): no shorthand forms, no leading zeros that
// some parsers would read as octal.
std::optional<Ipv4> parseIpv4(std::string_view text);
std::string formatIpv4(Ipv4 address);

inline constexpr std::size_t ipHeaderBytes = 20;  // without options
inline constexpr std::size_t maxIpOptionBytes = 40;
inline constexpr std::uint8_t defaultTtl = 64;

// RFC 1071: the one's complement of the one's complement sum of 16-bit
// big-endian words, an odd last byte padded with zero. Over data that holds
// its own correct checksum the result is 0.
std::uint16_t internetChecksum(ByteView bytes);

// An echo request as a raw socket delivers it, IP header first. The views
// point into the packet it was parsed from.
struct EchoRequest {
  Ipv4 source = 0;
  Ipv4 destination = 0;
  std::uint8_t tos = 0;
  std::uint16_t identifier = 0;
  std::uint16_t sequence = 0;
  ByteView payload;  // everything after the 8-byte echo header
  // The IP header, options included, and the first 8 bytes after it: what an
  // ICMP error quotes so that the sender can match it to its request.
  ByteView quote;
};

// Nothing unless `packet` is a whole, unfragmented IPv4 echo request (type 8
// code 0) whose ICMP checksum holds; a kernel ignores a bad checksum too, so
// the peer does the same.
std::optional<EchoRequest> parseEchoRequest(ByteView packet);

struct IpHeaderFields {
  Ipv4 source = 0;
  Ipv4 destination = 0;
  std::uint16_t identification = 0;
  std::uint8_t tos = 0;
  std::uint8_t ttl = defaultTtl;
  ByteView options;  // a multiple of 4 bytes, at most maxIpOptionBytes
};

// A whole IPv4 packet (protocol ICMP, no fragmentation flags) carrying
// `message`, with total length and header checksum filled in. Throws
// std::invalid_argument for options of a bad length or a packet over 65535.
Bytes buildIpPacket(const IpHeaderFields& header, ByteView message);

// ICMP messages without the IP header, checksums filled in.
Bytes buildEchoReply(std::uint16_t identifier, std::uint16_t sequence, ByteView payload);
// Type, code, checksum, four unused zero bytes, then `quote`.
Bytes buildIcmpError(std::uint8_t type, std::uint8_t code, ByteView quote);

// A record-route option whose one slot already holds `address`, so the route
// is full and no host on the way writes into it, ended and padded to 8 bytes
// with an end-of-options byte: 07 07 08 a.b.c.d 00.
Bytes recordRouteOption(Ipv4 address);

}  // namespace zelvor::test
