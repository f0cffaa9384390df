// Lending and taking back the read-only connections.
#include "site/sqlite_reader_pool.hpp"

#include <utility>

namespace zelvor::site {

SqliteReaderPool::SqliteReaderPool(std::string path, std::size_t maxReaders)
    : path_(std::move(path)), maxReaders_(maxReaders) {}

std::unique_ptr<SqliteReader> SqliteReaderPool::take() {
  std::unique_lock lock(mutex_);
  returned_.wait(lock, [&] { return !idle_.empty() || opened_ < maxReaders_; });
  if (!idle_.empty()) {
    std::unique_ptr<SqliteReader> reader = std::move(idle_.back());
    idle_.pop_back();
    return reader;
  }
  // Opened outside the lock: opening reads the file, and other threads may
  // meanwhile take the connections that come back.
  ++opened_;
  lock.unlock();
  try {
    return std::make_unique<SqliteReader>(path_);
  } catch (...) {
    lock.lock();
    --opened_;
    lock.unlock();
    returned_.notify_one();
    throw;
  }
}

void SqliteReaderPool::giveBack(std::unique_ptr<SqliteReader> reader) {
  {
    std::lock_guard lock(mutex_);
    idle_.push_back(std::move(reader));
  }
  returned_.notify_one();
}

}  // namespace zelvor::site
