#include "ping/icmp_packet.hpp"

#include "catalogue/failure_texts.hpp"

namespace zelvor {

namespace {

constexpr std::uint16_t patternMark = 0xFEDE;
// The first pattern word of a reply behind a plain 20-byte IP header. It is
// read at this fixed offset whatever the header length: a header with
// options moves the payload, and such a reply then reads as foreign.
constexpr std::size_t patternOffset = 32;
constexpr std::size_t minimumReplySize = 36;

using icmp::readLittle16;
using icmp::writeLittle16;

void writeLittle32(EchoRequest& message, std::size_t at, std::uint32_t value) {
  writeLittle16(message, at, static_cast<std::uint16_t>(value & 0xFFFF));
  writeLittle16(message, at + 2, static_cast<std::uint16_t>(value >> 16));
}

}  // namespace

EchoRequest buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                             std::uint32_t sendTime) {
  EchoRequest message{};
  message[icmp::typeAt] = icmp::echoRequest;
  writeLittle16(message, icmp::identifierAt, identifier);
  writeLittle16(message, icmp::sequenceAt, sequence);
  writeLittle32(message, icmp::payloadAt, sendTime);
  for (std::size_t at = icmp::payloadAt + 4; at < message.size(); at += 4) {
    writeLittle32(message, at, (std::uint32_t{patternMark} << 16) | sequence);
  }
  icmp::fillChecksum(message);
  return message;
}

ReplyClass classifyReply(std::span<const std::uint8_t> datagram, std::uint16_t identifier) {
  if (datagram.empty()) return {ReplyKind::badHeader, 0};
  const std::size_t header = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
  if (datagram.size() < header + icmp::headerSize) return {ReplyKind::badHeader, 0};
  const std::uint8_t type = datagram[header + icmp::typeAt];
  const bool ours = readLittle16(datagram, header + icmp::identifierAt) == identifier;
  switch (type) {
    case icmp::destinationUnreachable:
      return {ReplyKind::unreachable, 0};
    case icmp::timeExceeded:
      return {ReplyKind::expired, 0};
    case icmp::echoRequest:
      return {ours ? ReplyKind::ownRequest : ReplyKind::badHeader, 0};
    case icmp::echoReply:
      break;
    default:
      return {ReplyKind::badHeader, 0};
  }
  if (!ours || datagram.size() < minimumReplySize) return {ReplyKind::foreign, 0};
  if (readLittle16(datagram, patternOffset + 2) != patternMark) return {ReplyKind::foreign, 0};
  return {ReplyKind::echoReply, readLittle16(datagram, patternOffset)};
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
