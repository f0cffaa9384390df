// The one thread that writes runs, with group commit: it takes every run
// queued while it was syncing the last batch, stores them in one transaction
// and syncs once, so the cost of a sync is shared by all the runs that waited
// for it. A run that arrives while nothing is being written is stored at once.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <future>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "site/sqlite_connection.hpp"
#include "site/sqlite_host_writer.hpp"
#include "site/sqlite_statement.hpp"
#include "site/store.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

class SqliteRunWriter {
 public:
  // Runs in one transaction at most; bounds how long the write lock is held
  // and how much one failed commit takes down with it.
  static constexpr std::size_t maxBatch = 256;

  // `connection` is openSiteDatabase's; this object's thread is its only
  // user from now on.
  SqliteRunWriter(SqliteConnection connection, HandleSource newHandle);
  // Stores every run queued so far, then ends the thread.
  ~SqliteRunWriter();
  SqliteRunWriter(const SqliteRunWriter&) = delete;
  SqliteRunWriter& operator=(const SqliteRunWriter&) = delete;

  // Store::addRun: waits until the run's batch is committed (or has failed)
  // and returns its handle (or throws its failure).
  std::string add(const NewRun& run);

 private:
  // What one run ended with: its handle, or a failure. A value rather
  // than an exception, so that no exception object is shared between the
  // writer's thread and the caller's.
  struct Outcome {
    std::string handle;
    std::optional<kelvo::Failure> failure;
  };

  struct Queued {
    // The caller waits on the promise, so the run outlives its use here.
    const NewRun* run;
    std::promise<Outcome> outcome;
  };

  void serve();
  void storeBatch(std::vector<Queued>& batch);
  std::string insert(const NewRun& run);

  // The connection is declared before its statements, so it closes after them.
  SqliteConnection connection_;
  SqliteStatement begin_;
  SqliteStatement commit_;
  SqliteStatement insert_;
  SqliteStatement findRepost_;
  SqliteStatement countChange_;
  SqliteStatement savepoint_;
  SqliteStatement release_;
  SqliteStatement undo_;
  SqliteHostWriter hostWriter_;
  HandleSource newHandle_;

  std::mutex mutex_;
  std::condition_variable queued_;
  std::deque<Queued> queue_;
  bool stopping_ = false;
  // Last: it starts once everything it uses is in place.
  std::thread thread_;
};

}  // namespace zelvor::site
