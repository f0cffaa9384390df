// The runs table, and the steps that bring any older version of it up to
// date. PRAGMA user_version holds the number of steps a database has taken.
#pragma once

#include <string>

#include "site/sqlite_connection.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

inline constexpr int latestSchemaVersion = 3;

// The two refusals both backends give, `database` naming the database as the
// backend can ("The database" and its path, where it has one).
kelvo::Failure newerSchemaFailure(const std::string& database, int version);
kelvo::Failure foreignSchemaFailure(const std::string& database);

// Throws, having written nothing, for a database of a later program
// (a newer version) or of another one (tables but no version). The first read
// also refuses a file that is no database at all.
void refuseUnknownSchema(SqliteConnection& connection);

// Takes every step the database has not taken yet, each in a transaction of
// its own that also records the new version, so an interrupted migration
// resumes at the step it stopped in.
void migrateSchema(SqliteConnection& connection);

}  // namespace zelvor::site
