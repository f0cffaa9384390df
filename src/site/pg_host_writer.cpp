#include "site/pg_host_writer.hpp"

#include "site/host_summary.hpp"

namespace zelvor::site {

void insertPgHosts(PgConnection& connection, const char* statement, std::int64_t runId,
                   std::string_view className, const std::optional<std::string>& label,
                   std::int64_t measuredAtMs, std::span<const HostSummary> hosts,
                   std::string_view what) {
  for (const HostSummary& host : hosts)
    connection.run(statement,
                   PgParams()
                       .integer(runId)
                       .bytes(className)
                       .optionalBytes(label)
                       .bytes(host.host)
                       .integer(measuredAtMs)
                       .size(host.echoes)
                       .size(host.lost)
                       .bytes(packRoundTrips(host.roundTrips)),
                   what);
}

}  // namespace zelvor::site
