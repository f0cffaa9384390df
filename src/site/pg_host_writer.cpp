#include "site/pg_host_writer.hpp"

#include "site/host_summary.hpp"

namespace zelvor::site {

void insertPgHosts(PgConnection& connection, const char* statement, std::int64_t runId,
                   std::string_view className, const std::optional<std::string>& label,
                   std::int64_t measuredAtMs, std::span<const HostSummary> hosts,
                   std::string_view what) {
  connection.run(statement,
                 PgParams()
                     .bytes(className)
                     .integer(measuredAtMs)
                     .integer(runId)
                     .optionalBytes(label)
                     .bytes(packHostSummaries(hosts)),
                 what);
}

}  // namespace zelvor::site
