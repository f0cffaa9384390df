// The limit on posts per client (--post-limit N/min): each client address,
// or IPv6 /64, may post N reports at once and earns one more every 60/N
// seconds, so a steady client is never refused and a flood is, whatever its
// pace.
#pragma once

#include <chrono>
#include <cstddef>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace zelvor::site {

class PostLimit {
 public:
  using Clock = std::chrono::steady_clock;

  // Addresses remembered at most; a full table forgets those that have
  // earned back all their posts, which are no different from new ones.
  static constexpr std::size_t maxAddresses = 100'000;

  explicit PostLimit(unsigned perMinute) : perMinute_(perMinute) {}

  // None when `client` may post at `now` (and counts the post); else the
  // whole seconds until it may. Clients are counted by clientNetwork, so
  // the addresses of one IPv6 /64 share a limit.
  std::optional<long> take(const std::string& client, Clock::time_point now);

 private:
  struct Bucket {
    double posts;
    Clock::time_point at;
  };
  double earned(const Bucket& bucket, Clock::time_point now) const;

  const unsigned perMinute_;
  std::mutex mutex_;
  std::unordered_map<std::string, Bucket> buckets_;
};

// The address a request is counted under: the connection's peer; behind the
// load balancer `trustedProxy`, the last address of X-Forwarded-For, the one
// the balancer itself added (earlier ones are the client's to forge).
std::string clientAddress(const std::string& peer, std::string_view forwardedFor,
                          const std::string& trustedProxy);

// "N/min" with N from 1 to 1000000; none otherwise.
std::optional<unsigned> parsePostLimit(std::string_view text);

}  // namespace zelvor::site
