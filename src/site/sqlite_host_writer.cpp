#include "site/sqlite_host_writer.hpp"

#include "site/host_summary.hpp"

namespace zelvor::site {

namespace {

constexpr char insertSql[] =
    "INSERT INTO run_hosts (class_name, measured_at_ms, run_id, label, hosts)"
    " VALUES (?1, ?2, ?3, ?4, ?5)";
constexpr char insertText[] = "Could not store the run's hosts in";

}  // namespace

SqliteHostWriter::SqliteHostWriter(SqliteConnection& connection)
    : insert_(connection, insertSql, insertText) {}

void SqliteHostWriter::write(std::int64_t runId, std::string_view className,
                             const std::optional<std::string>& label, std::int64_t measuredAtMs,
                             std::string_view packedHosts) {
  StatementUse use(insert_);
  use->bindText(1, className);
  use->bindInteger(2, measuredAtMs);
  use->bindInteger(3, runId);
  if (label) use->bindText(4, *label);
  use->bindBytes(5, packedHosts);
  use->step();
}

}  // namespace zelvor::site
