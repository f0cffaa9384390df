#include "site/sqlite_run_deleter.hpp"

#include <sqlite3.h>

#include "site/sqlite_database.hpp"

namespace zelvor::site {

namespace {

// Oldest first by the runs_by_age index; one statement, one transaction.
constexpr char deleteSql[] =
    "DELETE FROM runs WHERE id IN"
    " (SELECT id FROM runs WHERE received_at_ms < ?1 ORDER BY received_at_ms LIMIT ?2)";
constexpr char deleteText[] = "Could not delete old runs from";

}  // namespace

SqliteRunDeleter::SqliteRunDeleter(const std::string& path)
    : connection_(openSiteDatabase(path)), delete_(connection_, deleteSql, deleteText) {}

std::size_t SqliteRunDeleter::deleteBefore(std::int64_t cutoffMs, std::size_t limit) {
  StatementUse use(delete_);
  use->bindInteger(1, cutoffMs);
  use->bindSize(2, limit);
  use->step();
  return static_cast<std::size_t>(sqlite3_changes(connection_.get()));
}

}  // namespace zelvor::site
