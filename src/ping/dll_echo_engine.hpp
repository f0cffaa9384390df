// The echo-service engine: worker threads each echo their share of the
// servers one at a time through the system's echo service, which times the
// echoes itself. The fallback when the raw-socket engine cannot measure.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "catalogue/catalogue.hpp"
#include "ping/echo_service.hpp"
#include "ping/host_lookup.hpp"
#include "ping/run_state.hpp"
#include "support/sync.hpp"
#include "support/thread.hpp"

namespace zelvor {

class DllEchoEngine {
 public:
  // What the engine needs of the system, replaced by scripted parts in tests.
  struct Platform {
    std::function<std::shared_ptr<EchoService>()> bindService;
    Resolver resolve;
    std::uint32_t lookupsAtOnce = defaultLookupsAtOnce;
  };
  static Platform systemPlatform();

  DllEchoEngine(RunState& state, Platform platform);
  DllEchoEngine(const DllEchoEngine&) = delete;
  DllEchoEngine& operator=(const DllEchoEngine&) = delete;

  // Resolves every host first, then deals the servers round-robin to
  // `threads` workers (threads > 0; never more workers than servers), which
  // echo copies of them; the copies replace the servers once all workers
  // have ended, unless the stop event came first. Returns only when every
  // worker has ended, so no worker outlives what it uses: after the stop
  // event that is within about one echo time-out. Throws
  // echoServiceRefusedText when the service cannot be bound, and
  // kelvo::Failure when a worker cannot be started.
  void run(std::vector<ServerEntry>& servers, std::uint32_t threads);

 private:
  struct Worker {
    DllEchoEngine* engine = nullptr;
    std::vector<ServerEntry> servers;
    std::vector<std::optional<HostAddress>> addresses;  // by server
    kelvo::Thread thread;
  };

  // One echo to `address` (none: the host did not resolve); the opening and
  // closing of the handle are serialised across workers, the echo itself is
  // not.
  EchoSample echoOnce(const std::optional<HostAddress>& address, std::uint32_t timeoutMs);

  static std::uint32_t workerBody(void* argument);
  void work(Worker& worker);
  bool shouldStop() { return abandoned_.load() || state_.stop.isSet(); }

  RunState& state_;
  Platform platform_;
  std::shared_ptr<EchoService> service_;
  kelvo::Mutex echoLock_;
  // Set when the run gives up early (a worker could not be started), so that
  // the workers already running end at their next look.
  std::atomic<bool> abandoned_{false};
};

}  // namespace zelvor
