// Writes a run's host summaries (its row of run_hosts) on the connection
// that writes the run, inside its transaction: the run writer's, and the
// schema step that summarises the runs stored before the table was there.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "site/sqlite_connection.hpp"
#include "site/sqlite_statement.hpp"
#include "site/store.hpp"

namespace zelvor::site {

class SqliteHostWriter {
 public:
  explicit SqliteHostWriter(SqliteConnection& connection);

  void write(std::int64_t runId, std::string_view className,
             const std::optional<std::string>& label, std::int64_t measuredAtMs,
             std::string_view packedHosts);

 private:
  SqliteStatement insert_;
};

}  // namespace zelvor::site
