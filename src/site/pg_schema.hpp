// The runs table in PostgreSQL: the SQLite schema's steps in this dialect,
// one for one, and the table that records how many a database has taken.
#pragma once

#include "site/pg_connection.hpp"

namespace zelvor::site {

// Takes every step the database has not taken yet, all in one transaction
// under a lock of the site's own, so that sites starting together take each
// step once. Refuses, having changed nothing, a database of a newer program
// or one holding other tables and no version.
void migratePostgresSchema(PgConnection& connection);

}  // namespace zelvor::site
