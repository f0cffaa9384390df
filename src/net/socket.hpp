// A blocking TCP client socket with a time-out on every wait, its failure
// text, and the two free operations that the echo engines share with it:
// host resolution and waiting for readiness.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "net/byte_reader.hpp"
#include "net/ip_address.hpp"
#include "support/failure.hpp"

namespace kelvo {

// The system's socket handle, wide enough for a file descriptor and a
// Windows SOCKET alike.
using NativeSocket = std::intptr_t;
inline constexpr NativeSocket invalidSocket = -1;

// An IPv4 socket address laid out as the socket calls take it: family, then
// port and address in network byte order, then eight zero bytes.
struct SocketAddress {
  std::uint16_t family = 0;
  std::uint16_t port = 0;
  std::uint32_t address = 0;
  std::uint8_t zero[8] = {};
};
static_assert(sizeof(SocketAddress) == 16);

// Clears `address`, then fills in the family and the IPv4 address of `host`,
// a dotted address or a host name; the port stays 0. False when the host
// does not resolve to an IPv4 address.
bool resolveAddress(const char* host, SocketAddress& address);

// Every address of `host`, IPv4 and IPv6 from one lookup, in the order the
// system gives them (a dotted IPv4 address or an IPv6 literal: itself);
// none when it does not resolve.
std::vector<IpAddress> resolveAddresses(const char* host);

// The address `host` writes out, with nothing looked up: what
// resolveAddresses gives without a lookup (a dotted IPv4 address, in every
// form inet_addr reads, or an IPv6 literal without a zone); none for
// anything else.
std::optional<IpAddress> literalAddress(const char* host);

enum : int { waitReadable = 0, waitWritable = 1 };

// Waits until `socket` is readable (mode waitReadable) or writable
// (waitWritable): 1 when it became ready, 0 when `timeoutMs` ran out, -1 when
// the wait itself failed.
int waitReady(NativeSocket socket, int mode, std::uint32_t timeoutMs);

// The calling thread's last socket error code.
std::int32_t lastSocketErrorCode() noexcept;

// "Socket error " and the calling thread's last socket error; make it right
// after the failed call.
Failure lastSocketFailure();

class Socket : public ByteReader {
 public:
  // How long each wait for sending, for each receive and for the peer's end
  // after our half-close may take. The program talks to one site, whose
  // replies a person waits for: 20 s lets a loaded site answer a large
  // report, yet ends a dead exchange before the user gives up on it.
  static constexpr std::uint32_t defaultTimeoutMs = 20000;

  // Resolves `host` and connects to it with a plain blocking connect, whose
  // length the system bounds. Throws Failure.
  Socket(const std::string& host, std::uint16_t port, std::uint32_t timeoutMs = defaultTimeoutMs);
  // Half-closes, gives the peer up to the time-out to finish (reading
  // nothing), then closes.
  ~Socket() override;
  Socket(const Socket&) = delete;
  Socket& operator=(const Socket&) = delete;

  // Sends every byte, waiting for writability before each send. Throws
  // Failure when a send fails or the socket stays unwritable for the
  // time-out. Zero bytes still wait once and send once.
  void sendAll(const char* data, std::size_t length);
  void sendAll(const std::string& data) { sendAll(data.data(), data.size()); }

  std::uint32_t timeoutMs() const noexcept { return timeoutMs_; }

 protected:
  int receive(char* buffer, int size) override;

 private:
  NativeSocket socket_;
  std::uint32_t timeoutMs_;
};

namespace detail {
// The system calls under Socket, one platform file each. All report failure
// through the last socket error; none of them blocks longer than one call.

// A blocking TCP socket connected to `address`. Throws a Failure, with
// nothing left open.
NativeSocket connectStream(const SocketAddress& address);
// One send; the count taken, or -1 on failure.
long sendOnce(NativeSocket socket, const char* data, std::size_t length);
// One receive; the count, 0 when the peer has closed, or -1 on failure.
long receiveOnce(NativeSocket socket, char* buffer, int size);
void shutdownSending(NativeSocket socket) noexcept;
void closeSocket(NativeSocket socket) noexcept;
}  // namespace detail

}  // namespace kelvo
