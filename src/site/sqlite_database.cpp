// The order matters: nothing is written to the file before it has been read
// as a database of this program, so a file that is not one stays as it was.
#include "site/sqlite_database.hpp"

#include <sqlite3.h>

#include <filesystem>
#include <system_error>

#include "site/sqlite_schema.hpp"
#include "site/sqlite_statement.hpp"
#include "support/failure.hpp"

namespace zelvor::site {

namespace {

constexpr char folderText[] = "Could not create the folder ";
constexpr char journalText[] = "Could not switch to write-ahead logging in";
constexpr char noWalText[] = " cannot use write-ahead logging; its journal mode stays ";
constexpr char foreignKeysText[] = "Could not turn on foreign keys in";
constexpr char durabilityText[] = "Could not ask for full durability in";

void makeFolderOf(const std::string& path) {
  const std::filesystem::path folder = std::filesystem::path(path).parent_path();
  if (folder.empty()) return;
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) throw kelvo::Failure(folderText + folder.string() + ": " + error.message());
}

// Readers never wait for the writer, and a commit is one append and one
// sync of the log.
void useWriteAheadLog(SqliteConnection& connection) {
  SqliteStatement setMode(connection, "PRAGMA journal_mode = WAL", journalText);
  StatementUse use(setMode);
  use->step();
  const std::string mode = use->columnText(0);
  if (mode != "wal") throw kelvo::Failure("The database " + connection.path() + noWalText + mode);
}

}  // namespace

SqliteConnection openSiteDatabase(const std::string& path) {
  makeFolderOf(path);
  // NOMUTEX: one thread at a time uses a connection, which its owner ensures.
  SqliteConnection connection(path,
                              SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX);
  // Until the file is known to be ours, closing must not checkpoint into it
  // a log that another program left behind.
  sqlite3_db_config(connection.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
  refuseUnknownSchema(connection);
  sqlite3_db_config(connection.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 0, nullptr);
  useWriteAheadLog(connection);
  // The writer and retention's deleter take turns at the write lock; each
  // holds it for one batch, well within this.
  sqlite3_busy_timeout(connection.get(), 5000);
  // FULL syncs the log at every commit, not only at checkpoints.
  connection.execute("PRAGMA synchronous = FULL", durabilityText);
  // A run's host summaries go with it, whichever connection deletes it.
  connection.execute("PRAGMA foreign_keys = ON", foreignKeysText);
  migrateSchema(connection);
  return connection;
}

SqliteConnection openSiteReader(const std::string& path) {
  return SqliteConnection(path, SQLITE_OPEN_READONLY | SQLITE_OPEN_NOMUTEX);
}

}  // namespace zelvor::site
