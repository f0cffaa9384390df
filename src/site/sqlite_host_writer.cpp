#include "site/sqlite_host_writer.hpp"

#include "site/host_summary.hpp"

namespace zelvor::site {

namespace {

constexpr char insertSql[] =
    "INSERT INTO run_hosts (run_id, class_name, label, host, measured_at_ms, echo_count,"
    " lost_count, round_trips) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
constexpr char insertText[] = "Could not store the run's hosts in";

}  // namespace

SqliteHostWriter::SqliteHostWriter(SqliteConnection& connection)
    : insert_(connection, insertSql, insertText) {}

void SqliteHostWriter::write(std::int64_t runId, std::string_view className,
                             const std::optional<std::string>& label, std::int64_t measuredAtMs,
                             std::span<const HostSummary> hosts) {
  for (const HostSummary& host : hosts) {
    const std::string roundTrips = packRoundTrips(host.roundTrips);
    StatementUse use(insert_);
    use->bindInteger(1, runId);
    use->bindText(2, className);
    if (label) use->bindText(3, *label);
    use->bindText(4, host.host);
    use->bindInteger(5, measuredAtMs);
    use->bindSize(6, host.echoes);
    use->bindSize(7, host.lost);
    use->bindBytes(8, roundTrips);
    use->step();
  }
}

}  // namespace zelvor::site
