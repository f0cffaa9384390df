// Serves the site's answers over HTTP/1.0 and 1.1 with Boost.Beast: a few
// I/O threads accept connections and read and write every one of them
// asynchronously, each read and write within a deadline; the answers, which
// may wait on the store, run on a bounded pool of workers. So neither quiet
// nor slow clients hold a thread, and the work in progress stays bounded.
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "site/site.hpp"

namespace zelvor::site {

struct ServerLimits {
  // Answers computed at once: the store's calls block.
  std::size_t workers = 16;
  // Connections open at once; when full, the one that has waited longest
  // without completing a request is closed for a newcomer.
  std::size_t maxConnections = 10'000;
  // Connections one address may hold; `trustedProxy` is held only to the
  // total.
  std::size_t maxConnectionsPerAddress = 64;
  std::string trustedProxy;
  // A head longer than this is refused.
  std::size_t maxHeadBytes = 16 * 1024;
  // The longest body the site reads; what all connections may hold at once
  // is a few of these per worker.
  std::size_t maxBodyBytes = 8 * 1024 * 1024;
  // From a request's first byte to its last, from a new connection to its
  // first byte, and from a reply's first byte to its last.
  std::chrono::milliseconds requestTimeout{10'000};
  // How long a connection may wait for its next request.
  std::chrono::milliseconds keepAliveTimeout{5'000};
  std::size_t maxRequestsPerConnection = 100;
};

// What the process's signals mean to the server: SIGHUP calls `hangup`;
// SIGTERM and SIGINT call `stopping`, then stop the server.
struct SignalActions {
  std::function<void()> hangup;
  std::function<void()> stopping;
};

class BeastServer {
 public:
  BeastServer(Site& site, const ServerLimits& limits);
  ~BeastServer();
  BeastServer(const BeastServer&) = delete;
  BeastServer& operator=(const BeastServer&) = delete;

  // Binds the listening socket; port 0 takes a free one. Returns the port.
  // Throws a Failure when the address cannot be bound.
  int bindTo(const std::string& host, int port);
  // Serves until a stopping signal or stop(), then answers the requests that
  // have begun to arrive and closes every connection before it returns.
  // False when it ended because the listening socket failed.
  bool serve(SignalActions signals);
  // Stops taking connections and ends serve(), from any thread.
  void stop();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zelvor::site
