// The schema's steps, oldest first. A later change adds a step at the end and
// leaves the earlier ones alone: databases out there have taken them.
//
// Only plain types (integer ids, text, bytes, integer Unix milliseconds, real)
// so that a PostgreSQL backend can mirror each step.
#include "site/sqlite_schema.hpp"

#include <array>
#include <optional>
#include <string>

#include "catalogue/report.hpp"
#include "site/host_summary.hpp"
#include "site/sqlite_host_writer.hpp"
#include "site/sqlite_statement.hpp"
#include "site/store_rules.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

// Newest first means by id, the order of insertion: received_at_ms comes
// from the clock, which can step back. The report is bytes (BLOB) since it
// is stored exactly as posted, whatever its encoding.
constexpr char runsTable[] = R"(
CREATE TABLE runs (
  id INTEGER PRIMARY KEY,
  handle TEXT NOT NULL UNIQUE,
  class_name TEXT NOT NULL,
  received_at_ms INTEGER NOT NULL,
  median_ms REAL,
  host_count INTEGER NOT NULL,
  sample_count INTEGER NOT NULL,
  report BLOB NOT NULL
);)";

// A class's history walks back by id from one run.
constexpr char classHistoryIndex[] = "CREATE INDEX runs_by_class ON runs (class_name, id);";

// A re-post is found by its digest among the recent runs; retention finds
// the old runs by their time.
constexpr char digestAndAge[] = R"(
ALTER TABLE runs ADD COLUMN digest BLOB;
CREATE INDEX runs_by_digest ON runs (digest) WHERE digest IS NOT NULL;
CREATE INDEX runs_by_age ON runs (received_at_ms);)";

// Runs stored before labels were known have none, and were measured when
// they were received. The index lists one label's runs newest first.
constexpr char labelAndMeasuredTime[] = R"(
ALTER TABLE runs ADD COLUMN label TEXT;
ALTER TABLE runs ADD COLUMN measured_at_ms INTEGER;
UPDATE runs SET measured_at_ms = received_at_ms;
CREATE INDEX runs_by_label ON runs (label, id) WHERE label IS NOT NULL;)";

// Each run's hosts, summarised for the history in one value a run
// (packHostSummaries), under the run's own id, so that a post appends its
// row; found by class and measured time through the index, whose entries
// are small where a table keyed so would carry every value in its index
// pages. A row a host would make a post write many rows in as many places.
constexpr char hostSummaryTable[] = R"(
CREATE TABLE run_hosts (
  run_id INTEGER PRIMARY KEY REFERENCES runs (id) ON DELETE CASCADE,
  class_name TEXT NOT NULL,
  measured_at_ms INTEGER NOT NULL,
  label TEXT,
  hosts BLOB NOT NULL
);
CREATE INDEX run_hosts_by_class ON run_hosts (class_name, measured_at_ms);)";

// Store::historyChanges: one row, from nothing changed.
constexpr char historyChangesTable[] = R"(
CREATE TABLE history_changes (changes INTEGER NOT NULL);
INSERT INTO history_changes VALUES (0);)";

// The runs stored before run_hosts was there get their summaries from
// their reports. A report that no longer reads (none should) leaves its run
// without them rather than the site without its database.
constexpr char storedRunsSql[] =
    "SELECT id, class_name, label, measured_at_ms, report FROM runs ORDER BY id";
constexpr char readRunsText[] = "Could not read the stored runs of";

void summariseStoredRuns(SqliteConnection& connection) {
  SqliteStatement runs(connection, storedRunsSql, readRunsText);
  SqliteHostWriter hosts(connection);
  StatementUse use(runs);
  while (use->step()) {
    ServerClass measured;
    try {
      measured = parseReport(use->columnBytesView(4));
    } catch (const kelvo::Failure&) {
      continue;
    }
    const std::optional<std::string> label =
        use->columnIsNull(2) ? std::nullopt : std::optional(use->columnText(2));
    hosts.write(use->columnInteger(0), use->columnText(1), label, use->columnInteger(3),
                packHostSummaries(measured));
  }
}

struct Step {
  const char* sql;
  // What the step does beyond its SQL, in its transaction; may be none.
  void (*fill)(SqliteConnection&) = nullptr;
};

constexpr std::array steps{Step{runsTable}, Step{classHistoryIndex}, Step{digestAndAge},
                           Step{labelAndMeasuredTime}, Step{hostSummaryTable, summariseStoredRuns},
                           Step{historyChangesTable}};
static_assert(steps.size() == latestSchemaVersion);

constexpr char readVersionText[] = "Could not read the schema version of";
constexpr char readTablesText[] = "Could not read the tables of";
constexpr char beginText[] = "Could not start a schema change in";
constexpr char migrateText[] = "Could not bring up to date the schema of";

int schemaVersion(SqliteConnection& connection) {
  SqliteStatement read(connection, "PRAGMA user_version", readVersionText);
  StatementUse use(read);
  use->step();
  return static_cast<int>(use->columnInteger(0));
}

}  // namespace

void refuseUnknownSchema(SqliteConnection& connection) {
  const int version = schemaVersion(connection);
  if (version > latestSchemaVersion) {
    throw newerSchemaFailure("The database " + connection.path(), version);
  }
  if (version > 0) return;
  SqliteStatement count(connection, "SELECT count(*) FROM sqlite_schema", readTablesText);
  StatementUse use(count);
  use->step();
  if (use->columnInteger(0) != 0) throw foreignSchemaFailure("The database " + connection.path());
}

void migrateSchema(SqliteConnection& connection) {
  for (int version = schemaVersion(connection); version < latestSchemaVersion; ++version) {
    connection.execute("BEGIN IMMEDIATE", beginText);
    try {
      // Read again under the write lock: another process may have taken
      // this step since.
      if (schemaVersion(connection) == version) {
        const Step& step = steps[static_cast<std::size_t>(version)];
        connection.execute(step.sql, migrateText);
        if (step.fill != nullptr) step.fill(connection);
        const std::string setVersion = "PRAGMA user_version = " + std::to_string(version + 1);
        connection.execute(setVersion.c_str(), migrateText);
      }
      connection.execute("COMMIT", migrateText);
    } catch (const kelvo::Failure&) {
      connection.rollback();
      throw;
    }
  }
}

}  // namespace zelvor::site
