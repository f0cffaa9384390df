// The ICMP echo request this program sends and the judging of what comes
// back: pure functions over bytes.
//
// The echo request, 32 bytes, multi-byte fields little-endian (the bytes as
// an x86 host lays them out, not network order):
//
//    0      1      2      3      4      5      6      7
//   +------+------+-------------+-------------+-------------+
//   | type | code |  checksum   | identifier  |  sequence   |
//   |  8   |  0   |             | (process id)|             |
//   +------+------+-------------+-------------+-------------+
//   |        send time          |  pattern: sequence, DE FE |  x5
//   +---------------------------+---------------------------+
//    8                         12 ...                      32
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "net/ip_address.hpp"
#include "ping/icmp_wire.hpp"

namespace zelvor {

inline constexpr std::size_t echoRequestSize = 32;
using EchoRequest = std::array<std::uint8_t, echoRequestSize>;

// The protocol a request goes out on: ICMP over IPv4 or ICMPv6.
using IcmpFamily = kelvo::IpFamily;

// The echo request for `identifier` (the low 16 bits of the process id),
// `sequence` and the send time on the millisecond clock. An ICMPv6 request
// differs in its type alone, and leaves its checksum to the kernel.
EchoRequest buildEchoRequest(std::uint16_t identifier, std::uint16_t sequence,
                             std::uint32_t sendTime, IcmpFamily family = IcmpFamily::v4);

// What a received datagram (the whole IPv4 datagram, header first) is to a
// request in flight. The numbers are the codes the engine has always used;
// ownRequest is new: on Linux a raw socket also sees the host's own outgoing
// requests to a local address.
enum class ReplyKind : int {
  echoReply = 0,     // timed; the sequence comes from the payload
  badHeader = -1,    // too short, or a type other than 0, 3, 8 and 11
  unreachable = -2,  // type 3
  foreign = -3,      // an echo reply that is not ours
  expired = -4,      // type 11
  ownRequest = 1,    // type 8 with our identifier: our own request, ignored
};

struct ReplyClass {
  ReplyKind kind;
  std::uint16_t sequence;  // 0 unless kind is echoReply
};

// What each message type is to the engine, for both protocols: the one
// table of it. A type not named is a bad header; an echo request is our
// own only with our identifier, and someone else's is a bad header.
struct ReplyType {
  IcmpFamily family;
  std::uint8_t type;
  ReplyKind kind;
};
inline constexpr ReplyType replyTypes[] = {
    {IcmpFamily::v4, icmp::echoReply, ReplyKind::echoReply},
    {IcmpFamily::v4, icmp::destinationUnreachable, ReplyKind::unreachable},
    {IcmpFamily::v4, icmp::timeExceeded, ReplyKind::expired},
    {IcmpFamily::v4, icmp::echoRequest, ReplyKind::ownRequest},
    {IcmpFamily::v6, icmp6::echoReply, ReplyKind::echoReply},
    // Every code: no route, administratively prohibited, address and port
    // unreachable, a rejected route alike.
    {IcmpFamily::v6, icmp6::destinationUnreachable, ReplyKind::unreachable},
    {IcmpFamily::v6, icmp6::timeExceeded, ReplyKind::expired},
    {IcmpFamily::v6, icmp6::echoRequest, ReplyKind::ownRequest},
};

// `datagram` is a whole IPv4 datagram, header first.
ReplyClass classifyReply(std::span<const std::uint8_t> datagram, std::uint16_t identifier);
// `message` is an ICMPv6 message, as IPv6 sockets give it: without the
// IPv6 header.
ReplyClass classifyIcmp6Reply(std::span<const std::uint8_t> message, std::uint16_t identifier);

// The failure text a matched datagram of this kind records; null for an
// echo reply (which is timed instead) and for our own request.
const char* replyFailureText(ReplyKind kind);

// A request in flight, as matching sees it.
struct SlotView {
  bool busy;
  std::uint16_t sequence;
  kelvo::IpAddress address;
};

// The slot a datagram completes, if any. An echo reply matches the busy slot
// with its sequence and nothing else: by address it would complete a later
// request to the same server with a time too short. Failure messages carry
// no sequence of ours and match the lowest busy slot sent to their source
// address. Our own requests match nothing.
std::optional<std::size_t> matchSlot(std::span<const SlotView> slots, ReplyClass reply,
                                     const kelvo::IpAddress& source);

}  // namespace zelvor
