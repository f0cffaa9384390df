// The ICMP and ICMPv6 echo wire: type and code numbers, where the header's
// fields lie, the two byte orders its 16-bit fields are written in here, and
// the Internet checksum. Pure functions over bytes.
//
//    0      1      2      3      4      5      6      7      8
//   +------+------+-------------+-------------+-------------+---------
//   | type | code |  checksum   | identifier  |  sequence   | payload
//   +------+------+-------------+-------------+-------------+---------
//
// The raw engine's request lays its fields out little-endian, as an x86 host
// does (see icmp_packet.hpp); the kernel's ping socket and everything on the
// network read them big-endian. Each place names the order it uses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace zelvor {

namespace icmp {

inline constexpr std::uint8_t echoReply = 0;
inline constexpr std::uint8_t destinationUnreachable = 3;
inline constexpr std::uint8_t echoRequest = 8;
inline constexpr std::uint8_t timeExceeded = 11;

inline constexpr std::uint8_t hostUnreachable = 1;       // code of destinationUnreachable
inline constexpr std::uint8_t ttlExceededInTransit = 0;  // code of timeExceeded

inline constexpr std::size_t typeAt = 0;
inline constexpr std::size_t codeAt = 1;
inline constexpr std::size_t checksumAt = 2;
inline constexpr std::size_t identifierAt = 4;
inline constexpr std::size_t sequenceAt = 6;
inline constexpr std::size_t payloadAt = 8;
inline constexpr std::size_t headerSize = payloadAt;

constexpr std::uint16_t readBig16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

constexpr std::uint16_t readLittle16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8);
}

constexpr void writeBig16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value & 0xFF);
}

constexpr void writeLittle16(std::span<std::uint8_t> bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value & 0xFF);
  bytes[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

// Writes the checksum of `message` (an ICMP message, header first) into its
// checksum field, which counts as zero while summing. The one's complement
// sum does not depend on the order words are read in, so the bytes are the
// same for either layout of the other fields.
void fillChecksum(std::span<std::uint8_t> message);

}  // namespace icmp

// ICMPv6 keeps the header's layout (the offsets above) with numbers of its
// own. A raw or ping socket of IPv6 gives the message without the IPv6
// header, and the kernel writes every checksum, since it covers a pseudo
// header of the addresses the kernel picks.
namespace icmp6 {

inline constexpr std::uint8_t destinationUnreachable = 1;
inline constexpr std::uint8_t packetTooBig = 2;
inline constexpr std::uint8_t timeExceeded = 3;
inline constexpr std::uint8_t parameterProblem = 4;
inline constexpr std::uint8_t echoRequest = 128;
inline constexpr std::uint8_t echoReply = 129;

// Codes of destinationUnreachable.
inline constexpr std::uint8_t noRoute = 0;
inline constexpr std::uint8_t administrativelyProhibited = 1;
inline constexpr std::uint8_t addressUnreachable = 3;
inline constexpr std::uint8_t portUnreachable = 4;
inline constexpr std::uint8_t rejectRoute = 6;

inline constexpr std::uint8_t hopLimitExceeded = 0;  // code of timeExceeded

}  // namespace icmp6

// The RFC 1071 checksum of `bytes`, summed as little-endian 16-bit words:
// stored little-endian, it is the Internet checksum of the bytes as sent.
std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes);

}  // namespace zelvor
