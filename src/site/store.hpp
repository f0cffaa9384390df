// The site's storage: every run that was posted, kept as the report text it
// came in (the record every figure is computed from), with the few figures
// that lists of runs show. An interface, so that one suite of tests runs
// against every backend.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace zelvor::site {

// One host's share of one run, kept beside the report so that a host's
// history over months reads a few numbers per run instead of every report.
struct HostSummary {
  std::string host;
  // Samples sent, and how many of them failed.
  std::size_t echoes = 0;
  std::size_t lost = 0;
  // The answered round trips (ms), ascending: whole, so that figures pooled
  // over many runs are exact.
  std::vector<std::int32_t> roundTrips;

  bool operator==(const HostSummary&) const = default;
};

// A host's summary of one stored run, as the history reads it back.
struct HostPoint {
  HostSummary summary;
  std::optional<std::string> label;
  std::int64_t measuredAtMs = 0;

  bool operator==(const HostPoint&) const = default;
};

// A host point as the store reads it, valid during the call it is passed
// to: a year of a host's runs is read without a copy of each.
struct HostPointView {
  std::string_view host;
  std::optional<std::string_view> label;
  std::int64_t measuredAtMs = 0;
  std::size_t echoes = 0;
  std::size_t lost = 0;
  std::span<const std::int32_t> roundTrips;
};

using HostPointVisitor = std::function<void(const HostPointView&)>;

// Which summaries to read: one class's, measured in [fromMs, toMs).
struct PointQuery {
  std::string className;
  // None: every host of the class.
  std::optional<std::string> host;
  // None: every label, unlabelled runs too.
  std::optional<std::string> label;
  std::int64_t fromMs = 0;
  std::int64_t toMs = 0;
};

// A run as the site hands it to the store: parsed and checked already.
struct NewRun {
  std::string className;
  // The report exactly as it was posted.
  std::string report;
  // When the site received it, in milliseconds since the Unix epoch.
  std::int64_t receivedAtMs = 0;
  // stats::runMedian of the report; none when nothing answered.
  std::optional<double> medianMs;
  std::size_t hostCount = 0;
  std::size_t sampleCount = 0;
  // postDigest of the post, or empty. A client whose post failed on the
  // way back (a lost connection, a balancer's time-out) cannot know whether
  // its run was stored, and posts it again: a run with the digest of one
  // received within retryWindowMs before it is that same post, and is
  // answered with the earlier handle instead of being stored twice.
  std::string digest;
  // Where it was measured from, when the client or the site's networks
  // file said.
  std::optional<std::string> label;
  // When it was measured: the client's word for a report it kept and sent
  // later, receivedAtMs otherwise. History is ordered by it.
  std::int64_t measuredAtMs = 0;
  // packHostSummaries of the report, stored in the same transaction as the
  // run.
  std::string hostSummaries;
};

// A stored run as lists of runs show it.
struct RunSummary {
  std::string handle;
  std::string className;
  std::int64_t receivedAtMs = 0;
  std::optional<double> medianMs;
  std::size_t hostCount = 0;
  std::size_t sampleCount = 0;
  std::optional<std::string> label;
  std::int64_t measuredAtMs = 0;

  bool operator==(const RunSummary&) const = default;
};

// Which runs a list shows: those of one class, of one label, or both.
struct RunFilter {
  std::optional<std::string> className;
  std::optional<std::string> label;
};

struct StoredRun {
  RunSummary summary;
  std::string report;
};

// Every operation may be called from many threads at once. Failures of the
// storage itself are thrown as one-line texts.
class Store {
 public:
  virtual ~Store() = default;

  // Stores the run in one transaction under a new handle and returns the
  // handle once the run is durable: from then on no crash of the site loses
  // it. A handle is never given twice.
  virtual std::string addRun(const NewRun& run) = 0;

  // The run with exactly this handle.
  virtual std::optional<StoredRun> findRun(std::string_view handle) = 0;

  // Newest first: up to `limit` runs after the `offset` newest of those
  // the filter lets through.
  virtual std::vector<RunSummary> recentRuns(const RunFilter& filter, std::size_t offset,
                                             std::size_t limit) = 0;
  virtual std::size_t runCount(const RunFilter& filter) = 0;

  // Up to `limit` runs of the class of the run `handle`, the newest of them
  // that run itself, oldest first; empty for an unknown handle.
  virtual std::vector<RunSummary> classHistory(std::string_view handle, std::size_t limit) = 0;

  // Calls `visit` with each host summary that `query` selects, by measured
  // time, oldest first; runs measured at the same moment in the order they
  // were stored, and a run's hosts in the order its report first names them.
  virtual void visitHostPoints(const PointQuery& query, const HostPointVisitor& visit) = 0;
  // The same, gathered.
  std::vector<HostPoint> hostPoints(const PointQuery& query);
  // How many times the stored history changed other than by a run stored as
  // it was measured: late runs stored (isLateRun) and deletions that
  // deleted something. Never goes down, and each change counts in the
  // transaction that makes it: a reader that reads this before the points
  // it sums up learns of any change its sum may have missed.
  virtual std::int64_t historyChanges() = 0;

  // Deletes up to `limit` of the runs received before `cutoffMs`, oldest
  // first, with their host summaries, in one transaction; how many runs it
  // deleted. For retention, which calls it again until fewer come back.
  virtual std::size_t deleteRunsBefore(std::int64_t cutoffMs, std::size_t limit) = 0;

  // Throws the failure text unless the store answers a query now: what a
  // load balancer's health check asks.
  virtual void check() = 0;
};

// Gives a new candidate handle each call (site/handle.hpp's randomHandle in
// the program; tests pass scripted ones).
using HandleSource = std::function<std::string()>;

// Opens the SQLite store at `path`, creating the file, and its folder, when
// missing, and bringing an older schema up to date.
std::unique_ptr<Store> openSqliteStore(const std::string& path, HandleSource newHandle);

// Connects to the PostgreSQL database named by `url` (postgresql://...),
// bringing its schema up to date; any number of sites may share it.
// Connections are opened as they are needed, so a database that goes away
// later makes operations fail with a text, not the store.
std::unique_ptr<Store> openPostgresStore(const std::string& url, HandleSource newHandle);

}  // namespace zelvor::site
