// ScriptedPeer: one thread accepts each connection in turn and plays the
// script on it, waiting in short slices so that the destructor's stop request
// is seen within one slice.
#include "scripted_peer.hpp"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <stdexcept>
#include <utility>

namespace zelvor::test {

namespace {

using Clock = std::chrono::steady_clock;

// The longest a wait lasts before the thread looks at the stop request again.
constexpr std::uint32_t sliceMs = 50;
// The most one receive asks for when the script does not say.
constexpr std::size_t chunkBytes = 16384;

Clock::time_point after(std::uint32_t ms) { return Clock::now() + std::chrono::milliseconds(ms); }

// Rounded up, so that a pause lasts at least as long as asked.
std::uint32_t slice(Clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return static_cast<std::uint32_t>(std::clamp<long long>(left, 0, sliceMs));
}

bool isNameOf(std::string_view name, std::string_view lowerCase) {
  return name.size() == lowerCase.size() &&
         std::equal(name.begin(), name.end(), lowerCase.begin(), [](char a, char b) {
           return (a >= 'A' && a <= 'Z' ? static_cast<char>(a - 'A' + 'a') : a) == b;
         });
}

// The body length a request head announces: the first Content-Length header,
// name in any case, or 0 when there is none or it holds no number.
std::size_t announcedBodyLength(std::string_view head) {
  while (!head.empty()) {
    const std::size_t end = std::min(head.find("\r\n"), head.size());
    const std::string_view line = head.substr(0, end);
    head.remove_prefix(std::min(end + 2, head.size()));
    const std::size_t colon = line.find(':');
    if (colon == std::string_view::npos || !isNameOf(line.substr(0, colon), "content-length")) {
      continue;
    }
    std::string_view value = line.substr(colon + 1);
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) {
      value.remove_prefix(1);
    }
    std::size_t length = 0;
    const std::from_chars_result parsed =
        std::from_chars(value.data(), value.data() + value.size(), length);
    return parsed.ec == std::errc() ? length : 0;
  }
  return 0;
}

}  // namespace

// An accepted connection and the bytes that arrived on it but that no read
// step has used yet.
class ScriptedPeer::Connection {
 public:
  enum class Read { received, closed, reset, timedOut, stopped };

  Connection(ScriptedPeer& peer, std::size_t index, LoopbackSocket socket)
      : peer_(peer), index_(index), socket_(std::move(socket)) {}

  LoopbackSocket& socket() { return socket_; }
  std::string& pending() { return pending_; }

  // One receive of up to `maxBytes` onto pending(), waiting until `deadline`.
  Read receive(std::size_t maxBytes, Clock::time_point deadline) {
    // Each round either ends the call or uses up one slice of the time left.
    for (;;) {
      if (peer_.stopping()) return Read::stopped;
      const std::uint32_t waitMs = slice(deadline);
      if (waitMs == 0) return Read::timedOut;
      std::string piece;
      switch (socket_.receiveSome(piece, maxBytes, waitMs)) {
        case ReceiveResult::received:
          pending_ += piece;
          peer_.recordPiece(index_, piece);
          return Read::received;
        case ReceiveResult::peerClosed:
          return Read::closed;
        case ReceiveResult::reset:
          return Read::reset;
        case ReceiveResult::timedOut:
          break;
      }
    }
  }

  // Sends all of `bytes` unless the client stops taking them for
  // `timeoutMs`; returns how many went.
  std::size_t send(std::string_view bytes, std::uint32_t timeoutMs) {
    std::size_t sent = 0;
    Clock::time_point deadline = after(timeoutMs);
    while (sent < bytes.size() && !peer_.stopping()) {
      const std::uint32_t waitMs = slice(deadline);
      if (waitMs == 0) break;
      const std::size_t now = socket_.sendSome(bytes.substr(sent), waitMs);
      if (now > 0) {
        peer_.recordSent(index_, now);
        deadline = after(timeoutMs);
      }
      sent += now;
    }
    return sent;
  }

 private:
  ScriptedPeer& peer_;
  const std::size_t index_;
  LoopbackSocket socket_;
  std::string pending_;
};

ScriptedPeer::ScriptedPeer(PeerOptions options)
    : options_(options), listener_(LoopbackSocket::listen(options.receiveBufferBytes)) {
  port_ = listener_.localPort();
}

ScriptedPeer::~ScriptedPeer() {
  stop_.store(true);
  if (thread_.joinable()) thread_.join();
}

ScriptedPeer& ScriptedPeer::addStep(Step step) {
  if (started_) throw std::logic_error("ScriptedPeer: steps must come before start()");
  if (scriptClosed_) throw std::logic_error("ScriptedPeer: no step can follow close() or abort()");
  scriptClosed_ = step.kind == StepKind::close || step.kind == StepKind::abort;
  steps_.push_back(std::move(step));
  return *this;
}

ScriptedPeer& ScriptedPeer::readRequest() { return addStep({StepKind::readRequest, {}}); }

ScriptedPeer& ScriptedPeer::readBytes(std::size_t count) {
  return addStep({StepKind::readBytes, {}, count});
}

ScriptedPeer& ScriptedPeer::send(std::string_view bytes) {
  return addStep({StepKind::send, std::string(bytes)});
}

ScriptedPeer& ScriptedPeer::sendInPieces(std::string_view bytes, std::size_t pieceSize,
                                         std::uint32_t pauseMs) {
  if (pieceSize == 0) throw std::invalid_argument("ScriptedPeer::sendInPieces: pieceSize is 0");
  for (std::size_t at = 0; at < bytes.size(); at += pieceSize) {
    if (at > 0) pause(pauseMs);
    send(bytes.substr(at, pieceSize));
  }
  return *this;
}

ScriptedPeer& ScriptedPeer::pause(std::uint32_t ms) {
  return addStep({StepKind::pause, {}, 0, 0, ms});
}

ScriptedPeer& ScriptedPeer::receiveSlowly(std::size_t totalBytes, std::size_t pieceSize,
                                          std::uint32_t pauseMs) {
  if (pieceSize == 0) throw std::invalid_argument("ScriptedPeer::receiveSlowly: pieceSize is 0");
  return addStep({StepKind::receiveSlowly, {}, totalBytes, pieceSize, pauseMs});
}

ScriptedPeer& ScriptedPeer::close() { return addStep({StepKind::close, {}}); }

ScriptedPeer& ScriptedPeer::abort() { return addStep({StepKind::abort, {}}); }

void ScriptedPeer::start(std::size_t connections) {
  if (started_) throw std::logic_error("ScriptedPeer: started twice");
  if (connections == 0) throw std::logic_error("ScriptedPeer: start() needs a connection");
  {
    const std::lock_guard lock(mutex_);
    records_.assign(connections, {});
    finished_.assign(connections, false);
    serving_ = true;
  }
  try {
    thread_ = std::thread(&ScriptedPeer::serve, this, connections);
  } catch (const std::exception& e) {
    const std::lock_guard lock(mutex_);
    serving_ = false;
    failure_ = std::string("no thread: ") + e.what();
    throw;
  }
  started_ = true;
}

ConnectionRecord ScriptedPeer::record(std::size_t index) const {
  std::unique_lock lock(mutex_);
  if (index >= records_.size()) {
    throw std::out_of_range("ScriptedPeer: no connection " + std::to_string(index) + " of " +
                            std::to_string(records_.size()));
  }
  changed_.wait_for(lock, std::chrono::milliseconds(options_.resultWaitMs),
                    [&] { return finished_[index] || !serving_; });
  if (finished_[index]) return records_[index];
  if (!serving_) {
    throw std::runtime_error("ScriptedPeer: connection " + std::to_string(index) +
                             " was never served: " + failure_);
  }
  throw std::runtime_error("ScriptedPeer: the script on connection " + std::to_string(index) +
                           " was still running after " + std::to_string(options_.resultWaitMs) +
                           " ms");
}

std::string ScriptedPeer::received(std::size_t index) const { return record(index).bytes; }

std::size_t ScriptedPeer::connections() const {
  const std::lock_guard lock(mutex_);
  return accepted_;
}

void ScriptedPeer::recordPiece(std::size_t index, std::string_view bytes) {
  const std::lock_guard lock(mutex_);
  records_[index].bytes += bytes;
  records_[index].pieces.push_back(bytes.size());
}

void ScriptedPeer::recordSent(std::size_t index, std::size_t count) {
  const std::lock_guard lock(mutex_);
  records_[index].sent += count;
}

void ScriptedPeer::serve(std::size_t connectionCount) noexcept {
  std::string failure;
  try {
    for (std::size_t index = 0; index < connectionCount && failure.empty(); ++index) {
      LoopbackSocket socket;
      const Clock::time_point deadline = after(options_.acceptTimeoutMs);
      // Each round uses up one slice of the time left, or accepts.
      while (!socket.isOpen()) {
        if (stopping()) {
          failure = "the peer was destroyed first";
          break;
        }
        const std::uint32_t waitMs = slice(deadline);
        if (waitMs == 0) {
          failure =
              "no client connected within " + std::to_string(options_.acceptTimeoutMs) + " ms";
          break;
        }
        socket = listener_.accept(waitMs);
      }
      if (!failure.empty()) break;
      {
        const std::lock_guard lock(mutex_);
        ++accepted_;
      }
      std::string outcome;
      {
        Connection connection(*this, index, std::move(socket));
        try {
          outcome = runScript(connection);
        } catch (const std::exception& e) {
          outcome = e.what();
        }
      }
      {
        const std::lock_guard lock(mutex_);
        records_[index].outcome = std::move(outcome);
        finished_[index] = true;
      }
      changed_.notify_all();
    }
  } catch (const std::exception& e) {
    failure = e.what();
  } catch (...) {
    failure = "an unknown exception";
  }
  {
    const std::lock_guard lock(mutex_);
    failure_ = std::move(failure);
    serving_ = false;
  }
  changed_.notify_all();
}

std::string ScriptedPeer::runScript(Connection& connection) {
  const std::uint32_t limitMs = options_.stepTimeoutMs;
  std::string& pending = connection.pending();
  const std::string stopped = "stopped: the peer was destroyed";

  // Why a read step could not get its bytes, or "" when it could.
  const auto readFailure = [&](Connection::Read read, const std::string& step,
                               std::size_t got) -> std::string {
    const std::string tail = " after " + std::to_string(got) + " bytes";
    switch (read) {
      case Connection::Read::received:
        return "";
      case Connection::Read::closed:
        return step + ": the client closed" + tail;
      case Connection::Read::reset:
        return step + ": the client reset the connection" + tail;
      case Connection::Read::timedOut:
        return step + ": nothing more came within " + std::to_string(limitMs) + " ms," + tail;
      case Connection::Read::stopped:
        break;
    }
    return stopped;
  };
  // Sleeps `ms` in slices; false when stopped meanwhile.
  const auto rest = [&](std::uint32_t ms) {
    const Clock::time_point deadline = after(ms);
    for (std::uint32_t waitMs = slice(deadline); waitMs > 0; waitMs = slice(deadline)) {
      if (stopping()) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(waitMs));
    }
    return !stopping();
  };

  for (const Step& step : steps_) {
    switch (step.kind) {
      case StepKind::readRequest: {
        const Clock::time_point deadline = after(limitMs);
        for (;;) {
          const std::size_t headEnd = pending.find("\r\n\r\n");
          if (headEnd != std::string::npos) {
            const std::size_t length =
                headEnd + 4 + announcedBodyLength(std::string_view(pending).substr(0, headEnd));
            if (pending.size() >= length) {
              pending.erase(0, length);
              break;
            }
          }
          const std::size_t got = pending.size();
          const std::string why =
              readFailure(connection.receive(chunkBytes, deadline), "readRequest", got);
          if (!why.empty()) return why;
        }
        break;
      }
      case StepKind::readBytes: {
        const std::string name = "readBytes(" + std::to_string(step.count) + ")";
        const Clock::time_point deadline = after(limitMs);
        while (pending.size() < step.count) {
          const std::size_t got = pending.size();
          const std::string why =
              readFailure(connection.receive(step.count - got, deadline), name, got);
          if (!why.empty()) return why;
        }
        pending.erase(0, step.count);
        break;
      }
      case StepKind::receiveSlowly: {
        const std::string name = "receiveSlowly(" + std::to_string(step.count) + ")";
        std::size_t got = std::min(pending.size(), step.count);
        pending.erase(0, got);
        while (got < step.count) {
          const Connection::Read read =
              connection.receive(std::min(step.pieceSize, step.count - got), after(limitMs));
          const std::string why = readFailure(read, name, got);
          if (!why.empty()) return why;
          got += pending.size();
          pending.clear();
          if (got < step.count && !rest(step.ms)) return stopped;
        }
        break;
      }
      case StepKind::send: {
        const std::size_t sent = connection.send(step.bytes, limitMs);
        if (stopping()) return stopped;
        if (sent < step.bytes.size()) {
          return "send(" + std::to_string(step.bytes.size()) + " bytes): the client took " +
                 std::to_string(sent) + ", then nothing for " + std::to_string(limitMs) + " ms";
        }
        break;
      }
      case StepKind::pause:
        if (!rest(step.ms)) return stopped;
        break;
      case StepKind::abort:
        connection.socket().abort();
        return "completed";
      case StepKind::close:
        break;
    }
  }

  // A graceful close, asked for or not: a close with unread bytes would
  // reset the connection, so read until the client has closed its side too.
  connection.socket().shutdownSending();
  const Clock::time_point deadline = after(limitMs);
  for (;;) {
    switch (connection.receive(chunkBytes, deadline)) {
      case Connection::Read::received:
        pending.clear();
        continue;
      case Connection::Read::closed:
        return "completed";
      case Connection::Read::reset:
        return "close: the client reset the connection";
      case Connection::Read::timedOut:
        return "close: the client had not closed after " + std::to_string(limitMs) + " ms";
      case Connection::Read::stopped:
        return stopped;
    }
  }
}

}  // namespace zelvor::test
