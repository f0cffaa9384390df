#include "site/sqlite_run_deleter.hpp"

#include <sqlite3.h>

#include "site/sqlite_database.hpp"
#include "site/store_rules.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

// Oldest first by the runs_by_age index.
constexpr char deleteSql[] =
    "DELETE FROM runs WHERE id IN"
    " (SELECT id FROM runs WHERE received_at_ms < ?1 ORDER BY received_at_ms LIMIT ?2)";
constexpr char deleteText[] = "Could not delete old runs from";
constexpr char countChangeText[] = "Could not count the history's change in";

}  // namespace

SqliteRunDeleter::SqliteRunDeleter(const std::string& path)
    : connection_(openSiteDatabase(path)),
      delete_(connection_, deleteSql, deleteText),
      countChange_(connection_, countHistoryChangeSql, countChangeText) {}

std::size_t SqliteRunDeleter::deleteBefore(std::int64_t cutoffMs, std::size_t limit) {
  // The deletion and its count of a history change commit together.
  connection_.execute("BEGIN IMMEDIATE", deleteText);
  try {
    std::size_t deleted = 0;
    {
      StatementUse use(delete_);
      use->bindInteger(1, cutoffMs);
      use->bindSize(2, limit);
      use->step();
      deleted = static_cast<std::size_t>(sqlite3_changes(connection_.get()));
    }
    if (deleted > 0) StatementUse(countChange_)->step();
    connection_.execute("COMMIT", deleteText);
    return deleted;
  } catch (const kelvo::Failure&) {
    connection_.rollback();
    throw;
  }
}

}  // namespace zelvor::site
