#include "site/http_server.hpp"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <cstdio>
#include <thread>

#include "site/connection_stream.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

// cpp-httplib calls the task queue from its accept loop; ours hands the
// connection straight on, since waiting for its first bytes costs no worker.
class HandOnQueue final : public httplib::TaskQueue {
 public:
  void enqueue(std::function<void()> fn) override { fn(); }
  void shutdown() override {}
};

// The kernel caps it at net.core.somaxconn.
constexpr int listenBacklog = 4096;

// What the handlers of the request a worker serves tell the worker.
thread_local bool closeRequested = false;
thread_local Clock::time_point startedAt{};

}  // namespace

HttpServer::HttpServer(const ServerLimits& limits)
    : limits_(limits),
      workers_(std::make_unique<WorkerPool>(limits.workers,
                                            [this](std::unique_ptr<Connection> connection) {
                                              serveConnection(std::move(connection));
                                            })),
      idle_(std::make_unique<IdleConnections>(
          [this](std::unique_ptr<Connection> connection) { workers_->post(std::move(connection)); },
          limits.gathering, limits.requestTimeout)) {
  new_task_queue = [] { return new HandOnQueue; };
  // cpp-httplib's default also sets SO_REUSEPORT, which would let a second
  // site share the port and take half the requests into its own store.
  set_socket_options([](socket_t sock) {
    const int on = 1;
    ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  });
  set_payload_max_length(limits.maxBodyBytes);
  // Only for the Keep-Alive header's figures: the connections are ours.
  set_keep_alive_max_count(limits.maxRequestsPerConnection);
  set_keep_alive_timeout(
      std::chrono::duration_cast<std::chrono::seconds>(limits.keepAliveTimeout).count());
}

HttpServer::~HttpServer() { drain(); }

void HttpServer::drain() {
  // Nothing idle is woken any more; the workers then answer what has
  // arrived, and close each connection after its reply instead of letting
  // it wait again.
  idle_->stop();
  workers_.reset();
}

int HttpServer::bindTo(const std::string& host, int port) {
  const int bound = port == 0 ? bind_to_any_port(host) : (bind_to_port(host, port) ? port : -1);
  if (bound < 0)
    throw kelvo::Failure("Cannot listen on " + host + ":" + std::to_string(port) + ": " +
                         std::generic_category().message(errno));
  // cpp-httplib listens with a backlog of 5, which a burst of clients
  // overflows; listening again only lengthens the queue.
  ::listen(svr_sock_, listenBacklog);
  return bound;
}

bool HttpServer::serve() {
  const bool listened = stopping_ || listen_after_bind();
  stopping_ = true;
  drain();
  serveEnded_ = true;
  return listened;
}

void HttpServer::shutdown() {
  stopping_ = true;
  // cpp-httplib's stop() does nothing before its loop runs: wait for the
  // loop, or for serve() to have seen the flag instead.
  while (!is_running() && !serveEnded_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  if (is_running()) stop();
}

void HttpServer::closeAfterReply() { closeRequested = true; }

Clock::time_point HttpServer::requestStart() { return startedAt; }

bool HttpServer::process_and_close_socket(socket_t sock) {
  auto connection = std::make_unique<Connection>(sock, open_);
  if (open_ > limits_.maxConnections) {
    std::fprintf(stderr, "zelvor-site: %zu connections open; closing a new one\n",
                 limits_.maxConnections);
    return false;
  }
  // A reply leaves in two writes, head and body; with Nagle's algorithm
  // the body waits for the client's delayed acknowledgement of the head.
  const int on = 1;
  ::setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  idle_->add(std::move(connection), Clock::now() + limits_.requestTimeout);
  return true;
}

void HttpServer::serveConnection(std::unique_ptr<Connection> connection) {
  for (;;) {
    ++connection->served;
    const bool last = stopping_ || connection->served >= limits_.maxRequestsPerConnection;
    ConnectionStream stream(*connection, connection->readySince + limits_.requestTimeout,
                            limits_.writeTimeout);
    closeRequested = false;
    startedAt = connection->readySince;
    bool peerCloses = false;
    const bool answered = process_request(stream, last, peerCloses, nullptr);
    if (!answered || peerCloses || last || closeRequested || stopping_) return;
    // A pipelining client's next request may be here already, whole or in
    // part.
    const Clock::time_point now = Clock::now();
    connection->readySince = now;
    if (readyToServe(connection->readAhead(), limits_.gathering)) continue;
    const Clock::time_point deadline =
        connection->hasReadAhead() ? now + limits_.requestTimeout : now + limits_.keepAliveTimeout;
    idle_->add(std::move(connection), deadline);
    return;
  }
}

}  // namespace zelvor::site
