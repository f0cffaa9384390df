// Group commit. Within a batch each run (its row and its hosts' rows) is
// one savepoint, applied whole or not at all; a run that fails alone (its
// handles ran out, say) fails alone, and the others commit. When SQLite drops the transaction, or
// the commit fails, every run of the batch gets that failure.
#include "site/sqlite_run_writer.hpp"

#include <sqlite3.h>

#include <algorithm>
#include <exception>
#include <iterator>
#include <optional>
#include <utility>

#include "site/store_rules.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

constexpr char insertSql[] =
    "INSERT INTO runs (handle, class_name, received_at_ms, median_ms, host_count, sample_count,"
    " report, digest, label, measured_at_ms) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10)";
// The writer is the only one to insert, so nothing can come between this
// look-up and the insert that follows it.
constexpr char findRepostSql[] =
    "SELECT handle FROM runs WHERE digest = ?1 AND received_at_ms >= ?2"
    " ORDER BY id DESC LIMIT 1";

constexpr char countChangeText[] = "Could not count the history's change in";
constexpr char savepointText[] = "Could not start storing the run in";
constexpr char beginText[] = "Could not start storing runs in";
constexpr char commitText[] = "Could not commit the runs to";
constexpr char insertText[] = "Could not store the run in";
constexpr char findRepostText[] = "Could not look for an earlier post of the run in";
constexpr char unexpectedText[] = "Could not store the run: ";

}  // namespace

SqliteRunWriter::SqliteRunWriter(SqliteConnection connection, HandleSource newHandle)
    : connection_(std::move(connection)),
      // IMMEDIATE takes the write lock at once, so a busy database is met
      // (and waited for) before any run is inserted rather than in the middle.
      begin_(connection_, "BEGIN IMMEDIATE", beginText),
      commit_(connection_, "COMMIT", commitText),
      insert_(connection_, insertSql, insertText),
      findRepost_(connection_, findRepostSql, findRepostText),
      countChange_(connection_, countHistoryChangeSql, countChangeText),
      savepoint_(connection_, "SAVEPOINT run", savepointText),
      release_(connection_, "RELEASE run", commitText),
      undo_(connection_, "ROLLBACK TO run", commitText),
      hostWriter_(connection_),
      newHandle_(std::move(newHandle)),
      thread_(&SqliteRunWriter::serve, this) {}

SqliteRunWriter::~SqliteRunWriter() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  queued_.notify_one();
  thread_.join();
}

std::string SqliteRunWriter::add(const NewRun& run) {
  std::future<Outcome> waited;
  {
    std::lock_guard lock(mutex_);
    if (stopping_) throw kelvo::Failure(storeClosingText);
    queue_.push_back({&run, {}});
    waited = queue_.back().outcome.get_future();
  }
  queued_.notify_one();
  Outcome outcome = waited.get();
  if (outcome.failure) throw std::move(*outcome.failure);
  return std::move(outcome.handle);
}

void SqliteRunWriter::serve() {
  std::vector<Queued> batch;
  for (;;) {
    {
      std::unique_lock lock(mutex_);
      queued_.wait(lock, [&] { return !queue_.empty() || stopping_; });
      if (queue_.empty()) return;
      const auto end =
          queue_.begin() + static_cast<std::ptrdiff_t>(std::min(queue_.size(), maxBatch));
      std::move(queue_.begin(), end, std::back_inserter(batch));
      queue_.erase(queue_.begin(), end);
    }
    storeBatch(batch);
    batch.clear();
  }
}

void SqliteRunWriter::storeBatch(std::vector<Queued>& batch) {
  std::vector<Outcome> outcomes(batch.size());
  std::optional<kelvo::Failure> batchFailure;
  try {
    StatementUse(begin_)->step();
    for (std::size_t i = 0; i < batch.size(); ++i) {
      StatementUse(savepoint_)->step();
      try {
        outcomes[i].handle = insert(*batch[i].run);
      } catch (const kelvo::Failure& text) {
        if (!connection_.inTransaction()) throw;
        StatementUse(undo_)->step();
        outcomes[i].failure = text;
      }
      StatementUse(release_)->step();
    }
    StatementUse(commit_)->step();
  } catch (const kelvo::Failure& text) {
    batchFailure = text;
  } catch (const std::exception& error) {
    batchFailure = kelvo::Failure(unexpectedText + std::string(error.what()));
  }
  if (batchFailure) connection_.rollback();
  // The runs' callers may return, and their runs go, once their promise is
  // kept: nothing below reads a run.
  for (std::size_t i = 0; i < batch.size(); ++i) {
    if (batchFailure) outcomes[i] = {{}, batchFailure};
    batch[i].outcome.set_value(std::move(outcomes[i]));
  }
}

std::string SqliteRunWriter::insert(const NewRun& run) {
  if (!run.digest.empty()) {
    StatementUse use(findRepost_);
    use->bindBytes(1, run.digest);
    use->bindInteger(2, run.receivedAtMs - retryWindowMs);
    if (use->step()) return use->columnText(0);
  }
  for (std::size_t attempt = 0; attempt < handleTries; ++attempt) {
    std::string handle = newHandle_();
    StatementUse use(insert_);
    use->bindText(1, handle);
    use->bindText(2, run.className);
    use->bindInteger(3, run.receivedAtMs);
    use->bindReal(4, run.medianMs);
    use->bindSize(5, run.hostCount);
    use->bindSize(6, run.sampleCount);
    use->bindBytes(7, run.report);
    if (!run.digest.empty()) use->bindBytes(8, run.digest);
    if (run.label) use->bindText(9, *run.label);
    use->bindInteger(10, run.measuredAtMs);
    const int code = use->tryStep();
    if (code == SQLITE_DONE) {
      hostWriter_.write(sqlite3_last_insert_rowid(connection_.get()), run.className, run.label,
                        run.measuredAtMs, run.hostSummaries);
      if (isLateRun(run)) StatementUse(countChange_)->step();
      return handle;
    }
    // The handle is the only unique column besides the id SQLite picks.
    if (code != SQLITE_CONSTRAINT_UNIQUE) throw use->failure();
  }
  throw kelvo::Failure(handlesExhaustedText);
}

}  // namespace zelvor::site
