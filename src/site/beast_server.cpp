#include "site/beast_server.hpp"

#include <signal.h>

#include <algorithm>
#include <boost/asio/dispatch.hpp>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/signal_set.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/asio/strand.hpp>
#include <thread>
#include <vector>

#include "site/beast_session.hpp"
#include "site/request_log.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace net = boost::asio;
using tcp = net::ip::tcp;
using Clock = ConnectionTable::Clock;

namespace {

// The kernel caps it at net.core.somaxconn.
constexpr int listenBacklog = 4096;
// I/O threads only move bytes; a few keep every core busy.
constexpr unsigned maxIoThreads = 4;
// How long accepting pauses after a failure that more connections closing
// may mend (out of file descriptors, most often).
constexpr std::chrono::milliseconds acceptPause{100};
// Refusals and drops are counted and logged at most this often, so that a
// flood of connections cannot flood the log.
constexpr std::chrono::seconds connectionLogPeriod{1};
// How long a stopping site waits for requests that had begun to arrive.
constexpr std::chrono::seconds stopGrace{3};
constexpr std::chrono::milliseconds gracePoll{50};

unsigned ioThreads() { return std::clamp(std::thread::hardware_concurrency(), 1u, maxIoThreads); }

// An accept failure that passes once connections close or memory frees.
bool passes(const boost::system::error_code& error) {
  return error == net::error::no_descriptors || error == net::error::no_buffer_space ||
         error == net::error::no_memory || error == net::error::connection_aborted ||
         error.value() == ENFILE || error == net::error::interrupted;
}

}  // namespace

struct BeastServer::State {
  State(Site& site, const ServerLimits& limits)
      : serving(site, limits),
        io(static_cast<int>(ioThreads())),
        strand(net::make_strand(io)),
        acceptor(strand),
        signals(strand, SIGHUP, SIGTERM, SIGINT),
        pause(strand),
        noteTimer(strand),
        grace(strand) {}

  void accept();
  void onAccept(const boost::system::error_code& error, tcp::socket socket);
  void waitForSignal();
  void shutDown();
  // Abandons the requests still arriving at `end`.
  void awaitGrace(Clock::time_point end);
  // Counts what befell a new connection, and now and then logs the counts.
  void note(std::size_t& count);
  void logNotes(Clock::time_point now);

  // Before the I/O context: its sessions refer to it until they are gone.
  Serving serving;
  net::io_context io;
  // The acceptor, the signals and the pause are the server's own; their
  // handlers run one at a time.
  net::strand<net::io_context::executor_type> strand;
  tcp::acceptor acceptor;
  net::signal_set signals;
  net::steady_timer pause;
  SignalActions actions;
  bool listenFailed = false;

  std::size_t refusedFromOneAddress = 0;
  std::size_t refusedAllBusy = 0;
  std::size_t dropped = 0;
  Clock::time_point lastNote{};
  net::steady_timer noteTimer;
  bool notesDue = false;
  net::steady_timer grace;
};

void BeastServer::State::accept() {
  acceptor.async_accept(net::make_strand(io),
                        [this](const boost::system::error_code& error, tcp::socket socket) {
                          onAccept(error, std::move(socket));
                        });
}

void BeastServer::State::onAccept(const boost::system::error_code& error, tcp::socket socket) {
  if (serving.stopping) return;
  if (error) {
    if (!passes(error)) {
      logLine("the listening socket failed: " + error.message());
      listenFailed = true;
      return shutDown();
    }
    pause.expires_after(acceptPause);
    pause.async_wait([this](const boost::system::error_code& stopped) {
      if (!stopped && !serving.stopping) accept();
    });
    return;
  }
  // A reply leaves in two writes, head and body; with Nagle's algorithm the
  // body waits for the client's delayed acknowledgement of the head.
  boost::system::error_code ignored;
  socket.set_option(tcp::no_delay(true), ignored);
  auto session = std::make_shared<Session>(std::move(socket), serving);
  ConnectionTable::Admission admission =
      serving.table.admit(session->peer(), session, Clock::now());
  if (admission.evicted) {
    admission.evicted->drop();
    note(dropped);
  }
  if (admission.id)
    session->start(*admission.id);
  else
    note(admission.addressFull ? refusedFromOneAddress : refusedAllBusy);
  accept();
}

void BeastServer::State::note(std::size_t& count) {
  ++count;
  const Clock::time_point now = Clock::now();
  if (now - lastNote >= connectionLogPeriod) return logNotes(now);
  if (notesDue) return;
  // What comes within the period is logged at its end.
  notesDue = true;
  noteTimer.expires_at(lastNote + connectionLogPeriod);
  noteTimer.async_wait([this](const boost::system::error_code& error) {
    notesDue = false;
    if (!error) logNotes(Clock::now());
  });
}

void BeastServer::State::logNotes(Clock::time_point now) {
  lastNote = now;
  std::string line = "connections:";
  if (refusedFromOneAddress > 0)
    line += " " + std::to_string(refusedFromOneAddress) + " refused, their address holding " +
            std::to_string(serving.limits.maxConnectionsPerAddress) + ";";
  if (refusedAllBusy > 0)
    line += " " + std::to_string(refusedAllBusy) + " refused, all " +
            std::to_string(serving.limits.maxConnections) + " busy with requests;";
  if (dropped > 0) line += " " + std::to_string(dropped) + " waiting longest closed for newcomers;";
  refusedFromOneAddress = refusedAllBusy = dropped = 0;
  if (line.back() != ';') return;
  line.pop_back();
  logLine(line);
}

void BeastServer::State::waitForSignal() {
  signals.async_wait([this](const boost::system::error_code& error, int signal) {
    if (error) return;
    if (signal == SIGHUP) {
      // Reading the list may take a while; the I/O threads go on meanwhile.
      if (actions.hangup) net::post(serving.workers, actions.hangup);
      return waitForSignal();
    }
    if (actions.stopping) actions.stopping();
    shutDown();
  });
}

void BeastServer::State::shutDown() {
  if (serving.stopping.exchange(true)) return;
  boost::system::error_code ignored;
  acceptor.close(ignored);
  // A second SIGTERM or SIGINT ends the site at once, as by default.
  signals.remove(SIGTERM, ignored);
  signals.remove(SIGINT, ignored);
  signals.cancel(ignored);
  pause.cancel();
  noteTimer.cancel();
  for (const auto& connection : serving.table.all()) connection->stop();
  awaitGrace(Clock::now() + stopGrace);
}

void BeastServer::State::awaitGrace(Clock::time_point end) {
  // Looked at now and then rather than waited out, so that a site with
  // nothing left to answer ends at once.
  if (serving.table.size() == 0) return;
  if (Clock::now() >= end) {
    for (const auto& connection : serving.table.all()) connection->abandon();
    return;
  }
  grace.expires_after(gracePoll);
  grace.async_wait([this, end](const boost::system::error_code& error) {
    if (!error) awaitGrace(end);
  });
}

BeastServer::BeastServer(Site& site, const ServerLimits& limits)
    : state_(std::make_unique<State>(site, limits)) {}

BeastServer::~BeastServer() = default;

int BeastServer::bindTo(const std::string& host, int port) {
  tcp::acceptor& acceptor = state_->acceptor;
  boost::system::error_code error;
  tcp::resolver resolver(state_->io);
  const auto found = resolver.resolve(
      host, std::to_string(port), tcp::resolver::passive | tcp::resolver::numeric_service, error);
  if (!error && found.empty()) error = net::error::host_not_found;
  if (!error) {
    const tcp::endpoint endpoint = found.begin()->endpoint();
    // Only SO_REUSEADDR: SO_REUSEPORT would let a second site share the
    // port and take half the requests into its own store.
    acceptor.open(endpoint.protocol(), error);
    if (!error) acceptor.set_option(tcp::acceptor::reuse_address(true), error);
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(listenBacklog, error);
  }
  if (error) {
    boost::system::error_code ignored;
    acceptor.close(ignored);
    throw kelvo::Failure("Cannot listen on " + host + ":" + std::to_string(port) + ": " +
                         error.message());
  }
  return acceptor.local_endpoint().port();
}

bool BeastServer::serve(SignalActions signals) {
  State& state = *state_;
  state.actions = std::move(signals);
  net::dispatch(state.strand, [&state] {
    if (state.serving.stopping) return;
    state.waitForSignal();
    state.accept();
  });
  // A handler that throws (out of memory, say) loses its connection, not
  // the site.
  const auto run = [&state] {
    for (;;) {
      try {
        state.io.run();
        return;
      } catch (const std::exception& failure) {
        logLine(std::string("a connection failed: ") + failure.what());
      }
    }
  };
  std::vector<std::thread> helpers;
  for (unsigned i = 1; i < ioThreads(); ++i) helpers.emplace_back(run);
  run();
  for (std::thread& helper : helpers) helper.join();
  // Every session has ended, so no answer is waiting any more.
  state.serving.workers.join();
  return !state.listenFailed;
}

void BeastServer::stop() {
  net::post(state_->strand, [state = state_.get()] { state->shutDown(); });
}

}  // namespace zelvor::site
