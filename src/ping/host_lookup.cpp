#include "ping/host_lookup.hpp"

#include <algorithm>
#include <atomic>
#include <memory>
#include <string>
#include <unordered_map>

#include "net/socket.hpp"
#include "support/thread.hpp"

namespace zelvor {

namespace {

// The lookups of one call, shared by the calling thread and its helpers,
// each of which takes the next host not yet taken and writes its result.
class Lookups {
 public:
  // The result of hosts[i] goes to results[at[i]].
  Lookups(std::vector<const std::string*> hosts, std::vector<std::size_t> at,
          std::vector<std::optional<HostAddress>>& results, const Resolver& resolve,
          IpChoice choice, kelvo::Event& stop, std::uint32_t helpers)
      : hosts_(std::move(hosts)),
        at_(std::move(at)),
        results_(results),
        resolve_(resolve),
        choice_(choice),
        stop_(stop),
        helpers_(helpers),
        helpersLeft_(helpers) {}

  void work() {
    while (!stop_.isSet()) {
      const std::size_t i = next_.fetch_add(1);
      if (i >= hosts_.size()) return;
      // A resolver that throws has not resolved the host; nothing may
      // unwind past the helpers still using this object.
      try {
        results_[at_[i]] = chooseAddress(resolve_(hosts_[i]->c_str()), choice_);
      } catch (...) {
      }
    }
  }

  static std::uint32_t helperBody(void* argument) {
    auto& lookups = *static_cast<Lookups*>(argument);
    lookups.work();
    lookups.helperEnded();
    return 0;
  }

  // Also called for a helper that could not be started.
  void helperEnded() {
    // The last helper's set() is its last touch of this object: a waiter may
    // destroy an event once its wait returns.
    if (helpersLeft_.fetch_sub(1) == 1) allHelpersEnded_.set();
  }

  // A kelvo::Thread's own wait polls every 15 ms, which would hold up the
  // first request for nothing. The event is waited for even when the count
  // already reads 0: the last helper may not have left set() yet, and the
  // event must outlive that.
  void waitForHelpers() {
    if (helpers_ != 0) allHelpersEnded_.wait(kelvo::Thread::infinite);
  }

  const std::vector<const std::string*> hosts_;
  const std::vector<std::size_t> at_;
  std::vector<std::optional<HostAddress>>& results_;  // each written by one thread
  const Resolver& resolve_;
  const IpChoice choice_;
  kelvo::Event& stop_;
  std::atomic<std::size_t> next_{0};
  const std::uint32_t helpers_;
  std::atomic<std::uint32_t> helpersLeft_;
  kelvo::Event allHelpersEnded_;
};

}  // namespace

std::vector<std::optional<HostAddress>> resolveHosts(const std::vector<ServerEntry>& servers,
                                                     const Resolver& resolve, IpChoice choice,
                                                     std::uint32_t atOnce, kelvo::Event& stop) {
  std::vector<std::size_t> serverHost;  // each server's index into results
  std::unordered_map<std::string, std::size_t> seen;
  std::vector<std::optional<HostAddress>> results;
  // The hosts that are names, and where their results go.
  std::vector<const std::string*> names;
  std::vector<std::size_t> nameResults;
  for (const ServerEntry& server : servers) {
    const auto [found, added] = seen.emplace(server.host, results.size());
    serverHost.push_back(found->second);
    if (!added) continue;
    // An address needs no lookup: settled here, it costs no thread, and a
    // list of addresses alone starts none.
    if (const auto literal = kelvo::literalAddress(server.host.c_str())) {
      results.push_back(chooseAddress(std::span(&*literal, 1), choice));
    } else {
      results.emplace_back();
      names.push_back(&server.host);
      nameResults.push_back(results.size() - 1);
    }
  }
  const std::size_t together = std::min<std::size_t>(std::max<std::uint32_t>(atOnce, 1),
                                                     std::max<std::size_t>(names.size(), 1));
  const auto helpers = static_cast<std::uint32_t>(together - 1);
  Lookups lookups(std::move(names), std::move(nameResults), results, resolve, choice, stop,
                  helpers);
  std::vector<std::unique_ptr<kelvo::Thread>> threads;
  for (std::uint32_t h = 0; h < helpers; ++h) {
    try {
      threads.push_back(std::make_unique<kelvo::Thread>(Lookups::helperBody, &lookups));
    } catch (...) {
      // Fewer at once, not none: the calling thread looks up in any case.
      lookups.helperEnded();
    }
  }
  lookups.work();
  lookups.waitForHelpers();

  std::vector<std::optional<HostAddress>> addresses;
  addresses.reserve(servers.size());
  for (const std::size_t host : serverHost) addresses.push_back(results[host]);
  return addresses;
}

}  // namespace zelvor
