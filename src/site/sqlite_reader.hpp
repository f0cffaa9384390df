// A read-only connection with the store's queries prepared on it. Used by one
// thread at a time; each query reads one snapshot of the database.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "site/sqlite_connection.hpp"
#include "site/sqlite_statement.hpp"
#include "site/store.hpp"

namespace zelvor::site {

class SqliteReader {
 public:
  explicit SqliteReader(const std::string& path);

  // As Store's operations of the same names.
  std::optional<StoredRun> findRun(std::string_view handle);
  std::vector<RunSummary> recentRuns(const RunFilter& filter, std::size_t offset,
                                     std::size_t limit);
  std::size_t runCount(const RunFilter& filter);
  std::vector<RunSummary> classHistory(std::string_view handle, std::size_t limit);
  void visitHostPoints(const PointQuery& query, const HostPointVisitor& visit);
  std::int64_t historyChanges();
  void check();

 private:
  // Declared first: the statements are finalized before it closes.
  SqliteConnection connection_;
  SqliteStatement findRun_;
  SqliteStatement recentRuns_;
  SqliteStatement runCount_;
  SqliteStatement classHistory_;
  SqliteStatement hostPoints_;
  SqliteStatement historyChanges_;
  SqliteStatement check_;
};

}  // namespace zelvor::site
