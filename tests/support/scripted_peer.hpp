// A TCP server on 127.0.0.1 that plays a fixed script of reads, sends,
// pauses and closes on each connection it accepts, on its own thread, and
// records every byte it received, so that client tests can shape exactly what
// a server does and check exactly what the client sent.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "loopback_socket.hpp"

namespace zelvor::test {

struct PeerOptions {
  // Non-zero: the receive buffer of accepted connections, so that a client's
  // large send cannot arrive at once (see receiveSlowly).
  std::size_t receiveBufferBytes = 0;
  // How long start() waits for each client to connect; after that the peer
  // gives up and received() throws.
  std::uint32_t acceptTimeoutMs = 10000;
  // The limit of each step that waits on the client (reads, sends, the drain
  // after close).
  std::uint32_t stepTimeoutMs = 10000;
  // How long received() and record() wait for a connection's script to end.
  std::uint32_t resultWaitMs = 30000;
};

// What happened on one accepted connection.
struct ConnectionRecord {
  std::string bytes;                // every byte received, in order
  std::vector<std::size_t> pieces;  // the size of each receive that brought bytes
  // How many bytes of the sends the system took for the client: what it
  // read, and what still waits in the two sockets' buffers.
  std::size_t sent = 0;
  // "completed" when every step ran and, after a graceful close, the client
  // closed too; otherwise what went wrong, e.g. "readBytes(10): the client
  // closed after 4 bytes".
  std::string outcome;
};

// Listens from construction on; port() is known at once. Steps are added
// before start(), which serves the script on each of the given number of
// connections in turn, accepting the next once the last has ended. A script
// that does not end with close() or abort() is closed gracefully.
//
// Everything is bounded: a client that does not come within acceptTimeoutMs
// ends the peer, a step waits at most stepTimeoutMs, and the destructor stops
// the thread within about 50 ms wherever it is.
class ScriptedPeer {
 public:
  explicit ScriptedPeer(PeerOptions options = {});
  ~ScriptedPeer();
  ScriptedPeer(const ScriptedPeer&) = delete;
  ScriptedPeer& operator=(const ScriptedPeer&) = delete;

  std::uint16_t port() const noexcept { return port_; }

  // Steps. Each throws std::logic_error once started or after close()/abort().

  // Reads until "\r\n\r\n" has arrived, then as many more bytes as a
  // Content-Length header (name in any case) announces.
  ScriptedPeer& readRequest();
  ScriptedPeer& readBytes(std::size_t count);
  // One send step per call, NUL bytes included, so a test decides the pieces.
  ScriptedPeer& send(std::string_view bytes);
  // Sends `bytes` in pieces of `pieceSize` with a pause between them; a
  // pieceSize of 0 throws std::invalid_argument, here and in receiveSlowly.
  ScriptedPeer& sendInPieces(std::string_view bytes, std::size_t pieceSize, std::uint32_t pauseMs);
  ScriptedPeer& pause(std::uint32_t ms);
  // Reads `totalBytes`, at most `pieceSize` per receive, pausing `pauseMs`
  // after each piece. With a small receiveBufferBytes this makes the client's
  // send go out in several pieces.
  ScriptedPeer& receiveSlowly(std::size_t totalBytes, std::size_t pieceSize, std::uint32_t pauseMs);
  // Stops sending, keeps reading (and recording) until the client closes,
  // then closes.
  ScriptedPeer& close();
  // Closes at once with a reset, reading nothing more.
  ScriptedPeer& abort();

  // Starts serving. Throws std::logic_error when called twice or with 0.
  void start(std::size_t connections = 1);

  // Waits up to resultWaitMs for the script on connection `index` (0-based,
  // in order of acceptance) to end and returns what happened there. Throws
  // std::runtime_error when that connection never came or its script is still
  // running, std::out_of_range when `index` is not below start's count.
  ConnectionRecord record(std::size_t index) const;
  // record(index).bytes.
  std::string received(std::size_t index) const;

  // How many connections have been accepted so far.
  std::size_t connections() const;

 private:
  enum class StepKind { readRequest, readBytes, send, pause, receiveSlowly, close, abort };
  struct Step {
    StepKind kind;
    std::string bytes;          // send
    std::size_t count = 0;      // readBytes, receiveSlowly
    std::size_t pieceSize = 0;  // receiveSlowly
    std::uint32_t ms = 0;       // pause, receiveSlowly
  };
  class Connection;  // one accepted connection being served

  ScriptedPeer& addStep(Step step);
  void serve(std::size_t connectionCount) noexcept;
  std::string runScript(Connection& connection);
  // Called by Connection as bytes arrive and as sends are taken.
  void recordPiece(std::size_t index, std::string_view bytes);
  void recordSent(std::size_t index, std::size_t count);
  bool stopping() const noexcept { return stop_.load(); }

  const PeerOptions options_;
  LoopbackSocket listener_;
  std::uint16_t port_ = 0;
  std::vector<Step> steps_;  // not changed once the thread runs
  bool scriptClosed_ = false;
  bool started_ = false;

  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  mutable std::condition_variable changed_;
  // Guarded by mutex_.
  std::vector<ConnectionRecord> records_;
  std::vector<bool> finished_;
  std::size_t accepted_ = 0;
  bool serving_ = false;
  std::string failure_;  // why the peer stopped before serving every connection

  std::thread thread_;
};

}  // namespace zelvor::test
