// Class names and reports are bytea, not text: a report is stored exactly
// as posted, whatever its encoding, and a text column would refuse bytes
// that are not UTF-8. Handles are ASCII and stay text, readable in psql.
#include "site/pg_schema.hpp"

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "catalogue/report.hpp"
#include "site/host_summary.hpp"
#include "site/pg_host_writer.hpp"
#include "site/store_rules.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

constexpr char runsTable[] = R"(
CREATE TABLE runs (
  id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
  handle text NOT NULL UNIQUE,
  class_name bytea NOT NULL,
  received_at_ms bigint NOT NULL,
  median_ms double precision,
  host_count bigint NOT NULL,
  sample_count bigint NOT NULL,
  report bytea NOT NULL
))";

constexpr char classHistoryIndex[] = "CREATE INDEX runs_by_class ON runs (class_name, id)";

constexpr char digestAndAge[] = R"(
ALTER TABLE runs ADD COLUMN digest bytea;
CREATE INDEX runs_by_digest ON runs (digest) WHERE digest IS NOT NULL;
CREATE INDEX runs_by_age ON runs (received_at_ms))";

constexpr char labelAndMeasuredTime[] = R"(
ALTER TABLE runs ADD COLUMN label text;
ALTER TABLE runs ADD COLUMN measured_at_ms bigint;
UPDATE runs SET measured_at_ms = received_at_ms;
ALTER TABLE runs ALTER COLUMN measured_at_ms SET NOT NULL;
CREATE INDEX runs_by_label ON runs (label, id) WHERE label IS NOT NULL)";

// Each run's hosts, summarised for the history in one value a run
// (packHostSummaries), under the run's own id; found by class and measured
// time through the index.
constexpr char hostSummaryTable[] = R"(
CREATE TABLE run_hosts (
  run_id bigint PRIMARY KEY REFERENCES runs (id) ON DELETE CASCADE,
  class_name bytea NOT NULL,
  measured_at_ms bigint NOT NULL,
  label text,
  hosts bytea NOT NULL
);
CREATE INDEX run_hosts_by_class ON run_hosts (class_name, measured_at_ms, run_id))";

// Store::historyChanges: one row, from nothing changed.
constexpr char historyChangesTable[] = R"(
CREATE TABLE history_changes (changes bigint NOT NULL);
INSERT INTO history_changes VALUES (0))";

// The runs stored before run_hosts was there get their summaries from
// their reports, a batch at a time so that no more than a batch of reports
// is held at once. A report that no longer reads (none should) leaves its
// run without them rather than the site without its database.
constexpr std::size_t summariseBatch = 500;

void summariseStoredRuns(PgConnection& connection, std::string_view what) {
  connection.prepare({"summarise_runs",
                      "SELECT id, class_name, label, measured_at_ms, report FROM runs"
                      " WHERE id > $1 ORDER BY id LIMIT $2",
                      {PgType::bigint, PgType::bigint}});
  connection.prepare({"summarise_hosts", pgInsertHostSql, pgInsertHostTypes});
  std::int64_t after = 0;
  for (;;) {
    const PgResult runs =
        connection.run("summarise_runs", PgParams().integer(after).size(summariseBatch), what);
    for (std::size_t row = 0; row < runs.rows(); ++row) {
      after = runs.integer(row, 0);
      ServerClass measured;
      try {
        measured = parseReport(runs.bytesView(row, 4));
      } catch (const kelvo::Failure&) {
        continue;
      }
      const std::optional<std::string> label = runs.optionalBytes(row, 2);
      insertPgHosts(connection, "summarise_hosts", after, runs.bytesView(row, 1), label,
                    runs.integer(row, 3), packHostSummaries(measured), what);
    }
    if (runs.rows() < summariseBatch) return;
  }
}

struct Step {
  const char* sql;
  // What the step does beyond its SQL, in its transaction; may be none.
  void (*fill)(PgConnection&, std::string_view) = nullptr;
};

constexpr std::array steps{Step{runsTable}, Step{classHistoryIndex}, Step{digestAndAge},
                           Step{labelAndMeasuredTime}, Step{hostSummaryTable, summariseStoredRuns},
                           Step{historyChangesTable}};
static_assert(steps.size() == latestSchemaVersion, "both backends take the same steps");

// Any constant of our own: sites of one database take the same lock.
constexpr char lockSql[] = "SELECT pg_advisory_xact_lock(7359012841)";

// Not named by its URL, which may hold a password.
constexpr char databaseName[] = "The database";
constexpr char migrateText[] = "Could not bring the database's schema up to date";

}  // namespace

void migratePostgresSchema(PgConnection& connection) {
  try {
    connection.execute("BEGIN", migrateText);
    connection.execute(lockSql, migrateText);
    const bool versioned =
        connection
            .query(
                "SELECT 1::bigint FROM pg_tables WHERE schemaname = current_schema()"
                " AND tablename = 'zelvor_schema_version'",
                migrateText)
            .rows() == 1;
    int version = 0;
    if (versioned) {
      version = static_cast<int>(
          connection.query("SELECT version FROM zelvor_schema_version", migrateText).integer(0, 0));
    } else if (connection
                   .query("SELECT count(*) FROM pg_tables WHERE schemaname = current_schema()",
                          migrateText)
                   .integer(0, 0) != 0) {
      throw foreignSchemaFailure(databaseName);
    }
    if (version > latestSchemaVersion) {
      throw newerSchemaFailure(databaseName, version);
    }
    if (!versioned) {
      connection.execute("CREATE TABLE zelvor_schema_version (version bigint NOT NULL)",
                         migrateText);
      connection.execute("INSERT INTO zelvor_schema_version VALUES (0)", migrateText);
    }
    for (; version < latestSchemaVersion; ++version) {
      const Step& step = steps[static_cast<std::size_t>(version)];
      connection.execute(step.sql, migrateText);
      if (step.fill != nullptr) step.fill(connection, migrateText);
      connection.execute(
          ("UPDATE zelvor_schema_version SET version = " + std::to_string(version + 1)).c_str(),
          migrateText);
    }
    connection.execute("COMMIT", migrateText);
  } catch (const kelvo::Failure&) {
    connection.rollback();
    throw;
  }
}

}  // namespace zelvor::site
