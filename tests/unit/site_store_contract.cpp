// The cases of the store's contract (site_store_contract.hpp).
#include "site_store_contract.hpp"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <mutex>
#include <set>
#include <thread>

#include "site/host_summary.hpp"
#include "site/store_rules.hpp"
#include "support/failure.hpp"

namespace zelvor::site {
void PrintTo(const RunSummary& run, std::ostream* out) {
  *out << run.handle << " " << run.className << " @" << run.receivedAtMs;
}
void PrintTo(const HostPoint& point, std::ostream* out) {
  *out << point.summary.host << " " << point.label.value_or("(none)") << " @" << point.measuredAtMs
       << " " << point.summary.echoes << "/" << point.summary.lost << " [";
  for (const std::int32_t rtt : point.summary.roundTrips) *out << rtt << ' ';
  *out << "]";
}
}  // namespace zelvor::site

namespace zelvor::test {

using namespace zelvor::site;

NewRun runOf(std::string className, std::string report, std::int64_t receivedAtMs) {
  return {
      std::move(className), std::move(report), receivedAtMs, 12.5, 2, 6, {}, {}, receivedAtMs, {}};
}

RunSummary summaryOf(const std::string& handle, const NewRun& run) {
  return {handle,        run.className,   run.receivedAtMs, run.medianMs,
          run.hostCount, run.sampleCount, run.label,        run.measuredAtMs};
}

NewRun summarisedRun(std::string className, std::optional<std::string> label,
                     std::int64_t measuredAtMs, std::vector<HostSummary> hosts) {
  NewRun run = runOf(std::move(className), "r", measuredAtMs);
  run.label = std::move(label);
  run.hostSummaries = site::packHostSummaries(hosts);
  return run;
}

Handles handlesOf(const std::vector<RunSummary>& runs) {
  Handles handles;
  for (const RunSummary& run : runs) handles.push_back(run.handle);
  return handles;
}

HandleSource scripted(Handles script) {
  struct State {
    std::mutex mutex;
    Handles script;
    std::size_t next = 0;
  };
  auto state = std::make_shared<State>();
  state->script = std::move(script);
  return [state] {
    std::lock_guard lock(state->mutex);
    if (state->next == state->script.size()) throw kelvo::Failure("the script has ended");
    const std::string entry = state->script[state->next++];
    if (entry.starts_with('!')) throw kelvo::Failure(entry.substr(1));
    return entry;
  };
}

std::string addFailure(Store& store, const NewRun& run) {
  try {
    return "stored as " + store.addRun(run);
  } catch (const kelvo::Failure& text) {
    return text;
  }
}

void InTempDir::SetUp() {
  std::string pattern = (fs::temp_directory_path() / "zelvor-store-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  dir_ = pattern;
}

void InTempDir::TearDown() {
  if (!dir_.empty()) fs::remove_all(dir_);
}

namespace {

TEST_P(StoreContract, GivesBackEveryRunExactly) {
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte) everyByte += static_cast<char>(byte);
  const NewRun runs[] = {
      runOf("Europe", "Europe\nh1:12:\nh2::TIMEOUT\nEND\n"),
      {"Kl\xC3\xA4sse \xFF\x80", everyByte + everyByte, 0, std::nullopt, 0, 0, {}, "a", -5, {}},
      {"big",
       std::string(300'000, '\xE9'),
       std::numeric_limits<std::int64_t>::max(),
       0.1,
       1'000'000,
       4'000'000'000,
       {},
       std::string(64, 'L'),
       std::numeric_limits<std::int64_t>::min(),
       {}},
      {"empty", "", -1, 0.001, 1, 1, {}, {}, -1, {}},
  };
  std::unique_ptr<Store> store = open();
  for (const NewRun& run : runs) {
    SCOPED_TRACE(run.className);
    const std::string handle = store->addRun(run);
    EXPECT_TRUE(isHandleShape(handle)) << handle;
    const std::optional<StoredRun> found = store->findRun(handle);
    ASSERT_TRUE(found.has_value());
    EXPECT_EQ(found->summary, summaryOf(handle, run));
    EXPECT_EQ(found->report, run.report);
  }
  EXPECT_EQ(store->runCount({}), std::size(runs));
}

TEST_P(StoreContract, FindsOnlyTheExactHandle) {
  std::unique_ptr<Store> store = open(scripted({"Handle_1"}));
  ASSERT_EQ(store->addRun(runOf("A", "r")), "Handle_1");
  for (const std::string& unknown : Handles{"", "Handle_", "handle_1", "Handle_1 ", "Handle%",
                                            "Handle_?", std::string("Handle_1\0", 9)}) {
    SCOPED_TRACE(unknown);
    EXPECT_EQ(store->findRun(unknown), std::nullopt);
    EXPECT_EQ(store->classHistory(unknown, 5), std::vector<RunSummary>{});
  }
}

TEST_P(StoreContract, ListsRecentRunsNewestFirstInPages) {
  std::unique_ptr<Store> store = open(scripted({"h1", "h2", "h3", "h4", "h5"}));
  EXPECT_EQ(store->runCount({}), 0U);
  EXPECT_EQ(store->recentRuns({}, 0, 10), std::vector<RunSummary>{});
  // The clock steps back between runs: newest means stored last.
  for (int i = 1; i <= 5; ++i) store->addRun(runOf("A", "r", 1000 - i));
  EXPECT_EQ(store->runCount({}), 5U);
  const std::size_t all = std::numeric_limits<std::size_t>::max();
  const struct {
    std::size_t offset, limit;
    Handles expected;
  } pages[] = {
      {0, 10, {"h5", "h4", "h3", "h2", "h1"}},
      {0, 2, {"h5", "h4"}},
      {2, 2, {"h3", "h2"}},
      {4, 2, {"h1"}},
      {5, 1, {}},
      {99, 3, {}},
      {0, 0, {}},
      {1, all, {"h4", "h3", "h2", "h1"}},
      {all, 1, {}},
  };
  for (const auto& page : pages) {
    SCOPED_TRACE(testing::Message() << page.offset << "+" << page.limit);
    EXPECT_EQ(handlesOf(store->recentRuns({}, page.offset, page.limit)), page.expected);
  }
  EXPECT_EQ(store->recentRuns({}, 1, 1), std::vector{summaryOf("h4", runOf("A", "r", 996))});
}

TEST_P(StoreContract, ListsAndCountsTheRunsOfAClassALabelOrBoth) {
  std::unique_ptr<Store> store = open(scripted({"h1", "h2", "h3", "h4", "h5"}));
  const struct {
    const char* className;
    std::optional<std::string> label;
  } added[] = {{"A", "x"}, {"B", "x"}, {"A", std::nullopt}, {"A", "y"}, {"A", "x"}};
  for (const auto& run : added) {
    NewRun next = runOf(run.className, "r");
    next.label = run.label;
    store->addRun(next);
  }
  const struct {
    RunFilter filter;
    Handles expected;
  } filters[] = {
      {{}, {"h5", "h4", "h3", "h2", "h1"}},
      {{"A", std::nullopt}, {"h5", "h4", "h3", "h1"}},
      {{std::nullopt, "x"}, {"h5", "h2", "h1"}},
      {{"A", "x"}, {"h5", "h1"}},
      {{"B", "y"}, {}},
      {{"C", std::nullopt}, {}},
      // A run without a label is not the run of an empty one.
      {{std::nullopt, ""}, {}},
  };
  for (const auto& [filter, expected] : filters) {
    SCOPED_TRACE(testing::Message()
                 << filter.className.value_or("*") << "/" << filter.label.value_or("*"));
    EXPECT_EQ(handlesOf(store->recentRuns(filter, 0, 10)), expected);
    EXPECT_EQ(handlesOf(store->recentRuns(filter, 1, 1)),
              expected.size() > 1 ? Handles{expected[1]} : Handles{});
    EXPECT_EQ(store->runCount(filter), expected.size());
  }
}

TEST_P(StoreContract, ClassHistoryEndsAtTheRunOldestFirst) {
  std::unique_ptr<Store> store = open(scripted({"a1", "b1", "a2", "a3", "b2", "a4"}));
  for (const char* className : {"A", "B", "A", "A", "B", "A"}) store->addRun(runOf(className, "r"));
  const struct {
    const char* handle;
    std::size_t limit;
    Handles expected;
  } cases[] = {
      {"a3", 10, {"a1", "a2", "a3"}},
      {"a3", 2, {"a2", "a3"}},
      {"a4", 10, {"a1", "a2", "a3", "a4"}},
      {"a1", 10, {"a1"}},
      {"b2", 1, {"b2"}},
      {"b1", 10, {"b1"}},
      {"a3", 0, {}},
      {"c1", 10, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.handle << " " << c.limit);
    EXPECT_EQ(handlesOf(store->classHistory(c.handle, c.limit)), c.expected);
  }
  EXPECT_EQ(store->classHistory("b2", 5),
            (std::vector{summaryOf("b1", runOf("B", "r")), summaryOf("b2", runOf("B", "r"))}));
}

TEST_P(StoreContract, TakesTheNextCandidateForATakenHandle) {
  std::unique_ptr<Store> store = open(scripted({"h1", "h1", "h2"}));
  EXPECT_EQ(store->addRun(runOf("A", "first")), "h1");
  EXPECT_EQ(store->addRun(runOf("A", "second")), "h2");
  EXPECT_EQ(store->findRun("h1")->report, "first");
  EXPECT_EQ(store->findRun("h2")->report, "second");
  EXPECT_EQ(store->runCount({}), 2U);
}

TEST_P(StoreContract, RunWithoutAUsableHandleFailsAloneAndStoresNothing) {
  const Handles repeats(1 + handleTries, "same");
  const struct {
    const char* what;
    Handles script;
    std::string failure;
  } cases[] = {
      {"only repeats", repeats, handlesExhaustedText},
      {"source fails",
       {"same", "!The system's random source failed: test"},
       "The system's random source failed: test"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    Handles script = c.script;
    script.push_back("later");
    fs::create_directory(dir_ / c.what);
    std::unique_ptr<Store> store = GetParam().open(dir_ / c.what, scripted(script));
    ASSERT_EQ(store->addRun(runOf("A", "kept")), "same");
    EXPECT_EQ(addFailure(*store, runOf("A", "lost")), c.failure);
    EXPECT_EQ(handlesOf(store->recentRuns({}, 0, 10)), Handles{"same"});
    EXPECT_EQ(store->findRun("same")->report, "kept");
    EXPECT_EQ(store->addRun(runOf("A", "after")), "later");
  }
}

TEST_P(StoreContract, ConcurrentCallersEachGetTheirOwnRun) {
  constexpr int writers = 8, runsEach = 50;
  std::unique_ptr<Store> store = open();
  std::vector<Handles> handles(writers);
  std::atomic<int> finished = 0;
  std::vector<std::thread> threads;
  for (int w = 0; w < writers; ++w) {
    threads.emplace_back([&, w] {
      for (int i = 0; i < runsEach; ++i) {
        const NewRun run = runOf("C" + std::to_string(w), std::to_string(i));
        handles[w].push_back(store->addRun(run));
        // Readable by everyone once addRun has returned.
        const StoredRun found = store->findRun(handles[w].back()).value_or(StoredRun{});
        EXPECT_EQ(found.summary, summaryOf(handles[w].back(), run));
        EXPECT_EQ(found.report, run.report);
      }
      ++finished;
    });
  }
  // Meanwhile the count only grows and pages are never overfull.
  std::vector<std::size_t> counts;
  while (finished < writers) {
    EXPECT_LE(store->recentRuns({}, 0, 3).size(), 3U);
    counts.push_back(store->runCount({}));
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  std::set<std::string> distinct;
  for (const Handles& each : handles) distinct.insert(each.begin(), each.end());
  EXPECT_EQ(distinct.size(), std::size_t{writers * runsEach});
  EXPECT_EQ(store->runCount({}), std::size_t{writers * runsEach});
}

// A client that lost the reply to its post posts the same report again.
TEST_P(StoreContract, ARepostWithinTheWindowIsAnsweredWithTheFirstHandle) {
  const auto withDigest = [](std::string digest, std::int64_t receivedAtMs) {
    NewRun run = runOf("A", "r", receivedAtMs);
    run.digest = std::move(digest);
    return run;
  };
  const std::string d1(32, '\x01'), d2(32, '\x02');
  std::unique_ptr<Store> store = open(scripted({"h1", "h2", "h3", "h4", "h5"}));
  const struct {
    const char* what;
    NewRun run;
    const char* handle;
  } posts[] = {
      {"first", withDigest(d1, 100'000'000), "h1"},
      {"again at once", withDigest(d1, 100'000'000), "h1"},
      {"again at the window's end", withDigest(d1, 100'000'000 + retryWindowMs), "h1"},
      {"another report", withDigest(d2, 100'000'000), "h2"},
      {"no digest", withDigest("", 100'000'000), "h3"},
      {"no digest again", withDigest("", 100'000'000), "h4"},
      {"after the window", withDigest(d1, 100'000'001 + retryWindowMs), "h5"},
      {"again, after that", withDigest(d1, 100'000'002 + retryWindowMs), "h5"},
  };
  for (const auto& post : posts) {
    SCOPED_TRACE(post.what);
    EXPECT_EQ(store->addRun(post.run), post.handle);
  }
  EXPECT_EQ(handlesOf(store->recentRuns({}, 0, 10)), (Handles{"h5", "h4", "h3", "h2", "h1"}));
}

TEST_P(StoreContract, DeletesRunsBeforeTheCutoffOldestFirstInBatches) {
  std::unique_ptr<Store> store = open(scripted({"h1", "h2", "h3", "h4", "h5", "h6", "h7"}));
  // Stored out of time order: age, not insertion, decides.
  for (const std::int64_t at : {300, 100, 500, 200, 600, 400}) store->addRun(runOf("A", "r", at));
  const struct {
    std::int64_t cutoff;
    std::size_t limit, deleted;
    Handles left;
  } sweeps[] = {
      {100, 10, 0, {"h6", "h5", "h4", "h3", "h2", "h1"}},
      {450, 2, 2, {"h6", "h5", "h3", "h1"}},
      {450, 2, 2, {"h5", "h3"}},
      {450, 2, 0, {"h5", "h3"}},
      {1000, 0, 0, {"h5", "h3"}},
      {501, 10, 1, {"h5"}},
  };
  for (const auto& sweep : sweeps) {
    SCOPED_TRACE(testing::Message() << sweep.cutoff << " " << sweep.limit);
    EXPECT_EQ(store->deleteRunsBefore(sweep.cutoff, sweep.limit), sweep.deleted);
    EXPECT_EQ(handlesOf(store->recentRuns({}, 0, 10)), sweep.left);
  }
  EXPECT_EQ(store->findRun("h1"), std::nullopt);
  EXPECT_EQ(store->addRun(runOf("A", "r", 0)), "h7");
  EXPECT_EQ(store->runCount({}), 2u);
  store->check();
}

// What a history that keeps sums of its past learns from: late runs and
// deletions count; runs stored as measured, re-posts and empty sweeps do not.
TEST_P(StoreContract, HistoryChangesCountLateRunsAndDeletionsAlone) {
  std::unique_ptr<Store> store = open(scripted({"h1", "h2", "h3", "h4", "h5"}));
  const auto measured = [](std::int64_t before, std::string digest = "") {
    NewRun run = runOf("A", "r", 100'000'000);
    run.measuredAtMs = run.receivedAtMs - before;
    run.digest = std::move(digest);
    return run;
  };
  const struct {
    const char* what;
    std::function<void()> change;
    std::int64_t changes;
  } steps[] = {
      {"nothing yet", [] {}, 0},
      {"in time", [&] { store->addRun(measured(0)); }, 0},
      {"just in time", [&] { store->addRun(measured(lateRunMs)); }, 0},
      {"late", [&] { store->addRun(measured(lateRunMs + 1, "d")); }, 1},
      {"the late run again", [&] { store->addRun(measured(lateRunMs + 1, "d")); }, 1},
      {"ahead of the clock", [&] { store->addRun(measured(-300'000)); }, 1},
      {"a sweep that finds nothing", [&] { store->deleteRunsBefore(1000, 10); }, 1},
      {"a sweep that deletes", [&] { store->deleteRunsBefore(200'000'000, 2); }, 2},
      {"and the rest", [&] { store->deleteRunsBefore(200'000'000, 10); }, 3},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    EXPECT_EQ(store->historyChanges(), step.changes);
  }
  EXPECT_EQ(store->runCount({}), 0u);
}

TEST_P(StoreContract, HostSummariesAreReadByClassHostLabelAndMeasuredTime) {
  std::unique_ptr<Store> store = open();
  const HostSummary a1{"a", 3, 1, {5, 7}};
  const HostSummary b1{"b", 1, 0, {-9}};
  const HostSummary a2{"a", 2, 0, {4, 6}};
  const HostSummary a3{"a", 1, 1, {}};
  const HostSummary a4{"a", 1, 0, {1}};
  const HostSummary a5{"a", 4, 0, {1, 2, 3, 2147483647}};
  const std::optional<std::string> none;
  const std::optional<std::string> x = "x";
  store->addRun(summarisedRun("A", none, 100, {b1, a1}));
  store->addRun(summarisedRun("A", x, 200, {a2}));
  // At the same moment as the first: after it, in the order stored.
  store->addRun(summarisedRun("A", x, 100, {a3}));
  store->addRun(summarisedRun("B", none, 150, {a4}));
  store->addRun(summarisedRun("A", none, 300, {a5}));
  store->addRun(summarisedRun("A", none, 50, {}));
  const HostPoint p1a{a1, none, 100}, p1b{b1, none, 100}, p2{a2, x, 200}, p3{a3, x, 100},
      p4{a4, none, 150}, p5{a5, none, 300};

  const struct {
    PointQuery query;
    std::vector<HostPoint> points;
  } cases[] = {
      {{"A", "a", none, 0, 1000}, {p1a, p3, p2, p5}},
      {{"A", "a", x, 0, 1000}, {p3, p2}},
      {{"A", "a", none, 100, 300}, {p1a, p3, p2}},
      {{"A", "a", none, 101, 300}, {p2}},
      {{"A", "b", none, 0, 1000}, {p1b}},
      {{"A", "b", x, 0, 1000}, {}},
      {{"A", none, none, 0, 200}, {p1b, p1a, p3}},
      {{"A", none, x, 0, 1000}, {p3, p2}},
      {{"B", none, none, 0, 1000}, {p4}},
      {{"B", "a", none, 150, 151}, {p4}},
      {{"C", none, none, 0, 1000}, {}},
      {{"a", "A", none, 0, 1000}, {}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.query.className << " " << c.query.host.value_or("*") << " "
                                    << c.query.label.value_or("*") << " [" << c.query.fromMs << ", "
                                    << c.query.toMs << ")");
    EXPECT_EQ(store->hostPoints(c.query), c.points);
  }
}

TEST_P(StoreContract, ARunsHostSummariesGoWithItAndARepostAddsNone) {
  std::unique_ptr<Store> store = open(scripted({"h1", "h2", "h3"}));
  const HostSummary host{"a", 1, 0, {5}};
  NewRun first = summarisedRun("A", std::nullopt, 100, {host});
  first.digest = "d1";
  store->addRun(first);
  EXPECT_EQ(store->addRun(first), "h1");
  store->addRun(summarisedRun("A", std::nullopt, 200, {host}));
  const PointQuery all{"A", std::nullopt, std::nullopt, 0, 1000};
  EXPECT_EQ(store->hostPoints(all).size(), 2u);
  EXPECT_EQ(store->deleteRunsBefore(150, 10), 1u);
  EXPECT_EQ(store->hostPoints(all), (std::vector<HostPoint>{{host, std::nullopt, 200}}));
  EXPECT_EQ(store->deleteRunsBefore(1000, 10), 1u);
  EXPECT_EQ(store->hostPoints(all), std::vector<HostPoint>{});
}

}  // namespace

}  // namespace zelvor::test
