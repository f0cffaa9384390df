// A bounded pool of database connections, each lent to one thread at a
// time, so that many threads use the database at once: SQLite's read-only
// connections and PostgreSQL's connections alike.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <functional>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace zelvor::site {

template <class Connection>
class ConnectionPool {
 public:
  using Open = std::function<std::unique_ptr<Connection>()>;
  // Whether a connection given back may be lent again (and readies it).
  using Keep = std::function<bool(Connection&)>;

  // Opens connections with `open` as they are first needed, never more than
  // `maxOpen`; a thread finding them all lent waits for one.
  ConnectionPool(
      std::size_t maxOpen, Open open, Keep keep = [](Connection&) { return true; })
      : maxOpen_(maxOpen), open_(std::move(open)), keep_(std::move(keep)) {}

  // A connection for as long as the lease lives.
  class Lease {
   public:
    Lease(ConnectionPool& pool, std::unique_ptr<Connection> connection)
        : pool_(pool), connection_(std::move(connection)) {}
    ~Lease() { pool_.giveBack(std::move(connection_)); }
    Lease(const Lease&) = delete;
    Lease& operator=(const Lease&) = delete;

    Connection* operator->() const { return connection_.get(); }
    Connection& operator*() const { return *connection_; }

   private:
    ConnectionPool& pool_;
    std::unique_ptr<Connection> connection_;
  };

  Lease lease() { return Lease(*this, take()); }

  // Closes the idle connections, when one that was lent turned out broken
  // and the others most likely are too (the server restarted).
  void dropIdle() {
    std::vector<std::unique_ptr<Connection>> dropped;
    {
      const std::lock_guard lock(mutex_);
      opened_ -= idle_.size();
      dropped.swap(idle_);
    }
    returned_.notify_all();
  }

 private:
  std::unique_ptr<Connection> take() {
    std::unique_lock lock(mutex_);
    returned_.wait(lock, [&] { return !idle_.empty() || opened_ < maxOpen_; });
    if (!idle_.empty()) {
      std::unique_ptr<Connection> connection = std::move(idle_.back());
      idle_.pop_back();
      return connection;
    }
    // Opened outside the lock: opening reads a file or waits for a server,
    // and other threads may meanwhile take the connections that come back.
    ++opened_;
    lock.unlock();
    try {
      return open_();
    } catch (...) {
      giveBack(nullptr);
      throw;
    }
  }

  // Closing a connection that may not be kept frees its place.
  void giveBack(std::unique_ptr<Connection> connection) {
    const bool keep = connection != nullptr && keep_(*connection);
    {
      const std::lock_guard lock(mutex_);
      if (keep) {
        idle_.push_back(std::move(connection));
      } else {
        --opened_;
      }
    }
    returned_.notify_one();
  }

  const std::size_t maxOpen_;
  const Open open_;
  const Keep keep_;
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<Connection>> idle_;
  // Lent, idle and being opened.
  std::size_t opened_ = 0;
};

}  // namespace zelvor::site
