// The raw ICMP channel the raw-socket engine sends and receives on: what it
// needs of the network, and nothing more, so that tests can script it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>

#include "ping/address_choice.hpp"
#include "ping/run_state.hpp"

namespace zelvor {

// What one receive gave.
struct ReceivedDatagram {
  std::size_t length = 0;
  // How long the datagram had waited to be read, from the arrival time the
  // system stamped on it; 0 where the system gives no stamp.
  std::uint64_t waitedNs = 0;
};

class RawIcmpChannel {
 public:
  virtual ~RawIcmpChannel() = default;

  // Sends one ICMP message (ICMPv6 to an IPv6 address) to `to`; the system
  // adds the IP header, with a time-to-live or hop limit of 255, and the
  // ICMPv6 checksum. False when the send failed, or the channel cannot
  // reach that family.
  virtual bool send(std::span<const std::uint8_t> message, const HostAddress& to) = 0;

  // What came next from either family into `buffer`, without waiting: a
  // whole IPv4 datagram, header first, or an ICMPv6 message without its
  // IPv6 header. Its length and wait, or nothing when none is queued, the
  // receive failed, or it did not fit (it is then lost). `source` gets its
  // sender, whose family says which of the two it is.
  virtual std::optional<ReceivedDatagram> receive(std::span<std::uint8_t> buffer,
                                                  HostAddress& source) = 0;

  // Waits until a datagram of either family can be received, at most
  // `timeoutMs`.
  virtual void waitReadable(std::uint32_t timeoutMs) = 0;
};

// The text of a system that refuses raw ICMP sockets (on Linux: without
// root or CAP_NET_RAW).
inline constexpr const char* rawSocketRefusedText = "Unable to setup winsock 2";
// The text of a raw socket whose options could not be set.
inline constexpr const char* rawSocketSetupText = "Error creating socket";

// The system's raw ICMP channel. Throws rawSocketRefusedText when the system
// refuses raw sockets, rawSocketSetupText when one opens but cannot be made
// non-blocking with a time-to-live of 255. Both are settled on IPv4; the
// ICMPv6 socket is opened by the first send to an IPv6 address, so that a
// run without one never opens it, and a system without IPv6 fails only
// those sends. Arrival stamps are asked for only
// where the system has them (Linux); a refusal leaves the channel without.
std::unique_ptr<RawIcmpChannel> openRawIcmpChannel(ArrivalStamps stamps = ArrivalStamps::kernel);

// The low 16 bits of this process's id: the identifier of our requests.
std::uint16_t processIdentifier() noexcept;

}  // namespace zelvor
