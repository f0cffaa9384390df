// Building the echo request, classifying replies and matching them to slots.
#include "ping/icmp_packet.hpp"

#include "catalogue/failure_texts.hpp"

namespace zelvor {

namespace {

constexpr std::uint8_t typeEchoReply = 0;
constexpr std::uint8_t typeUnreachable = 3;
constexpr std::uint8_t typeEchoRequest = 8;
constexpr std::uint8_t typeTimeExceeded = 11;
constexpr std::uint16_t patternMark = 0xFEDE;
// The first pattern word of a reply behind a plain 20-byte IP header. It is
// read at this fixed offset whatever the header length: a header with
// options moves the payload, and such a reply then reads as foreign.
constexpr std::size_t patternOffset = 32;
constexpr std::size_t minimumReplySize = 36;

std::uint16_t read16(std::span<const std::uint8_t> bytes, std::size_t at) {
  return static_cast<std::uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

void write16(EchoRequest& message, std::size_t at, std::uint16_t value) {
  message[at] = static_cast<std::uint8_t>(value & 0xFF);
  message[at + 1] = static_cast<std::uint8_t>(value >> 8);
}

void write32(EchoRequest& message, std::size_t at, std::uint32_t value) {
  write16(message, at, static_cast<std::uint16_t>(value & 0xFFFF));
  write16(message, at + 2, static_cast<std::uint16_t>(value >> 16));
}

}  // namespace

std::uint16_t internetChecksum(std::span<const std::uint8_t> bytes) {
  std::uint32_t sum = 0;
  const std::size_t words = bytes.size() / 2;
  for (std::size_t i = 0; i < words; ++i) sum += read16(bytes, 2 * i);
  if (bytes.size() % 2 != 0) sum += bytes.back();
  sum = (sum & 0xFFFF) + (sum >> 16);
  sum += sum >> 16;
  return static_cast<std::uint16_t>(~sum & 0xFFFF);
}

EchoRequest buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                             std::uint32_t sendTime) {
  EchoRequest message{};
  message[0] = typeEchoRequest;
  write16(message, 4, identifier);
  write16(message, 6, sequence);
  write32(message, 8, sendTime);
  for (std::size_t at = 12; at < message.size(); at += 4) {
    write32(message, at, (std::uint32_t{patternMark} << 16) | sequence);
  }
  write16(message, 2, internetChecksum(message));
  return message;
}

ReplyClass classifyReply(std::span<const std::uint8_t> datagram, std::uint16_t identifier) {
  if (datagram.empty()) return {ReplyKind::badHeader, 0};
  const std::size_t header = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
  if (datagram.size() < header + 8) return {ReplyKind::badHeader, 0};
  const std::uint8_t type = datagram[header];
  const bool ours = read16(datagram, header + 4) == identifier;
  switch (type) {
    case typeUnreachable:
      return {ReplyKind::unreachable, 0};
    case typeTimeExceeded:
      return {ReplyKind::expired, 0};
    case typeEchoRequest:
      return {ours ? ReplyKind::ownRequest : ReplyKind::badHeader, 0};
    case typeEchoReply:
      break;
    default:
      return {ReplyKind::badHeader, 0};
  }
  if (!ours || datagram.size() < minimumReplySize) return {ReplyKind::foreign, 0};
  if (read16(datagram, patternOffset + 2) != patternMark) return {ReplyKind::foreign, 0};
  return {ReplyKind::echoReply, read16(datagram, patternOffset)};
}

const char* replyFailureText(ReplyKind kind) {
  switch (kind) {
    case ReplyKind::badHeader:
      return failure::badHeader;
    case ReplyKind::unreachable:
      return failure::unreachable;
    case ReplyKind::foreign:
      return failure::foreign;
    case ReplyKind::expired:
      return failure::expired;
    case ReplyKind::echoReply:
    case ReplyKind::ownRequest:
      break;
  }
  return nullptr;
}

std::optional<std::size_t> matchSlot(std::span<const SlotView> slots, ReplyClass reply,
                                     std::uint32_t sourceAddress) {
  if (reply.kind == ReplyKind::ownRequest) return std::nullopt;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (!slots[i].busy) continue;
    const bool matches = reply.kind == ReplyKind::echoReply ? slots[i].sequence == reply.sequence
                                                            : slots[i].address == sourceAddress;
    if (matches) return i;
  }
  return std::nullopt;
}

}  // namespace zelvor
