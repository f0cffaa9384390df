// The site's HTTP server: cpp-httplib's request handling and routing over
// connections of our own. Idle connections wait in one epoll thread; a
// fixed pool of workers serves the requests whose bytes have arrived, each
// within a deadline; so neither quiet nor slow clients can take the workers
// for long, and the number of requests in progress stays bounded.
#pragma once

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "site/connection.hpp"
#include "site/idle_connections.hpp"
#include "site/request_framing.hpp"
#include "site/worker_pool.hpp"

namespace zelvor::site {

struct ServerLimits {
  std::size_t workers = 16;
  // Connections open at once, idle or served; more are closed at once.
  std::size_t maxConnections = 1024;
  // A request's body may be this long; a longer one is answered 413 without
  // being read.
  std::size_t maxBodyBytes = 8 * 1024 * 1024;
  // What is gathered of a request before a worker takes it.
  Gathering gathering;
  // From a request's first bytes to its last; and from a new connection to
  // its first bytes.
  std::chrono::milliseconds requestTimeout{10'000};
  // From a reply's first byte to its last.
  std::chrono::milliseconds writeTimeout{10'000};
  // How long a connection may wait for its next request.
  std::chrono::milliseconds keepAliveTimeout{5'000};
  std::size_t maxRequestsPerConnection = 100;
};

// Workers only take requests that have arrived, or that cannot be gathered
// first (request_framing.hpp); so a client that stalls in its head, or in a
// small body, holds no worker, and one that stalls in a large body holds one
// until its deadline.
class HttpServer : public httplib::Server {
 public:
  explicit HttpServer(const ServerLimits& limits);
  ~HttpServer() override;

  // Binds the listening socket; port 0 takes a free one. Returns the port.
  // Throws a Failure when the address cannot be bound.
  int bindTo(const std::string& host, int port);
  // Serves until shutdown(), then answers the requests that have arrived
  // and closes every connection before it returns. False when it ended
  // because the listening socket failed.
  bool serve();
  // Stops taking connections and ends serve(). From any thread, once.
  void shutdown();

  // For a handler: close the connection once this reply is written, as
  // when the rest of the request was left unread.
  static void closeAfterReply();
  // When the request being handled by this thread began to arrive.
  static Clock::time_point requestStart();

 private:
  // Called by cpp-httplib's accept loop for every new connection.
  bool process_and_close_socket(socket_t sock) override;
  void serveConnection(std::unique_ptr<Connection> connection);
  void drain();

  ServerLimits limits_;
  std::atomic<std::size_t> open_{0};
  std::atomic<bool> stopping_{false};
  std::atomic<bool> serveEnded_{false};
  // Ended by drain(): the idle connections' thread first, so that nothing
  // is handed to the workers while they finish.
  std::unique_ptr<WorkerPool> workers_;
  std::unique_ptr<IdleConnections> idle_;
};

}  // namespace zelvor::site
