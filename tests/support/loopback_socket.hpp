// A TCP socket on 127.0.0.1 for test peers and test clients, with every wait
// bounded by a time-out so that no test can hang on the network.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "net/socket.hpp"

namespace zelvor::test {

// How one bounded receive ended.
enum class ReceiveResult {
  received,    // at least one byte was appended
  peerClosed,  // the other side finished sending
  reset,       // the other side reset or aborted the connection
  timedOut,    // nothing arrived in time
};

// The socket is non-blocking underneath, so an operation never waits longer
// than the time-out it is given. System failures throw std::runtime_error.
// On Windows each open socket holds its own Winsock start-up.
class LoopbackSocket {
 public:
  LoopbackSocket() noexcept;  // holds no socket
  ~LoopbackSocket();
  LoopbackSocket(LoopbackSocket&& other) noexcept;
  LoopbackSocket& operator=(LoopbackSocket&& other) noexcept;
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  // Listens on 127.0.0.1 at a port the system picks. A non-zero
  // `receiveBufferBytes` is set as the receive buffer before listening, so
  // that accepted connections take it over and a client's large send has to
  // arrive in several pieces.
  static LoopbackSocket listen(std::size_t receiveBufferBytes = 0);

  // Connects to 127.0.0.1:`port`, waiting at most `timeoutMs`.
  static LoopbackSocket connect(std::uint16_t port, std::uint32_t timeoutMs);

  bool isOpen() const noexcept { return handle_ != nullptr; }
  std::uint16_t localPort() const;

  // The next incoming connection, or a socket that holds nothing when none
  // came within `timeoutMs`.
  LoopbackSocket accept(std::uint32_t timeoutMs);

  // Waits at most `timeoutMs` for room, then sends as much of `bytes` as fits
  // in one send call. Returns how many bytes went (0: the time ran out).
  std::size_t sendSome(std::string_view bytes, std::uint32_t timeoutMs);

  // Sends every byte of `bytes` within `timeoutMs` in all, else throws.
  void sendAll(std::string_view bytes, std::uint32_t timeoutMs);

  // Waits at most `timeoutMs` for bytes and appends up to `maxBytes` of them
  // to `into`.
  ReceiveResult receiveSome(std::string& into, std::size_t maxBytes, std::uint32_t timeoutMs);

  // Tells the other side that nothing more will be sent. False when the
  // connection is already gone, which callers shutting down may ignore.
  bool shutdownSending() noexcept;

  // Closes at once. close() lets queued bytes go out and ends with a FIN;
  // abort() drops them and resets the connection, so the other side sees the
  // reset rather than an orderly end.
  void close() noexcept;
  void abort() noexcept;

 private:
  struct Handle;  // the platform's socket, closed when the handle goes
  struct HandleDeleter {
    void operator()(Handle* handle) const noexcept;
  };
  using HandlePtr = std::unique_ptr<Handle, HandleDeleter>;

  explicit LoopbackSocket(HandlePtr handle) noexcept;
  // A fresh non-blocking TCP socket.
  static HandlePtr newSocket();
  Handle& handle() const;
  kelvo::NativeSocket native() const;

  HandlePtr handle_;
};

inline void LoopbackSocket::sendAll(std::string_view bytes, std::uint32_t timeoutMs) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
  // Each round either sends at least one byte or uses up the rest of the time.
  while (!bytes.empty()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      throw std::runtime_error("send: " + std::to_string(bytes.size()) +
                               " bytes still unsent after " + std::to_string(timeoutMs) + " ms");
    }
    bytes.remove_prefix(sendSome(bytes, static_cast<std::uint32_t>(left)));
  }
}

// A client connection to a local test peer; throws when it cannot be made
// within `timeoutMs`.
inline LoopbackSocket connectLoopback(std::uint16_t port, std::uint32_t timeoutMs = 10000) {
  return LoopbackSocket::connect(port, timeoutMs);
}

namespace detail {
// What the platform files give the shared half of LoopbackSocket.

// Throws std::runtime_error naming `operation` and the system's `code`.
[[noreturn]] void failSocketCall(const char* operation, int code);

enum class SocketErrorKind { wouldBlock, reset, other };
SocketErrorKind kindOf(int code) noexcept;

// Waits at most `timeoutMs` for `socket` to be readable or writable
// (kelvo::waitReadable, kelvo::waitWritable); throws when the wait fails.
bool waitFor(kelvo::NativeSocket socket, int mode, std::uint32_t timeoutMs);
}  // namespace detail

// How many file descriptors (Linux) or kernel handles (Windows) the process
// holds, for leak checks around an object's life.
std::size_t openDescriptorCount();

}  // namespace zelvor::test
