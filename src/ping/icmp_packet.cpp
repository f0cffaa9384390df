#include "ping/icmp_packet.hpp"

#include "catalogue/failure_texts.hpp"

namespace zelvor {

namespace {

constexpr std::uint16_t patternMark = 0xFEDE;
// The first pattern word of a reply: after the header and the send time.
constexpr std::size_t patternInMessage = icmp::payloadAt + 4;
// In an IPv4 datagram, behind a plain 20-byte IP header. It is read at this
// fixed offset whatever the header length: a header with options moves the
// payload, and such a reply then reads as foreign.
constexpr std::size_t patternInDatagram = 20 + patternInMessage;

using icmp::readLittle16;
using icmp::writeLittle16;

void writeLittle32(EchoRequest& message, std::size_t at, std::uint32_t value) {
  writeLittle16(message, at, static_cast<std::uint16_t>(value & 0xFFFF));
  writeLittle16(message, at + 2, static_cast<std::uint16_t>(value >> 16));
}

ReplyKind kindOfType(IcmpFamily family, std::uint8_t type) {
  for (const ReplyType& known : replyTypes)
    if (known.family == family && known.type == type) return known.kind;
  return ReplyKind::badHeader;
}

// The message starts at `header` in `bytes`, and its pattern at `patternAt`.
ReplyClass classify(std::span<const std::uint8_t> bytes, std::size_t header, IcmpFamily family,
                    std::size_t patternAt, std::uint16_t identifier) {
  if (bytes.size() < header + icmp::headerSize) return {ReplyKind::badHeader, 0};
  const bool ours = readLittle16(bytes, header + icmp::identifierAt) == identifier;
  switch (const ReplyKind kind = kindOfType(family, bytes[header + icmp::typeAt])) {
    case ReplyKind::ownRequest:
      return {ours ? ReplyKind::ownRequest : ReplyKind::badHeader, 0};
    case ReplyKind::echoReply:
      break;
    default:
      return {kind, 0};
  }
  if (!ours || bytes.size() < patternAt + 4) return {ReplyKind::foreign, 0};
  if (readLittle16(bytes, patternAt + 2) != patternMark) return {ReplyKind::foreign, 0};
  return {ReplyKind::echoReply, readLittle16(bytes, patternAt)};
}

}  // namespace

EchoRequest buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                             std::uint32_t sendTime, IcmpFamily family) {
  EchoRequest message{};
  message[icmp::typeAt] = family == IcmpFamily::v4 ? icmp::echoRequest : icmp6::echoRequest;
  writeLittle16(message, icmp::identifierAt, identifier);
  writeLittle16(message, icmp::sequenceAt, sequence);
  writeLittle32(message, icmp::payloadAt, sendTime);
  for (std::size_t at = icmp::payloadAt + 4; at < message.size(); at += 4) {
    writeLittle32(message, at, (std::uint32_t{patternMark} << 16) | sequence);
  }
  if (family == IcmpFamily::v4) icmp::fillChecksum(message);
  return message;
}

ReplyClass classifyReply(std::span<const std::uint8_t> datagram, std::uint16_t identifier) {
  if (datagram.empty()) return {ReplyKind::badHeader, 0};
  const std::size_t header = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
  return classify(datagram, header, IcmpFamily::v4, patternInDatagram, identifier);
}

ReplyClass classifyIcmp6Reply(std::span<const std::uint8_t> message, std::uint16_t identifier) {
  return classify(message, 0, IcmpFamily::v6, patternInMessage, identifier);
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
                                     const kelvo::IpAddress& source) {
  if (reply.kind == ReplyKind::ownRequest) return std::nullopt;
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (!slots[i].busy) continue;
    const bool matches = reply.kind == ReplyKind::echoReply ? slots[i].sequence == reply.sequence
                                                            : slots[i].address == source;
    if (matches) return i;
  }
  return std::nullopt;
}

}  // namespace zelvor
