// Class names and reports are bytea, not text: a report is stored exactly
// as posted, whatever its encoding, and a text column would refuse bytes
// that are not UTF-8. Handles are ASCII and stay text, readable in psql.
#include "site/pg_schema.hpp"

#include <array>
#include <string>

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

constexpr std::array steps{runsTable, classHistoryIndex, digestAndAge, labelAndMeasuredTime};
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
      connection.execute(steps[static_cast<std::size_t>(version)], migrateText);
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
