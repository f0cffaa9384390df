// The store's queries. Every one reads the summary columns in the same order,
// so one function turns a row into a RunSummary.
#include "site/sqlite_reader.hpp"

#include "site/host_summary.hpp"
#include "site/sqlite_database.hpp"
#include "site/store_rules.hpp"

namespace zelvor::site {

namespace {

constexpr char findRunSql[] =
    "SELECT handle, class_name, received_at_ms, median_ms, host_count, sample_count, label,"
    " measured_at_ms, report FROM runs WHERE handle = ?1";
// A filter's part left NULL lets every run through.
constexpr char recentRunsSql[] =
    "SELECT handle, class_name, received_at_ms, median_ms, host_count, sample_count, label,"
    " measured_at_ms FROM runs WHERE (?1 IS NULL OR class_name = ?1) AND (?2 IS NULL OR label = ?2)"
    " ORDER BY id DESC LIMIT ?3 OFFSET ?4";
constexpr char runCountSql[] =
    "SELECT count(*) FROM runs WHERE (?1 IS NULL OR class_name = ?1) AND (?2 IS NULL OR label = "
    "?2)";
// The newest `limit` of the class up to the given run, walking the
// (class_name, id) index backwards, then turned oldest first. The inner query
// leaves the reports out: it may be gathered into a temporary table.
constexpr char classHistorySql[] =
    "SELECT handle, class_name, received_at_ms, median_ms, host_count, sample_count, label,"
    " measured_at_ms FROM ("
    " SELECT runs.id, runs.handle, runs.class_name, runs.received_at_ms, runs.median_ms,"
    "  runs.host_count, runs.sample_count, runs.label, runs.measured_at_ms"
    " FROM runs JOIN runs AS given ON runs.class_name = given.class_name AND runs.id <= given.id"
    " WHERE given.handle = ?1 ORDER BY runs.id DESC LIMIT ?2"
    ") ORDER BY id";

// By the run_hosts_by_class index (class, measured time, run), in its
// order; the label, when one is asked for, is checked row by row, and the
// host, when one is, as each run's summaries are read.
constexpr char hostPointsSql[] =
    "SELECT label, measured_at_ms, hosts FROM run_hosts"
    " WHERE class_name = ?1 AND measured_at_ms >= ?2 AND measured_at_ms < ?3"
    " AND (?4 IS NULL OR label = ?4) ORDER BY measured_at_ms, run_id";

constexpr char historyChangesText[] = "Could not read the history's changes in";
constexpr char checkSql[] = "SELECT id FROM runs LIMIT 1";

constexpr int reportColumn = 8;

constexpr char findRunText[] = "Could not look up the run in";
constexpr char recentRunsText[] = "Could not list the runs in";
constexpr char runCountText[] = "Could not count the runs in";
constexpr char classHistoryText[] = "Could not list the class's runs in";
constexpr char hostPointsText[] = "Could not read the hosts' history in";
constexpr char checkText[] = "Could not read the runs in";

RunSummary summaryOf(const SqliteStatement& row) {
  return {row.columnText(0), row.columnText(1), row.columnInteger(2),      row.columnReal(3),
          row.columnSize(4), row.columnSize(5), row.columnOptionalText(6), row.columnInteger(7)};
}

std::vector<RunSummary> summaries(SqliteStatement& query) {
  std::vector<RunSummary> runs;
  while (query.step()) runs.push_back(summaryOf(query));
  return runs;
}

// Parameters 1 and 2; unbound ones are NULL.
void bindFilter(SqliteStatement& query, const RunFilter& filter) {
  if (filter.className) query.bindText(1, *filter.className);
  if (filter.label) query.bindText(2, *filter.label);
}

}  // namespace

SqliteReader::SqliteReader(const std::string& path)
    : connection_(openSiteReader(path)),
      findRun_(connection_, findRunSql, findRunText),
      recentRuns_(connection_, recentRunsSql, recentRunsText),
      runCount_(connection_, runCountSql, runCountText),
      classHistory_(connection_, classHistorySql, classHistoryText),
      hostPoints_(connection_, hostPointsSql, hostPointsText),
      historyChanges_(connection_, historyChangesSql, historyChangesText),
      check_(connection_, checkSql, checkText) {}

std::optional<StoredRun> SqliteReader::findRun(std::string_view handle) {
  StatementUse use(findRun_);
  use->bindText(1, handle);
  if (!use->step()) return std::nullopt;
  return StoredRun{summaryOf(findRun_), use->columnBytes(reportColumn)};
}

std::vector<RunSummary> SqliteReader::recentRuns(const RunFilter& filter, std::size_t offset,
                                                 std::size_t limit) {
  StatementUse use(recentRuns_);
  bindFilter(recentRuns_, filter);
  use->bindSize(3, limit);
  use->bindSize(4, offset);
  return summaries(recentRuns_);
}

std::size_t SqliteReader::runCount(const RunFilter& filter) {
  StatementUse use(runCount_);
  bindFilter(runCount_, filter);
  use->step();
  return use->columnSize(0);
}

std::vector<RunSummary> SqliteReader::classHistory(std::string_view handle, std::size_t limit) {
  StatementUse use(classHistory_);
  use->bindText(1, handle);
  use->bindSize(2, limit);
  return summaries(classHistory_);
}

void SqliteReader::visitHostPoints(const PointQuery& query, const HostPointVisitor& visit) {
  StatementUse use(hostPoints_);
  use->bindText(1, query.className);
  use->bindInteger(2, query.fromMs);
  use->bindInteger(3, query.toMs);
  if (query.label) use->bindText(4, *query.label);
  HostPointView point;
  while (use->step()) {
    point.label = use->columnIsNull(0) ? std::nullopt
                                       : std::optional<std::string_view>(use->columnTextView(0));
    point.measuredAtMs = use->columnInteger(1);
    visitPackedHosts(use->columnBytesView(2), query.host,
                     [&](std::string_view host, std::size_t echoes, std::size_t lost,
                         std::span<const std::int32_t> roundTrips) {
                       point.host = host;
                       point.echoes = echoes;
                       point.lost = lost;
                       point.roundTrips = roundTrips;
                       visit(point);
                     });
  }
}

std::int64_t SqliteReader::historyChanges() {
  StatementUse use(historyChanges_);
  use->step();
  return use->columnInteger(0);
}

void SqliteReader::check() {
  StatementUse use(check_);
  use->step();
}

}  // namespace zelvor::site
