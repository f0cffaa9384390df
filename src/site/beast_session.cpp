#include "site/beast_session.hpp"

#include <boost/asio/dispatch.hpp>
#include <boost/asio/execution/outstanding_work.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/prefer.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>
#include <cstdint>
#include <limits>
#include <string>
#include <utility>

#include "site/query.hpp"
#include "site/request_log.hpp"

namespace zelvor::site {

namespace net = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

// Answers waiting for a worker, per worker, before requests are turned away.
constexpr std::size_t queuedPerWorker = 64;
// Bodies of the longest length held at once, per worker, before requests
// with bodies are turned away.
constexpr std::uint64_t bodiesPerWorker = 2;
// What one read asks for while a connection waits for a request.
constexpr std::size_t firstReadBytes = 4096;
// After the last reply, how long and how much of what the client still
// sends is read and dropped before the connection is closed.
constexpr std::chrono::seconds drainTime{2};
constexpr std::size_t drainBytes = 1024 * 1024;

std::string textOf(beast::string_view text) { return std::string(text.data(), text.size()); }

std::string peerOf(const net::ip::tcp::socket& socket) {
  beast::error_code error;
  const auto endpoint = socket.remote_endpoint(error);
  return error ? std::string() : endpoint.address().to_string();
}

// A fault in the request's bytes, rather than in the connection.
bool isMalformed(const beast::error_code& error) {
  return error.category() == http::make_error_code(http::error::bad_target).category() &&
         error != http::error::end_of_stream && error != http::error::partial_message;
}

}  // namespace

Serving::Serving(Site& site, const ServerLimits& limits)
    : site(site),
      limits(limits),
      table(ConnectionTable::Limits{limits.maxConnections, limits.maxConnectionsPerAddress,
                                    limits.trustedProxy}),
      workers(limits.workers),
      maxQueued(limits.workers * queuedPerWorker),
      maxBodyBytes(limits.workers * bodiesPerWorker * limits.maxBodyBytes) {}

Session::Session(net::ip::tcp::socket socket, Serving& serving)
    : stream_(std::move(socket)), serving_(serving), peer_(peerOf(stream_.socket())) {}

Session::~Session() {
  releaseBody();
  if (id_) serving_.table.remove(*id_);
}

void Session::start(ConnectionTable::Id id) {
  id_ = id;
  net::dispatch(stream_.get_executor(), [self = shared_from_this()] { self->awaitRequest(); });
}

void Session::drop() {
  closeOnStrandIf([](const Session&) { return true; });
}

void Session::stop() {
  closeOnStrandIf([](const Session& session) { return session.idle_; });
}

void Session::abandon() {
  closeOnStrandIf([](const Session& session) { return session.idle_ || session.reading_; });
}

void Session::closeOnStrandIf(bool (*condition)(const Session&)) {
  net::post(stream_.get_executor(), [self = shared_from_this(), condition] {
    if (condition(*self)) self->stream_.close();
  });
}

void Session::awaitRequest() {
  serving_.table.waiting(*id_, Clock::now());
  // A pipelining client's next request may be here already.
  if (buffer_.size() > 0) return readHead();
  if (serving_.stopping) return finish(false);
  idle_ = true;
  stream_.expires_after(served_ == 0 ? serving_.limits.requestTimeout
                                     : serving_.limits.keepAliveTimeout);
  stream_.async_read_some(buffer_.prepare(firstReadBytes),
                          [self = shared_from_this()](beast::error_code error, std::size_t got) {
                            self->idle_ = false;
                            if (error) return;
                            self->buffer_.commit(got);
                            self->readHead();
                          });
}

void Session::readHead() {
  idle_ = false;
  reading_ = true;
  request_ = Request{};
  started_ = Clock::now();
  stream_.expires_after(serving_.limits.requestTimeout);
  parser_.emplace();
  parser_->header_limit(static_cast<std::uint32_t>(serving_.limits.maxHeadBytes));
  // The body's length is judged from the head by the site, which refuses
  // what it will not read; the parser's own limit would fail the head. (Not
  // boost::none: Boost 1.74's parser takes any length to exceed that.)
  parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
  http::async_read_header(
      stream_, buffer_, *parser_,
      [self = shared_from_this()](beast::error_code error, std::size_t) { self->onHead(error); });
}

void Session::onHead(beast::error_code error) {
  if (error) {
    if (isMalformed(error)) refuse(Site::malformed());
    return;
  }
  const auto& head = parser_->get();
  request_.method = textOf(head.method_string());
  const std::string target = textOf(head.target());
  const std::size_t question = target.find('?');
  const std::optional<std::string> path = percentDecoded(target.substr(0, question), false);
  if (!path) return refuse(Site::malformed());
  request_.path = *path;
  if (question != std::string::npos) request_.query = target.substr(question + 1);
  if (const auto length = parser_->content_length()) request_.contentLength = *length;
  request_.chunked = head.find(http::field::transfer_encoding) != head.end();
  if (const auto forwarded = head.find("X-Forwarded-For"); forwarded != head.end())
    request_.forwardedFor = textOf(forwarded->value());
  request_.peer = peer_;
  version_ = head.version();
  keepAlive_ = head.keep_alive();
  if (std::optional<Reply> refusal = serving_.site.screen(request_))
    return send(std::move(*refusal));
  if (parser_->is_done()) return dispatch();
  if (!holdBody(*request_.contentLength)) {
    Reply busy = Site::busy();
    busy.close = true;
    return refuse(std::move(busy));
  }
  // A client that asks leave to send its body waits for it; one speaking
  // HTTP/1.0 cannot be given it, and one that sent it already needs none.
  const auto expect = head.find(http::field::expect);
  if (version_ < 11 || buffer_.size() >= *request_.contentLength || expect == head.end() ||
      !beast::iequals(expect->value(), "100-continue"))
    return readBody();
  interim_ = {http::status::continue_, version_};
  http::async_write(stream_, interim_,
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                      if (!error) self->readBody();
                    });
}

void Session::readBody() {
  // The site has accepted the declared length, which is all there is to
  // read: a request's body without one is chunked and refused.
  parser_->body_limit(*request_.contentLength);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code error, std::size_t) {
                     if (error) return;
                     self->request_.body = std::move(self->parser_->get().body());
                     self->dispatch();
                   });
}

bool Session::holdBody(std::uint64_t length) {
  // The parser takes room for the whole declared body at once.
  if (serving_.bodyBytes.fetch_add(length) + length > serving_.maxBodyBytes) {
    serving_.bodyBytes -= length;
    return false;
  }
  heldBody_ = length;
  return true;
}

void Session::releaseBody() {
  serving_.bodyBytes -= heldBody_;
  heldBody_ = 0;
}

void Session::dispatch() {
  reading_ = false;
  serving_.table.busy(*id_);
  if (++serving_.queued > serving_.maxQueued) {
    --serving_.queued;
    return refuse(Site::busy());
  }
  // An executor that counts as work keeps the I/O threads running until the
  // answer is back.
  net::post(serving_.workers, [self = shared_from_this(),
                               back = net::prefer(stream_.get_executor(),
                                                  net::execution::outstanding_work.tracked)] {
    Reply reply = self->serving_.site.answer(self->request_);
    --self->serving_.queued;
    net::post(back, [self, reply = std::move(reply)]() mutable { self->send(std::move(reply)); });
  });
}

void Session::refuse(Reply reply) {
  serving_.site.countRefusal(reply);
  send(std::move(reply));
}

void Session::send(Reply reply) {
  reading_ = false;
  ++served_;
  // Waiting on the client again: one that does not read its reply is an
  // idler like one that does not send its request.
  serving_.table.waiting(*id_, Clock::now());
  releaseBody();
  std::string().swap(request_.body);
  const bool keepAlive = keepAlive_ && !reply.close && !serving_.stopping &&
                         served_ < serving_.limits.maxRequestsPerConnection;
  logRequest(request_, reply,
             std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - started_));
  response_ = {};
  response_.version(version_);
  response_.result(static_cast<unsigned>(reply.status));
  for (auto& [name, value] : reply.headers) response_.insert(name, value);
  response_.keep_alive(keepAlive);
  // Says when an idle connection will be closed, so that a client does not
  // send a request on one the site is closing.
  if (keepAlive)
    response_.set(
        http::field::keep_alive,
        "timeout=" +
            std::to_string(
                std::chrono::duration_cast<std::chrono::seconds>(serving_.limits.keepAliveTimeout)
                    .count()) +
            ", max=" + std::to_string(serving_.limits.maxRequestsPerConnection - served_));
  const std::size_t length = reply.body.size();
  if (request_.method != "HEAD") response_.body() = std::move(reply.body);
  response_.content_length(length);
  stream_.expires_after(serving_.limits.requestTimeout);
  http::async_write(
      stream_, response_,
      [self = shared_from_this(), keepAlive, unread = reply.close](
          beast::error_code error, std::size_t) { self->onSent(error, keepAlive, unread); });
}

void Session::onSent(beast::error_code error, bool keepAlive, bool unread) {
  if (error) return;
  response_ = {};
  if (!keepAlive) return finish(unread);
  parser_.reset();
  awaitRequest();
}

void Session::finish(bool unread) {
  beast::error_code ignored;
  stream_.socket().shutdown(net::ip::tcp::socket::shutdown_send, ignored);
  // Closing with bytes unread would reset the connection, and the client
  // could lose the reply before reading it.
  if (!unread && buffer_.size() == 0 && stream_.socket().available(ignored) == 0)
    return stream_.close();
  stream_.expires_after(drainTime);
  idle_ = true;
  drain();
}

void Session::drain() {
  buffer_.consume(buffer_.size());
  stream_.async_read_some(buffer_.prepare(firstReadBytes),
                          [self = shared_from_this()](beast::error_code error, std::size_t got) {
                            self->drained_ += got;
                            if (!error && self->drained_ < drainBytes) self->drain();
                          });
}

}  // namespace zelvor::site
