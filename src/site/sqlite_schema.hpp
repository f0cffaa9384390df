// The runs table, and the steps that bring any older version of it up to
// date. PRAGMA user_version holds the number of steps a database has taken
// (latestSchemaVersion, in store_rules.hpp, once it is up to date).
#pragma once

#include "site/sqlite_connection.hpp"

namespace zelvor::site {

// Throws, having written nothing, for a database of a later program
// (a newer version) or of another one (tables but no version). The first read
// also refuses a file that is no database at all.
void refuseUnknownSchema(SqliteConnection& connection);

// Takes every step the database has not taken yet, each in a transaction of
// its own that also records the new version, so an interrupted migration
// resumes at the step it stopped in.
void migrateSchema(SqliteConnection& connection);

}  // namespace zelvor::site
