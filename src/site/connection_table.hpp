// Who holds the site's connections, and which one to let go when they are
// too many. A quiet or slow client costs the site only a connection; this
// table keeps one address from taking them all, and when the site is full
// it drops the connection that has waited longest without completing a
// request, so that a newcomer is always served before an idler.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

namespace zelvor::site {

// What the table may ask of a connection it holds, from any thread.
class HeldConnection {
 public:
  // Close now, whatever it was doing.
  virtual void drop() = 0;
  // The site is stopping: close when no request is under way, else once its
  // reply is written.
  virtual void stop() = 0;
  // The site stops without waiting further: close unless an answer is being
  // computed or written.
  virtual void abandon() = 0;

 protected:
  ~HeldConnection() = default;
};

class ConnectionTable {
 public:
  using Clock = std::chrono::steady_clock;
  using Id = std::uint64_t;

  struct Limits {
    std::size_t total = 10'000;
    std::size_t perAddress = 64;
    // Held to the total alone: the load balancer every client comes
    // through, which would otherwise starve them all.
    std::string exemptAddress;
  };

  struct Admission {
    // None when refused: its address holds all it may, or the site is full
    // and every connection has a request under way.
    std::optional<Id> id;
    // Refused because its address holds all it may.
    bool addressFull = false;
    // The connection dropped from the table to make room; the caller
    // closes it.
    std::shared_ptr<HeldConnection> evicted;
  };

  explicit ConnectionTable(Limits limits) : limits_(std::move(limits)) {}
  ConnectionTable(const ConnectionTable&) = delete;
  ConnectionTable& operator=(const ConnectionTable&) = delete;

  // A new connection from `address`, waiting for its first request since
  // `now`.
  Admission admit(const std::string& address, std::weak_ptr<HeldConnection> connection,
                  Clock::time_point now);
  // The connection waits for a request, or for the rest of one, since `since`.
  void waiting(Id id, Clock::time_point since);
  // A whole request has arrived: the connection is no longer an idler.
  void busy(Id id);
  // The connection is closed. Nothing happens for one already evicted.
  void remove(Id id);

  // Every connection held, for stopping them.
  std::vector<std::shared_ptr<HeldConnection>> all() const;
  std::size_t size() const;

 private:
  struct Entry {
    std::string address;
    std::weak_ptr<HeldConnection> connection;
    // Set while waiting: its key in `waiting_`.
    std::optional<Clock::time_point> waitingSince;
  };

  void stopWaiting(Id id, Entry& entry);
  void erase(std::map<Id, Entry>::iterator entry);

  const Limits limits_;
  mutable std::mutex mutex_;
  Id nextId_ = 1;
  std::map<Id, Entry> entries_;
  std::unordered_map<std::string, std::size_t> perAddress_;
  // Waiting connections, longest waiting first.
  std::set<std::pair<Clock::time_point, Id>> waiting_;
};

}  // namespace zelvor::site
