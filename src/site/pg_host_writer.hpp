// Writes a run's host summaries (its row of run_hosts) on a PostgreSQL
// connection, inside the transaction that writes or reads the run: the
// store's post, and the schema step that summarises the runs stored before
// the table was there. Both prepare the one statement below.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "site/pg_connection.hpp"
#include "site/store.hpp"

namespace zelvor::site {

inline constexpr char pgInsertHostSql[] =
    "INSERT INTO run_hosts (class_name, measured_at_ms, run_id, label, hosts)"
    " VALUES ($1, $2, $3, $4, $5)";
inline const std::vector<PgType> pgInsertHostTypes{PgType::bytea, PgType::bigint, PgType::bigint,
                                                   PgType::text, PgType::bytea};

// Runs the statement prepared as `statement` with the run's summaries.
void insertPgHosts(PgConnection& connection, const char* statement, std::int64_t runId,
                   std::string_view className, const std::optional<std::string>& label,
                   std::int64_t measuredAtMs, std::string_view packedHosts, std::string_view what);

}  // namespace zelvor::site
