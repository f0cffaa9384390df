// Packet reading and writing for the ICMP test peer. Multi-byte fields are
// written byte by byte in network order, so nothing depends on the host's.
//
// The tests hold the program's packets against these, so this is a second
// implementation on purpose: it takes only the wire's numbers and offsets
// from ping/icmp_wire.hpp, never its byte accessors or checksum, since a
// fault shared by both sides would pass unseen.
#include "peer_packet.hpp"

#include <algorithm>
#include <stdexcept>

namespace zelvor::test {

namespace {

std::uint16_t read16(ByteView bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] << 8 | bytes[at + 1]);
}

std::uint32_t read32(ByteView bytes, std::size_t at) {
  return static_cast<std::uint32_t>(read16(bytes, at)) << 16 | read16(bytes, at + 2);
}

void write16(Bytes& bytes, std::size_t at, std::uint16_t value) {
  bytes[at] = static_cast<std::uint8_t>(value >> 8);
  bytes[at + 1] = static_cast<std::uint8_t>(value);
}

void write32(Bytes& bytes, std::size_t at, std::uint32_t value) {
  write16(bytes, at, static_cast<std::uint16_t>(value >> 16));
  write16(bytes, at + 2, static_cast<std::uint16_t>(value));
}

constexpr std::uint8_t protocolIcmp = 1;
constexpr std::size_t icmpHeaderBytes = icmp::headerSize;
constexpr std::uint16_t moreFragmentsAndOffset = 0x3FFF;  // all of flags/offset but DF

// An ICMP message with an 8-byte header (type, code, checksum, 4 more bytes)
// followed by `body`, checksum filled in.
Bytes icmpMessage(std::uint8_t type, std::uint8_t code, std::uint32_t rest, ByteView body) {
  Bytes message(icmpHeaderBytes + body.size());
  message[icmp::typeAt] = type;
  message[icmp::codeAt] = code;
  write32(message, icmp::identifierAt, rest);
  std::copy(body.begin(), body.end(), message.begin() + icmpHeaderBytes);
  write16(message, icmp::checksumAt, internetChecksum(message));
  return message;
}

}  // namespace

std::optional<Ipv4> parseIpv4(std::string_view text) {
  Ipv4 address = 0;
  for (int octet = 0; octet < 4; ++octet) {
    if (octet > 0) {
      if (text.empty() || text.front() != '.') return std::nullopt;
      text.remove_prefix(1);
    }
    std::size_t digits = 0;
    unsigned value = 0;
    while (digits < text.size() && digits < 4 && text[digits] >= '0' && text[digits] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[digits] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255 || (digits > 1 && text.front() == '0')) {
      return std::nullopt;
    }
    text.remove_prefix(digits);
    address = address << 8 | value;
  }
  if (!text.empty()) return std::nullopt;
  return address;
}

std::string formatIpv4(Ipv4 address) {
  return std::to_string(address >> 24) + '.' + std::to_string(address >> 16 & 0xFF) + '.' +
         std::to_string(address >> 8 & 0xFF) + '.' + std::to_string(address & 0xFF);
}

std::uint16_t internetChecksum(ByteView bytes) {
  std::uint32_t sum = 0;
  std::size_t at = 0;
  for (; at + 1 < bytes.size(); at += 2) sum += read16(bytes, at);
  if (at < bytes.size()) sum += static_cast<std::uint32_t>(bytes[at]) << 8;
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return static_cast<std::uint16_t>(~sum);
}

std::optional<EchoRequest> parseEchoRequest(ByteView packet) {
  if (packet.size() < ipHeaderBytes || packet[0] >> 4 != 4) return std::nullopt;
  const std::size_t headerBytes = static_cast<std::size_t>(packet[0] & 0x0F) * 4;
  const std::size_t totalBytes = read16(packet, 2);
  if (headerBytes < ipHeaderBytes || totalBytes < headerBytes + icmpHeaderBytes ||
      totalBytes > packet.size()) {
    return std::nullopt;
  }
  if ((read16(packet, 6) & moreFragmentsAndOffset) != 0 || packet[9] != protocolIcmp) {
    return std::nullopt;
  }
  const ByteView message = packet.subspan(headerBytes, totalBytes - headerBytes);
  if (message[icmp::typeAt] != icmp::echoRequest || message[icmp::codeAt] != 0 ||
      internetChecksum(message) != 0) {
    return std::nullopt;
  }
  EchoRequest request;
  request.source = read32(packet, 12);
  request.destination = read32(packet, 16);
  request.tos = packet[1];
  request.identifier = read16(message, icmp::identifierAt);
  request.sequence = read16(message, icmp::sequenceAt);
  request.payload = message.subspan(icmpHeaderBytes);
  request.quote = packet.first(headerBytes + icmpHeaderBytes);
  return request;
}

Bytes buildIpPacket(const IpHeaderFields& header, ByteView message) {
  if (header.options.size() % 4 != 0 || header.options.size() > maxIpOptionBytes) {
    throw std::invalid_argument("IP options must be a multiple of 4 bytes, at most 40, not " +
                                std::to_string(header.options.size()));
  }
  const std::size_t headerBytes = ipHeaderBytes + header.options.size();
  const std::size_t totalBytes = headerBytes + message.size();
  if (totalBytes > 0xFFFF) {
    throw std::invalid_argument("an IPv4 packet holds at most 65535 bytes, not " +
                                std::to_string(totalBytes));
  }
  Bytes packet(totalBytes);
  packet[0] = static_cast<std::uint8_t>(0x40 | headerBytes / 4);
  packet[1] = header.tos;
  write16(packet, 2, static_cast<std::uint16_t>(totalBytes));
  write16(packet, 4, header.identification);
  packet[8] = header.ttl;
  packet[9] = protocolIcmp;
  write32(packet, 12, header.source);
  write32(packet, 16, header.destination);
  std::copy(header.options.begin(), header.options.end(), packet.begin() + ipHeaderBytes);
  write16(packet, 10, internetChecksum(ByteView(packet).first(headerBytes)));
  std::copy(message.begin(), message.end(),
            packet.begin() + static_cast<std::ptrdiff_t>(headerBytes));
  return packet;
}

Bytes buildEchoReply(std::uint16_t identifier, std::uint16_t sequence, ByteView payload) {
  return icmpMessage(icmp::echoReply, 0, static_cast<std::uint32_t>(identifier) << 16 | sequence,
                     payload);
}

Bytes buildIcmpError(std::uint8_t type, std::uint8_t code, ByteView quote) {
  return icmpMessage(type, code, 0, quote);
}

Bytes recordRouteOption(Ipv4 address) {
  constexpr std::uint8_t recordRoute = 7;
  constexpr std::uint8_t optionLength = 7;  // type, length, pointer, one address
  // The pointer is 1-based; past the option's end it says the route is full.
  constexpr std::uint8_t fullPointer = optionLength + 1;
  Bytes option{recordRoute, optionLength, fullPointer, 0, 0, 0, 0, 0};
  write32(option, 3, address);
  return option;
}

}  // namespace zelvor::test
