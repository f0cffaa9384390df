// Retention's connection to the SQLite file: deletes old runs in batches.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "site/sqlite_connection.hpp"
#include "site/sqlite_statement.hpp"

namespace zelvor::site {

class SqliteRunDeleter {
 public:
  explicit SqliteRunDeleter(const std::string& path);

  // Store::deleteRunsBefore.
  std::size_t deleteBefore(std::int64_t cutoffMs, std::size_t limit);

 private:
  // Declared first: the statement is finalized before it closes.
  SqliteConnection connection_;
  SqliteStatement delete_;
  SqliteStatement countChange_;
};

}  // namespace zelvor::site
