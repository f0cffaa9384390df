#include "site/pg_host_writer.hpp"

#include "site/host_summary.hpp"

namespace zelvor::site {

void insertPgHosts(PgConnection& connection, const char* statement, std::int64_t runId,
                   std::string_view className, const std::optional<std::string>& label,
                   std::int64_t measuredAtMs, std::string_view packedHosts, std::string_view what) {
  connection.run(statement,
                 PgParams()
                     .bytes(className)
                     .integer(measuredAtMs)
                     .integer(runId)
                     .optionalBytes(label)
                     .bytes(packedHosts),
                 what);
}

}  // namespace zelvor::site
