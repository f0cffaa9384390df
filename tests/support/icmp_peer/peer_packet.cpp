// Packet reading and writing for the ICMP test peer. Multi-byte fields are
// written byte by byte in network order, so nothing depends on the host's.
//
// The tests hold the program's packets against these, so this is a second
// implementation on purpose: it takes only the wire's numbers and offsets
// from ping/icmp_wire.hpp, never its byte accessors or checksum, since a
// fault shared by both sides would pass unseen.
#include "peer_packet.hpp"

#include <arpa/inet.h>

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
constexpr std::uint8_t nextHeaderIcmpv6 = 58;
constexpr std::uint8_t nextHeaderDestinationOptions = 60;
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

// An ICMPv6 message of `type` and `code` with the four bytes `rest` and then
// `body`, its checksum left zero.
Bytes icmpv6Message(std::uint8_t type, std::uint8_t code, std::uint32_t rest, ByteView body) {
  Bytes message(icmpHeaderBytes + body.size());
  message[icmp::typeAt] = type;
  message[icmp::codeAt] = code;
  write32(message, icmp::identifierAt, rest);
  std::copy(body.begin(), body.end(), message.begin() + icmpHeaderBytes);
  return message;
}

// The Internet checksum of `message` behind the pseudo-header that ICMPv6
// sums too: both addresses, the message's length and its next header.
std::uint16_t icmpv6Checksum(const Ipv6& source, const Ipv6& destination, ByteView message) {
  Bytes summed(2 * sizeof(Ipv6) + 8 + message.size());
  std::copy(source.begin(), source.end(), summed.begin());
  std::copy(destination.begin(), destination.end(), summed.begin() + sizeof(Ipv6));
  write32(summed, 2 * sizeof(Ipv6), static_cast<std::uint32_t>(message.size()));
  summed[2 * sizeof(Ipv6) + 7] = nextHeaderIcmpv6;
  std::copy(message.begin(), message.end(),
            summed.begin() + static_cast<std::ptrdiff_t>(2 * sizeof(Ipv6) + 8));
  return internetChecksum(summed);
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

std::optional<Ipv6> parseIpv6(std::string_view text) {
  // inet_pton would also read an IPv4 tail ("::ffff:1.2.3.4"), never an
  // address of this network.
  if (text.empty() || text.size() >= INET6_ADDRSTRLEN || text.find('.') != std::string_view::npos) {
    return std::nullopt;
  }
  const std::string terminated(text);
  Ipv6 address{};
  if (::inet_pton(AF_INET6, terminated.c_str(), address.data()) != 1) return std::nullopt;
  return address;
}

std::string formatIpv6(const Ipv6& address) {
  std::array<char, INET6_ADDRSTRLEN> text{};
  ::inet_ntop(AF_INET6, address.data(), text.data(), text.size());
  return text.data();
}

std::optional<EchoRequest6> parseEchoRequest6(const Ipv6Arrival& arrival, ByteView message) {
  if (message.size() < icmpHeaderBytes || message[icmp::typeAt] != icmp6::echoRequest ||
      message[icmp::codeAt] != 0 ||
      icmpv6Checksum(arrival.source, arrival.destination, message) != 0) {
    return std::nullopt;
  }
  EchoRequest6 request;
  request.source = arrival.source;
  request.destination = arrival.destination;
  request.trafficClass = static_cast<std::uint8_t>(arrival.flowInfo >> 20);
  request.identifier = read16(message, icmp::identifierAt);
  request.sequence = read16(message, icmp::sequenceAt);
  request.payload = message.subspan(icmpHeaderBytes);

  Bytes& quote = request.quote;
  quote.resize(std::min(ipv6HeaderBytes + message.size(), maxIcmpv6QuoteBytes));
  write32(quote, 0, 6U << 28 | (arrival.flowInfo & 0x0FFFFFFF));
  write16(quote, 4, static_cast<std::uint16_t>(message.size()));
  quote[6] = nextHeaderIcmpv6;
  quote[7] = arrival.hopLimit;
  std::copy(arrival.source.begin(), arrival.source.end(), quote.begin() + 8);
  std::copy(arrival.destination.begin(), arrival.destination.end(), quote.begin() + 24);
  std::copy_n(message.begin(), quote.size() - ipv6HeaderBytes,
              quote.begin() + static_cast<std::ptrdiff_t>(ipv6HeaderBytes));
  return request;
}

Bytes buildIpv6Packet(const Ipv6HeaderFields& header, ByteView message) {
  const ByteView options = header.destinationOptions;
  if (options.size() % 8 != 0) {
    throw std::invalid_argument("a destination options header is a multiple of 8 bytes, not " +
                                std::to_string(options.size()));
  }
  const std::size_t payloadBytes = options.size() + message.size();
  if (message.size() < icmpHeaderBytes || payloadBytes > 0xFFFF) {
    throw std::invalid_argument("an IPv6 payload holds an ICMPv6 header and at most 65535 bytes, " +
                                std::to_string(payloadBytes) + " given");
  }
  Bytes packet(ipv6HeaderBytes + payloadBytes);
  write32(packet, 0,
          6U << 28 | static_cast<std::uint32_t>(header.trafficClass) << 20 |
              (header.flowLabel & 0xFFFFF));
  write16(packet, 4, static_cast<std::uint16_t>(payloadBytes));
  packet[6] = options.empty() ? nextHeaderIcmpv6 : nextHeaderDestinationOptions;
  packet[7] = header.hopLimit;
  std::copy(header.source.begin(), header.source.end(), packet.begin() + 8);
  std::copy(header.destination.begin(), header.destination.end(), packet.begin() + 24);
  auto at = packet.begin() + static_cast<std::ptrdiff_t>(ipv6HeaderBytes);
  at = std::copy(options.begin(), options.end(), at);
  if (!options.empty()) packet[ipv6HeaderBytes] = nextHeaderIcmpv6;
  std::copy(message.begin(), message.end(), at);

  const std::size_t messageAt = ipv6HeaderBytes + options.size();
  write16(packet, messageAt + icmp::checksumAt, 0);
  write16(packet, messageAt + icmp::checksumAt,
          icmpv6Checksum(header.source, header.destination, ByteView(packet).subspan(messageAt)));
  return packet;
}

Bytes buildEchoReply6(std::uint16_t identifier, std::uint16_t sequence, ByteView payload) {
  return icmpv6Message(icmp6::echoReply, 0, static_cast<std::uint32_t>(identifier) << 16 | sequence,
                       payload);
}

Bytes buildIcmpv6Error(std::uint8_t type, std::uint8_t code, ByteView quote) {
  return icmpv6Message(type, code, 0, quote);
}

Bytes paddingDestinationOptions() {
  constexpr std::uint8_t padN = 1;
  // Next header, length in 8-byte units beyond the first, then PadN over the rest.
  return {nextHeaderIcmpv6, 0, padN, 4, 0, 0, 0, 0};
}

}  // namespace zelvor::test
