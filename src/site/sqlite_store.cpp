// The SQLite backend of the store: one writing thread with group commit and a
// pool of readers over the same file, which write-ahead logging lets read
// while a batch is being written.
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>

#include "site/connection_pool.hpp"
#include "site/sqlite_database.hpp"
#include "site/sqlite_reader.hpp"
#include "site/sqlite_run_deleter.hpp"
#include "site/sqlite_run_writer.hpp"
#include "site/store.hpp"

namespace zelvor::site {

namespace {

// Reads are short index look-ups; a few connections keep the cores busy,
// and more would only hold more page caches.
constexpr std::size_t maxReaders = 8;

class SqliteStore final : public Store {
 public:
  SqliteStore(const std::string& path, HandleSource newHandle)
      : writer_(openSiteDatabase(path), std::move(newHandle)),
        readers_(maxReaders, [path] { return std::make_unique<SqliteReader>(path); }),
        path_(path) {}

  std::string addRun(const NewRun& run) override { return writer_.add(run); }

  std::optional<StoredRun> findRun(std::string_view handle) override {
    return readers_.lease()->findRun(handle);
  }

  std::vector<RunSummary> recentRuns(const RunFilter& filter, std::size_t offset,
                                     std::size_t limit) override {
    return readers_.lease()->recentRuns(filter, offset, limit);
  }

  std::size_t runCount(const RunFilter& filter) override {
    return readers_.lease()->runCount(filter);
  }

  std::vector<RunSummary> classHistory(std::string_view handle, std::size_t limit) override {
    return readers_.lease()->classHistory(handle, limit);
  }

  void visitHostPoints(const PointQuery& query, const HostPointVisitor& visit) override {
    readers_.lease()->visitHostPoints(query, visit);
  }

  std::int64_t historyChanges() override { return readers_.lease()->historyChanges(); }

  void check() override { readers_.lease()->check(); }

  // On a connection of its own, opened when first needed: a batch takes
  // the write lock for a moment, which the writer waits out (busy timeout).
  std::size_t deleteRunsBefore(std::int64_t cutoffMs, std::size_t limit) override {
    const std::lock_guard lock(deleterMutex_);
    if (!deleter_) deleter_.emplace(path_);
    return deleter_->deleteBefore(cutoffMs, limit);
  }

 private:
  // The readers close first, so that the writer's connection is the last
  // one and checkpoints the log into the file as it closes.
  SqliteRunWriter writer_;
  // Read-only: a thread finding them all lent waits for one.
  ConnectionPool<SqliteReader> readers_;
  const std::string path_;
  std::mutex deleterMutex_;
  std::optional<SqliteRunDeleter> deleter_;
};

}  // namespace

std::unique_ptr<Store> openSqliteStore(const std::string& path, HandleSource newHandle) {
  return std::make_unique<SqliteStore>(path, std::move(newHandle));
}

}  // namespace zelvor::site
