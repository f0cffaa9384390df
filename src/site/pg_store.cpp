// The PostgreSQL backend of the store: a pool of connections per site, each
// with every statement prepared on it. Several sites share one database;
// handles stay unique across them because each is random and the handle
// column is unique, never from a counter of one site's own.
//
// A connection found broken (the server restarted, or went away for a
// while) is dropped and the operation tried once more on a new one; if that
// fails too, the failure text goes to the caller, which answers 503.
#include <cstddef>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "site/connection_pool.hpp"
#include "site/host_summary.hpp"
#include "site/pg_connection.hpp"
#include "site/pg_host_writer.hpp"
#include "site/pg_schema.hpp"
#include "site/store.hpp"
#include "site/store_rules.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

// Connections one site opens at most. PostgreSQL gives each its own
// process: eight per site lets a dozen sites share the default limit of a
// hundred, and a site's requests are short enough that eight keep its cores
// busy.
constexpr std::size_t maxConnections = 8;

const std::vector<PgStatement>& statements() {
  using enum PgType;
  static const std::vector<PgStatement> all{
      {"insert_run",
       "INSERT INTO runs (handle, class_name, received_at_ms, median_ms, host_count,"
       " sample_count, report, digest, label, measured_at_ms)"
       " VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10)"
       " ON CONFLICT (handle) DO NOTHING RETURNING id",
       {text, bytea, bigint, doublePrecision, bigint, bigint, bytea, bytea, text, bigint}},
      {"insert_host", pgInsertHostSql, pgInsertHostTypes},
      // Posts of the same report wait for each other here, whichever site
      // took them, so that a re-post finds the first once it is committed.
      {"lock_digest", "SELECT pg_advisory_xact_lock($1)", {bigint}},
      {"find_repost",
       "SELECT handle FROM runs WHERE digest = $1 AND received_at_ms >= $2"
       " ORDER BY id DESC LIMIT 1",
       {bytea, bigint}},
      {"find_run",
       "SELECT handle, class_name, received_at_ms, median_ms, host_count, sample_count, label,"
       " measured_at_ms, report FROM runs WHERE handle = $1",
       {text}},
      // A filter's part left NULL lets every run through.
      {"recent_runs",
       "SELECT handle, class_name, received_at_ms, median_ms, host_count, sample_count, label,"
       " measured_at_ms FROM runs WHERE ($1::bytea IS NULL OR class_name = $1)"
       " AND ($2::text IS NULL OR label = $2) ORDER BY id DESC LIMIT $3 OFFSET $4",
       {bytea, text, bigint, bigint}},
      {"run_count",
       "SELECT count(*) FROM runs WHERE ($1::bytea IS NULL OR class_name = $1)"
       " AND ($2::text IS NULL OR label = $2)",
       {bytea, text}},
      // The newest `limit` of the class up to the run, then turned oldest
      // first. The run's class and id are looked up first, on their own, so
      // that every plan walks the (class_name, id) index back from that id:
      // a join let a generic plan (the one a prepared statement settles on)
      // read the whole class.
      {"class_history",
       "SELECT handle, class_name, received_at_ms, median_ms, host_count, sample_count, label,"
       " measured_at_ms FROM ("
       " SELECT id, handle, class_name, received_at_ms, median_ms, host_count, sample_count,"
       " label, measured_at_ms FROM runs WHERE class_name = (SELECT class_name FROM runs WHERE "
       "handle = $1)"
       "  AND id <= (SELECT id FROM runs WHERE handle = $1)"
       " ORDER BY class_name DESC, id DESC LIMIT $2"
       ") AS history ORDER BY id",
       {text, bigint}},
      // By the run_hosts_by_class index (class, measured time, run); the
      // label, when one is asked for, is checked row by row, and the host,
      // when one is, as each run's summaries are read.
      {"host_points",
       "SELECT label, measured_at_ms, hosts FROM run_hosts"
       " WHERE class_name = $1 AND measured_at_ms >= $2 AND measured_at_ms < $3"
       " AND ($4::text IS NULL OR label = $4) ORDER BY measured_at_ms, run_id",
       {bytea, bigint, bigint, text}},
      {"history_changes", historyChangesSql, {}},
      {"count_history_change", countHistoryChangeSql, {}},
      {"check", "SELECT 1", {}},
      // Oldest first by the runs_by_age index. Several sites sweep at once:
      // each skips the rows another is deleting instead of waiting for them.
      // A deletion counts as a history change in the same statement.
      {"delete_old",
       "WITH gone AS (DELETE FROM runs WHERE id IN (SELECT id FROM runs WHERE received_at_ms < $1"
       " ORDER BY received_at_ms LIMIT $2 FOR UPDATE SKIP LOCKED) RETURNING 1),"
       " counted AS (UPDATE history_changes SET changes = changes + 1"
       " WHERE EXISTS (SELECT 1 FROM gone))"
       " SELECT count(*) FROM gone",
       {bigint, bigint}},
  };
  return all;
}

constexpr char insertText[] = "Could not store the run";
constexpr char findRunText[] = "Could not look up the run";
constexpr char recentRunsText[] = "Could not list the runs";
constexpr char runCountText[] = "Could not count the runs";
constexpr char classHistoryText[] = "Could not list the class's runs";
constexpr char checkText[] = "Could not reach the database";
constexpr char deleteText[] = "Could not delete old runs";
constexpr char hostPointsText[] = "Could not read the hosts' history";
constexpr char historyChangesText[] = "Could not read the history's changes";

RunSummary summaryOf(const PgResult& result, std::size_t row) {
  return {result.bytes(row, 0),         result.bytes(row, 1),  result.integer(row, 2),
          result.real(row, 3),          result.size(row, 4),   result.size(row, 5),
          result.optionalBytes(row, 6), result.integer(row, 7)};
}

std::vector<RunSummary> summaries(const PgResult& result) {
  std::vector<RunSummary> runs;
  for (std::size_t row = 0; row < result.rows(); ++row) runs.push_back(summaryOf(result, row));
  return runs;
}

void visitPoints(const PgResult& result, const std::optional<std::string>& host,
                 const HostPointVisitor& visit) {
  HostPointView point;
  for (std::size_t row = 0; row < result.rows(); ++row) {
    point.label = result.isNull(row, 0) ? std::nullopt
                                        : std::optional<std::string_view>(result.bytesView(row, 0));
    point.measuredAtMs = result.integer(row, 1);
    visitPackedHosts(result.bytesView(row, 2), host,
                     [&](std::string_view name, std::size_t echoes, std::size_t lost,
                         std::span<const std::int32_t> roundTrips) {
                       point.host = name;
                       point.echoes = echoes;
                       point.lost = lost;
                       point.roundTrips = roundTrips;
                       visit(point);
                     });
  }
}

PgParams filterParams(const RunFilter& filter) {
  PgParams params;
  params.optionalBytes(filter.className).optionalBytes(filter.label);
  return params;
}

// Handles are printable ASCII; anything else (a NUL, bytes that are not
// UTF-8) names no run, and PostgreSQL would refuse it as text.
bool mayBeHandle(std::string_view text) {
  for (const char c : text)
    if (c < '!' || c > '~') return false;
  return true;
}

// The first eight bytes of a digest name its lock.
std::int64_t lockKey(std::string_view digest) {
  std::uint64_t key = 0;
  for (std::size_t i = 0; i < 8 && i < digest.size(); ++i)
    key = (key << 8) | static_cast<unsigned char>(digest[i]);
  return static_cast<std::int64_t>(key);
}

class PgStore final : public Store {
 public:
  PgStore(const std::string& url, HandleSource newHandle)
      : pool_(
            maxConnections, [url] { return std::make_unique<PgConnection>(url, statements()); },
            [](PgConnection& connection) {
              if (connection.lost()) return false;
              connection.rollback();
              return true;
            }),
        newHandle_(std::move(newHandle)) {
    // On a connection of its own: the pool's connections prepare their
    // statements on the tables that this may have to make first.
    PgConnection schema(url, {});
    migratePostgresSchema(schema);
  }

  std::string addRun(const NewRun& run) override {
    // Without a digest a second try could store the run twice, if the
    // first was committed just before its connection broke.
    return withConnection(!run.digest.empty(), [&](PgConnection& connection) {
      // The run and its hosts' rows go together.
      connection.execute("BEGIN", insertText);
      std::string handle;
      if (!run.digest.empty()) {
        connection.run("lock_digest", PgParams().integer(lockKey(run.digest)), insertText);
        const PgResult earlier = connection.run(
            "find_repost", PgParams().bytes(run.digest).integer(run.receivedAtMs - retryWindowMs),
            insertText);
        if (earlier.rows() == 1) handle = earlier.bytes(0, 0);
      }
      if (handle.empty()) handle = insert(connection, run);
      connection.execute("COMMIT", insertText);
      return handle;
    });
  }

  std::optional<StoredRun> findRun(std::string_view handle) override {
    if (!mayBeHandle(handle)) return std::nullopt;
    return withConnection(true, [&](PgConnection& connection) -> std::optional<StoredRun> {
      const PgResult found = connection.run("find_run", PgParams().text(handle), findRunText);
      if (found.rows() == 0) return std::nullopt;
      return StoredRun{summaryOf(found, 0), found.bytes(0, 8)};
    });
  }

  std::vector<RunSummary> recentRuns(const RunFilter& filter, std::size_t offset,
                                     std::size_t limit) override {
    return withConnection(true, [&](PgConnection& connection) {
      return summaries(connection.run("recent_runs", filterParams(filter).size(limit).size(offset),
                                      recentRunsText));
    });
  }

  std::size_t runCount(const RunFilter& filter) override {
    return withConnection(true, [&](PgConnection& connection) {
      return connection.run("run_count", filterParams(filter), runCountText).size(0, 0);
    });
  }

  std::vector<RunSummary> classHistory(std::string_view handle, std::size_t limit) override {
    if (!mayBeHandle(handle)) return {};
    return withConnection(true, [&](PgConnection& connection) {
      return summaries(
          connection.run("class_history", PgParams().text(handle).size(limit), classHistoryText));
    });
  }

  std::size_t deleteRunsBefore(std::int64_t cutoffMs, std::size_t limit) override {
    return withConnection(true, [&](PgConnection& connection) {
      return connection.run("delete_old", PgParams().integer(cutoffMs).size(limit), deleteText)
          .size(0, 0);
    });
  }

  void visitHostPoints(const PointQuery& query, const HostPointVisitor& visit) override {
    // Read whole before any is visited: a retry must not visit a row twice.
    const PgResult found = withConnection(true, [&](PgConnection& connection) {
      return connection.run("host_points",
                            PgParams()
                                .bytes(query.className)
                                .integer(query.fromMs)
                                .integer(query.toMs)
                                .optionalBytes(query.label),
                            hostPointsText);
    });
    visitPoints(found, query.host, visit);
  }

  std::int64_t historyChanges() override {
    return withConnection(true, [&](PgConnection& connection) {
      return connection.run("history_changes", PgParams(), historyChangesText).integer(0, 0);
    });
  }

  void check() override {
    withConnection(
        true, [&](PgConnection& connection) { connection.run("check", PgParams(), checkText); });
  }

 private:
  template <class Operation>
  std::invoke_result_t<Operation&, PgConnection&> withConnection(bool mayRetry,
                                                                 Operation operation) {
    for (int attempt = 0;; ++attempt) {
      const auto lease = pool_.lease();
      try {
        return operation(*lease);
      } catch (const kelvo::Failure&) {
        if (!lease->lost() || !mayRetry || attempt == 1) throw;
      }
      pool_.dropIdle();
    }
  }

  std::string insert(PgConnection& connection, const NewRun& run) {
    for (std::size_t attempt = 0; attempt < handleTries; ++attempt) {
      const std::string handle = newHandle_();
      const PgResult inserted = connection.run("insert_run",
                                               PgParams()
                                                   .text(handle)
                                                   .bytes(run.className)
                                                   .integer(run.receivedAtMs)
                                                   .real(run.medianMs)
                                                   .size(run.hostCount)
                                                   .size(run.sampleCount)
                                                   .bytes(run.report)
                                                   .bytesOrNull(run.digest)
                                                   .optionalBytes(run.label)
                                                   .integer(run.measuredAtMs),
                                               insertText);
      // No row: the handle was taken already.
      if (inserted.rows() == 1) {
        insertPgHosts(connection, "insert_host", inserted.integer(0, 0), run.className, run.label,
                      run.measuredAtMs, run.hostSummaries, insertText);
        if (isLateRun(run)) connection.run("count_history_change", PgParams(), insertText);
        return handle;
      }
    }
    throw kelvo::Failure(handlesExhaustedText);
  }

  // A lost connection is closed when given back rather than kept.
  ConnectionPool<PgConnection> pool_;
  HandleSource newHandle_;
};

}  // namespace

std::unique_ptr<Store> openPostgresStore(const std::string& url, HandleSource newHandle) {
  return std::make_unique<PgStore>(url, std::move(newHandle));
}

}  // namespace zelvor::site
