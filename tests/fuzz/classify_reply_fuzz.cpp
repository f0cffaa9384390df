// Fuzz target for classifyReply, classifyIcmp6Reply and matchSlot: any
// datagram (read as IPv4 and as ICMPv6), any requests in flight. Nothing is
// read out of bounds (the sanitizers watch), an echo reply is only ever one
// that carries our identifier and pattern, and a match is exactly the one
// the matching rules name.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "ping/icmp_packet.hpp"

namespace {

void require(bool condition) {
  if (!condition) __builtin_trap();
}

std::uint16_t read16(const std::uint8_t* bytes) {
  return static_cast<std::uint16_t>(bytes[0] | (bytes[1] << 8));
}

// The input: identifier (2 bytes), source IPv4 address (4), four slots of
// busy and family/sequence/address (1 + 2 + 4 each; bit 0 busy, bit 1 an
// IPv6 address with those first four bytes), then the datagram.
constexpr std::size_t slotCount = 4;
constexpr std::size_t prefixSize = 2 + 4 + slotCount * 7;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < prefixSize) return 0;
  const std::uint16_t identifier = read16(data);
  kelvo::IpAddress source;
  std::memcpy(source.bytes.data(), data + 2, 4);
  std::vector<zelvor::SlotView> slots;
  for (std::size_t i = 0; i < slotCount; ++i) {
    const std::uint8_t* slot = data + 6 + 7 * i;
    kelvo::IpAddress address;
    if ((slot[0] & 2) != 0) address.family = zelvor::IcmpFamily::v6;
    std::memcpy(address.bytes.data(), slot + 3, 4);
    slots.push_back({(slot[0] & 1) != 0, read16(slot + 1), address});
  }
  // A copy of exactly the datagram's bytes, so that any read past its end is
  // a read past an allocation.
  const std::vector<std::uint8_t> datagram(data + prefixSize, data + size);

  const zelvor::ReplyClass reply = zelvor::classifyReply(datagram, identifier);
  if (reply.kind == zelvor::ReplyKind::echoReply) {
    const std::size_t header = static_cast<std::size_t>(datagram[0] & 0x0F) * 4;
    require(datagram.size() >= 36 && datagram.size() >= header + 8);
    require(datagram[header] == 0);
    require(read16(&datagram[header + 4]) == identifier);
    require(datagram[34] == 0xDE && datagram[35] == 0xFE);
    require(reply.sequence == read16(&datagram[32]));
  } else {
    require(reply.sequence == 0);
  }

  const zelvor::ReplyClass reply6 = zelvor::classifyIcmp6Reply(datagram, identifier);
  if (reply6.kind == zelvor::ReplyKind::echoReply) {
    require(datagram.size() >= 16 && datagram[0] == 129);
    require(read16(&datagram[4]) == identifier);
    require(datagram[14] == 0xDE && datagram[15] == 0xFE);
    require(reply6.sequence == read16(&datagram[12]));
  } else {
    require(reply6.sequence == 0);
  }

  const auto match = zelvor::matchSlot(slots, reply, source);
  const auto fits = [&](const zelvor::SlotView& slot) {
    if (!slot.busy || reply.kind == zelvor::ReplyKind::ownRequest) return false;
    return reply.kind == zelvor::ReplyKind::echoReply ? slot.sequence == reply.sequence
                                                      : slot.address == source;
  };
  std::size_t first = slotCount;
  for (std::size_t i = 0; i < slotCount && first == slotCount; ++i) {
    if (fits(slots[i])) first = i;
  }
  require(match.has_value() == (first < slotCount));
  if (match) require(*match == first);
  return 0;
}
