// The system's echo service, which the second engine measures through: it
// sends one echo, waits for the reply and times it itself. An interface, so
// that tests can script it.
#pragma once

#include <cstdint>
#include <memory>
#include <span>

#include "ping/address_choice.hpp"
#include "ping/run_state.hpp"

namespace zelvor {

// What one echo through the service gave.
struct EchoOutcome {
  // Whether a successful echo reply came back within the time-out. A
  // destination-unreachable or time-exceeded answer is no success.
  bool replied = false;
  // The round-trip time in whole milliseconds, when replied.
  std::uint32_t roundTripMs = 0;
};

// One echo handle of one family: opened for one echo and closed after it.
class EchoHandle {
 public:
  virtual ~EchoHandle() = default;
  // Sends `data` to `address`, of the handle's family, and waits at most
  // `timeoutMs` for the reply. Blocks; several handles may echo at once on
  // different threads.
  virtual EchoOutcome echo(const HostAddress& address, std::span<const std::uint8_t> data,
                           std::uint32_t timeoutMs) = 0;
};

class EchoService {
 public:
  virtual ~EchoService() = default;
  // A handle for one echo over `family`, or null when none can be opened.
  virtual std::unique_ptr<EchoHandle> open(IcmpFamily family) = 0;
};

// The text of a service that cannot be bound.
inline constexpr const char* echoServiceRefusedText = "Unable to setup icmp.dll";

// Binds the system's echo service for one run: ICMP.DLL on Windows, the
// kernel's ping sockets elsewhere. Throws echoServiceRefusedText when it is
// not to be had for IPv4 (on Linux: net.ipv4.ping_group_range leaves us
// out, which governs IPv6 alike); without IPv6 only IPv6 handles fail. ICMP.DLL
// times its echoes itself; the ping sockets time a reply by its arrival stamp
// unless `stamps` says otherwise.
std::shared_ptr<EchoService> bindEchoService(ArrivalStamps stamps = ArrivalStamps::kernel);

}  // namespace zelvor
