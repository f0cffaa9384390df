// One connection to an SQLite database file, closed with its owner.
#pragma once

#include <string>
#include <string_view>

#include "support/failure.hpp"

struct sqlite3;

namespace zelvor::site {

class SqliteConnection {
 public:
  // `flags` are sqlite3_open_v2's. Throws a Failure naming the file when it
  // cannot be opened.
  SqliteConnection(const std::string& path, int flags);
  ~SqliteConnection();
  SqliteConnection(SqliteConnection&& other) noexcept;
  SqliteConnection(const SqliteConnection&) = delete;
  SqliteConnection& operator=(const SqliteConnection&) = delete;
  SqliteConnection& operator=(SqliteConnection&&) = delete;

  sqlite3* get() const { return db_; }
  const std::string& path() const { return path_; }

  // Runs SQL that takes no values from outside: schema steps and settings.
  void execute(const char* sql, std::string_view what);

  // The one-line failure text: `what` ends with a word the path can follow
  // ("Could not open"), then the path and SQLite's message.
  kelvo::Failure failure(std::string_view what) const;

  // False once SQLite has rolled back a transaction on its own.
  bool inTransaction() const;

  // Drops the open transaction, if any. Quiet: it runs while another
  // failure is on its way, which is the one to report.
  void rollback() noexcept;

 private:
  sqlite3* db_ = nullptr;
  std::string path_;
};

}  // namespace zelvor::site
