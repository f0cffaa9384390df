// Opening the site's database file: its folder, the checks that leave a file
// that is not ours untouched, the journal and durability settings, and the
// schema.
#pragma once

#include <string>

#include "site/sqlite_connection.hpp"

namespace zelvor::site {

// The one connection that writes. Creates the file and its folder when
// missing and brings the schema up to date; a run it commits survives a
// power loss (synchronous=FULL, write-ahead log).
SqliteConnection openSiteDatabase(const std::string& path);

// A connection that only reads, for a database openSiteDatabase has opened.
SqliteConnection openSiteReader(const std::string& path);

}  // namespace zelvor::site
