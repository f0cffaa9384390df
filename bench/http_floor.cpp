// The floor of the site's load benchmark (bench/site-load): a bare
// Boost.Beast server on Asio, the library the site serves with, that answers
// POST and GET /zelvor with a fixed handle and nothing else. What the site
// does beyond it (parsing, storing with fsync, statistics, pages, its
// workers, its limits, the request log) is what the benchmark weighs.
//
//   http_floor [--listen 127.0.0.1:PORT] [--threads N]
//
// Port 0, the default, takes any free port. N I/O threads (default: the
// core count) share one io_context; each connection is a session on a strand
// of its own, kept alive for as long as the client asks, HTTP/1.0 or 1.1,
// with Nagle's algorithm off, as on the site.
//
// Logs "listening on http://HOST:PORT/" on stderr, as the site does; ends on
// SIGTERM or SIGINT.
#include <algorithm>
// The parts of Asio used, not <boost/asio.hpp>: with GCC 12 its coroutine
// header, which that one pulls in, misses <utility> in Boost 1.74.
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "command_line.hpp"

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// As long as a real handle (site/handle.hpp), so that replies weigh the same.
constexpr std::string_view fixedHandle = "AbCdEfGhIjKlMnOpQrStUQ";
static_assert(fixedHandle.size() == 22);

// The site's time for a request to arrive or a kept-alive connection to
// wait: a timer armed per read, as the site arms one.
constexpr std::chrono::seconds readTimeout{10};

class Session : public std::enable_shared_from_this<Session> {
 public:
  explicit Session(tcp::socket socket) : stream_(std::move(socket)) {}

  void read() {
    request_ = {};
    stream_.expires_after(readTimeout);
    http::async_read(stream_, buffer_, request_,
                     [self = shared_from_this()](beast::error_code error, std::size_t) {
                       if (!error) self->answer();
                     });
  }

 private:
  void answer() {
    const std::string_view target(request_.target().data(), request_.target().size());
    const bool ours =
        (request_.method() == http::verb::post || request_.method() == http::verb::get) &&
        (target == "/zelvor" || target.starts_with("/zelvor?"));
    reply_ = {ours ? http::status::ok : http::status::not_found, request_.version()};
    if (ours) {
      reply_.set(http::field::content_type, "text/plain; charset=utf-8");
      reply_.body() = fixedHandle;
    }
    reply_.keep_alive(request_.keep_alive());
    reply_.prepare_payload();
    stream_.expires_never();
    http::async_write(stream_, reply_,
                      [self = shared_from_this()](beast::error_code error, std::size_t) {
                        if (error) return;
                        if (self->reply_.keep_alive()) return self->read();
                        self->stream_.socket().shutdown(tcp::socket::shutdown_send, error);
                      });
  }

  beast::tcp_stream stream_;
  beast::flat_buffer buffer_;
  // The body is read, then dropped with the request.
  http::request<http::string_body> request_;
  http::response<http::string_body> reply_;
};

void accept(tcp::acceptor& acceptor, asio::io_context& context) {
  acceptor.async_accept(asio::make_strand(context),
                        [&](beast::error_code error, tcp::socket socket) {
                          if (error == asio::error::operation_aborted) return;
                          if (!error) {
                            socket.set_option(tcp::no_delay(true), error);
                            std::make_shared<Session>(std::move(socket))->read();
                          }
                          accept(acceptor, context);
                        });
}

int usage() {
  std::fputs("usage: http_floor [--listen 127.0.0.1:PORT] [--threads N]\n", stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  std::string host = "127.0.0.1";
  unsigned port = 0;
  unsigned threads = std::max(1u, std::thread::hardware_concurrency());
  for (int i = 1; i < argc; ++i) {
    const std::string_view option = argv[i];
    if (option == "--listen" && i + 1 < argc) {
      const std::string_view address = argv[++i];
      const std::size_t colon = address.rfind(':');
      if (colon == std::string_view::npos || colon == 0) return usage();
      const auto number = zelvor::bench::parseNumber(address.substr(colon + 1));
      if (!number || *number > 65535) return usage();
      host = std::string(address.substr(0, colon));
      port = *number;
    } else if (option == "--threads" && i + 1 < argc) {
      const auto number = zelvor::bench::parseNumber(argv[++i]);
      if (!number || *number == 0 || *number > 256) return usage();
      threads = *number;
    } else {
      return usage();
    }
  }

  asio::io_context context(static_cast<int>(threads));
  tcp::acceptor acceptor(context);
  try {
    const tcp::endpoint endpoint(asio::ip::make_address(host), static_cast<unsigned short>(port));
    acceptor.open(endpoint.protocol());
    acceptor.set_option(asio::socket_base::reuse_address(true));
    acceptor.bind(endpoint);
    acceptor.listen(asio::socket_base::max_listen_connections);
  } catch (const std::exception& failure) {
    std::fprintf(stderr, "http_floor: cannot listen on %s:%u: %s\n", host.c_str(), port,
                 failure.what());
    return 1;
  }
  std::fprintf(stderr, "http_floor: listening on http://%s:%u/\n", host.c_str(),
               acceptor.local_endpoint().port());

  asio::signal_set signals(context, SIGTERM, SIGINT);
  signals.async_wait([&](beast::error_code, int) { context.stop(); });
  accept(acceptor, context);

  std::vector<std::thread> others;
  for (unsigned i = 1; i < threads; ++i) others.emplace_back([&] { context.run(); });
  context.run();
  for (auto& thread : others) thread.join();
  return 0;
}
