#include "site/sqlite_connection.hpp"

#include <sqlite3.h>

#include <utility>

#include "support/failure.hpp"

namespace zelvor::site {

namespace {

// Long enough to ride out another process's checkpoint or migration; short
// enough that a stuck lock shows up as a failure rather than a hang.
constexpr int busyTimeoutMs = 5000;

constexpr char openText[] = "Could not open the database";

}  // namespace

SqliteConnection::SqliteConnection(const std::string& path, int flags) : path_(path) {
  const int code = sqlite3_open_v2(path.c_str(), &db_, flags, nullptr);
  if (code != SQLITE_OK) {
    const std::string text = db_ != nullptr
                                 ? failure(openText)
                                 : std::string(openText) + " " + path + ": " + sqlite3_errstr(code);
    sqlite3_close(db_);
    throw kelvo::Failure(text);
  }
  sqlite3_extended_result_codes(db_, 1);
  sqlite3_busy_timeout(db_, busyTimeoutMs);
}

SqliteConnection::~SqliteConnection() {
  // Every statement is finalized by its owner before this; _v2 would only
  // hide a leak as a zombie connection.
  if (db_ != nullptr) sqlite3_close(db_);
}

SqliteConnection::SqliteConnection(SqliteConnection&& other) noexcept
    : db_(std::exchange(other.db_, nullptr)), path_(std::move(other.path_)) {}

void SqliteConnection::execute(const char* sql, std::string_view what) {
  if (sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) != SQLITE_OK) throw failure(what);
}

kelvo::Failure SqliteConnection::failure(std::string_view what) const {
  std::string text(what);
  text += ' ';
  text += path_;
  text += ": ";
  text += sqlite3_errmsg(db_);
  return kelvo::Failure(std::move(text));
}

bool SqliteConnection::inTransaction() const { return sqlite3_get_autocommit(db_) == 0; }

void SqliteConnection::rollback() noexcept {
  if (inTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

}  // namespace zelvor::site
