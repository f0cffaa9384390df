// The IPv4 and ICMP packets, and the IPv6 and ICMPv6 ones, that the test peer
// reads and writes, as pure functions over bytes so that unit tests can hold
// them to exact values.
#pragma once

#include <array>
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

// --- IPv6 ------------------------------------------------------------------------

// An IPv6 address as it goes on the wire.
using Ipv6 = std::array<std::uint8_t, 16>;

// Any text form of an IPv6 address ("2001:db8:1::1"), but no IPv4 one.
std::optional<Ipv6> parseIpv6(std::string_view text);
// The shortest form, lower case: "2001:db8:1::1".
std::string formatIpv6(const Ipv6& address);

inline constexpr std::size_t ipv6HeaderBytes = 40;
// An ICMPv6 error quotes as much of its request as fits in the smallest MTU
// every IPv6 link carries (1280 bytes) with the error's own two headers.
inline constexpr std::size_t maxIcmpv6QuoteBytes = 1280 - ipv6HeaderBytes - icmp::headerSize;

// What a raw ICMPv6 socket tells of a packet beside its message: the kernel
// keeps the IPv6 header to itself.
struct Ipv6Arrival {
  Ipv6 source{};
  Ipv6 destination{};
  std::uint32_t flowInfo = 0;  // traffic class and flow label, as the header's low 28 bits
  std::uint8_t hopLimit = 0;
};

// An ICMPv6 echo request, read from its message and arrival.
struct EchoRequest6 {
  Ipv6 source{};
  Ipv6 destination{};
  std::uint8_t trafficClass = 0;
  std::uint16_t identifier = 0;
  std::uint16_t sequence = 0;
  ByteView payload;  // into the message: everything after the 8-byte echo header
  // The request as it came, its IPv6 header put back together, cut to
  // maxIcmpv6QuoteBytes: what an ICMPv6 error quotes.
  Bytes quote;
};

// Nothing unless `message` is an ICMPv6 echo request (type 128 code 0) whose
// checksum holds for the arrival's addresses.
std::optional<EchoRequest6> parseEchoRequest6(const Ipv6Arrival& arrival, ByteView message);

struct Ipv6HeaderFields {
  Ipv6 source{};
  Ipv6 destination{};
  std::uint8_t trafficClass = 0;
  std::uint32_t flowLabel = 0;  // 20 bits
  std::uint8_t hopLimit = defaultTtl;
  // One destination options header put before the message, whole (its first
  // byte, the next header, is filled in): a multiple of 8 bytes, or empty.
  ByteView destinationOptions;
};

// A whole IPv6 packet carrying the ICMPv6 `message` (type first, its checksum
// field ignored), with payload length, next headers and the checksum over the
// pseudo-header of the header's addresses filled in. Throws
// std::invalid_argument for options of a bad length or a payload over 65535.
Bytes buildIpv6Packet(const Ipv6HeaderFields& header, ByteView message);

// ICMPv6 messages without the IPv6 header, their checksums still zero: only
// buildIpv6Packet knows the addresses they are summed with.
Bytes buildEchoReply6(std::uint16_t identifier, std::uint16_t sequence, ByteView payload);
// Type, code, checksum, four unused zero bytes, then `quote`.
Bytes buildIcmpv6Error(std::uint8_t type, std::uint8_t code, ByteView quote);

// A destination options header that holds nothing but padding, which every
// receiver skips: 3a 00 01 04 00 00 00 00 (its next header filled in for ICMPv6).
Bytes paddingDestinationOptions();

}  // namespace zelvor::test
