// One HTTP connection of the Beast server, from its accept to its close.
// Every handler of a session runs on the session's strand; only the answer
// itself runs on a worker.
#pragma once

#include <atomic>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/thread_pool.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/empty_body.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "site/beast_server.hpp"
#include "site/connection_table.hpp"
#include "site/reply.hpp"
#include "site/request.hpp"
#include "site/site.hpp"

namespace zelvor::site {

// What the server's sessions share.
struct Serving {
  Serving(Site& site, const ServerLimits& limits);

  Site& site;
  const ServerLimits limits;
  ConnectionTable table;
  boost::asio::thread_pool workers;
  // Answers waiting for a worker or being computed; past maxQueued a
  // request is answered busy at once instead of waiting without bound.
  std::atomic<std::size_t> queued{0};
  const std::size_t maxQueued;
  // Declared bodies being read or answered; past maxBodyBytes a request is
  // answered busy, so that memory stays bounded whoever connects.
  std::atomic<std::uint64_t> bodyBytes{0};
  const std::uint64_t maxBodyBytes;
  std::atomic<bool> stopping{false};
};

class Session final : public HeldConnection, public std::enable_shared_from_this<Session> {
 public:
  using Clock = ConnectionTable::Clock;

  Session(boost::asio::ip::tcp::socket socket, Serving& serving);
  ~Session();

  // Begins reading requests, as `id` in the table.
  void start(ConnectionTable::Id id);
  void drop() override;
  void stop() override;
  void abandon() override;
  // The client's address, as the table counts it.
  const std::string& peer() const noexcept { return peer_; }

 private:
  using Parser = boost::beast::http::request_parser<boost::beast::http::string_body>;

  // Closes the connection, from any thread, if `condition` holds once on
  // the strand.
  void closeOnStrandIf(bool (*condition)(const Session&));
  void awaitRequest();
  void readHead();
  void onHead(boost::beast::error_code error);
  void readBody();
  // Counts the declared body in what all connections may hold at once;
  // false when it would not fit.
  bool holdBody(std::uint64_t length);
  void releaseBody();
  void dispatch();
  void send(Reply reply);
  // Sends a refusal of the server's own (busy, malformed), counted as the
  // site's answers are.
  void refuse(Reply reply);
  void onSent(boost::beast::error_code error, bool keepAlive, bool unread);
  // Closes after the last reply, the sending side first. When the client
  // may still be sending (`unread`: its body was refused), what comes is
  // read and dropped for a moment, so that it reads the reply rather than
  // a reset.
  void finish(bool unread);
  void drain();

  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<Parser> parser_;
  boost::beast::http::response<boost::beast::http::empty_body> interim_;
  boost::beast::http::response<boost::beast::http::string_body> response_;
  Serving& serving_;
  std::optional<ConnectionTable::Id> id_;
  const std::string peer_;
  Request request_;
  unsigned version_ = 11;
  bool keepAlive_ = false;
  Clock::time_point started_{};
  std::size_t served_ = 0;
  // Waiting for a request with none of it received: what stop() closes.
  bool idle_ = false;
  // Receiving a request: what abandon() closes too.
  bool reading_ = false;
  std::uint64_t heldBody_ = 0;
  std::size_t drained_ = 0;
};

}  // namespace zelvor::site
