// The benchmark server's loop: read a whole request (header and announced
// body), send the reply, close gracefully.
#include "loopback_http_server.hpp"

#include <algorithm>
#include <cctype>
#include <utility>

namespace zelvor::bench {

namespace {

using zelvor::test::LoopbackSocket;
using zelvor::test::ReceiveResult;

constexpr std::uint32_t pollMs = 50;
constexpr std::uint32_t ioTimeoutMs = 10000;

// The announced body length of a request header, 0 when none is given.
std::size_t announcedLength(std::string header) {
  std::transform(header.begin(), header.end(), header.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::size_t at = header.find("\ncontent-length:");
  if (at == std::string::npos) return 0;
  return std::stoul(header.substr(at + 16));
}

// Reads one request; false when the client went away first.
bool readRequest(LoopbackSocket& connection) {
  std::string bytes;
  std::size_t headerEnd = std::string::npos;
  std::size_t wanted = 0;
  for (;;) {
    if (headerEnd == std::string::npos) {
      headerEnd = bytes.find("\r\n\r\n");
      if (headerEnd != std::string::npos) {
        headerEnd += 4;
        wanted = headerEnd + announcedLength(bytes.substr(0, headerEnd));
      }
    }
    if (headerEnd != std::string::npos && bytes.size() >= wanted) return true;
    if (connection.receiveSome(bytes, 1 << 20, ioTimeoutMs) != ReceiveResult::received) {
      return false;
    }
  }
}

}  // namespace

LoopbackHttpServer::LoopbackHttpServer(std::string reply)
    : listener_(LoopbackSocket::listen()),
      port_(listener_.localPort()),
      reply_(std::move(reply)),
      thread_([this] { serve(); }) {}

LoopbackHttpServer::~LoopbackHttpServer() {
  stop_ = true;
  thread_.join();
}

void LoopbackHttpServer::serve() {
  while (!stop_) {
    LoopbackSocket connection = listener_.accept(pollMs);
    if (!connection.isOpen() || !readRequest(connection)) continue;
    connection.sendAll(reply_, ioTimeoutMs);
    connection.shutdownSending();
    std::string rest;
    while (connection.receiveSome(rest, 4096, ioTimeoutMs) == ReceiveResult::received) rest.clear();
  }
}

}  // namespace zelvor::bench
