// The run store: the behaviour every backend shares, run against each of
// them, then what only the SQLite file does (its folder, settings and schema
// versions, and the files it refuses).
#include <gtest/gtest.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "site/handle.hpp"
#include "site/sqlite_database.hpp"
#include "site/sqlite_schema.hpp"
#include "site/sqlite_statement.hpp"
#include "site/store.hpp"
#include "site/store_rules.hpp"

namespace zelvor::site {
void PrintTo(const RunSummary& run, std::ostream* out) {
  *out << run.handle << " " << run.className << " @" << run.receivedAtMs;
}
}  // namespace zelvor::site

namespace {

namespace fs = std::filesystem;
using namespace zelvor::site;
using Handles = std::vector<std::string>;

NewRun runOf(std::string className, std::string report, std::int64_t receivedAtMs = 1000) {
  return {std::move(className), std::move(report), receivedAtMs, 12.5, 2, 6};
}

RunSummary summaryOf(const std::string& handle, const NewRun& run) {
  return {handle, run.className, run.receivedAtMs, run.medianMs, run.hostCount, run.sampleCount};
}

Handles handlesOf(const std::vector<RunSummary>& runs) {
  Handles handles;
  for (const RunSummary& run : runs) handles.push_back(run.handle);
  return handles;
}

// Hands out the script in order; an entry starting with '!' is thrown, as a
// failing random source would, without the '!'.
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
    if (state->next == state->script.size()) throw std::string("the script has ended");
    const std::string entry = state->script[state->next++];
    if (entry.starts_with('!')) throw entry.substr(1);
    return entry;
  };
}

std::string addFailure(Store& store, const NewRun& run) {
  try {
    return "stored as " + store.addRun(run);
  } catch (const std::string& text) {
    return text;
  }
}

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class InTempDir : public testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "zelvor-store-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override { fs::remove_all(dir_); }

  fs::path dir_;
};

// A backend joins the suite with a name and a way to open a fresh, empty
// store; `dir` is an empty folder of the test's own.
struct Backend {
  const char* name;
  std::function<std::unique_ptr<Store>(const fs::path& dir, HandleSource)> open;
};

const Backend backends[] = {
    {"Sqlite",
     [](const fs::path& dir, HandleSource newHandle) {
       return openSqliteStore((dir / "site.db").string(), std::move(newHandle));
     }},
};

class StoreContract : public InTempDir, public testing::WithParamInterface<Backend> {
 protected:
  std::unique_ptr<Store> open(HandleSource newHandle = randomHandle) {
    return GetParam().open(dir_, std::move(newHandle));
  }
};

INSTANTIATE_TEST_SUITE_P(Backends, StoreContract, testing::ValuesIn(backends),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_P(StoreContract, GivesBackEveryRunExactly) {
  std::string everyByte;
  for (int byte = 0; byte < 256; ++byte) everyByte += static_cast<char>(byte);
  const NewRun runs[] = {
      runOf("Europe", "Europe\nh1:12:\nh2::TIMEOUT\nEND\n"),
      {"Kl\xC3\xA4sse \xFF\x80", everyByte + everyByte, 0, std::nullopt, 0, 0},
      {"big", std::string(300'000, '\xE9'), std::numeric_limits<std::int64_t>::max(), 0.1,
       1'000'000, 4'000'000'000},
      {"empty", "", -1, 0.001, 1, 1},
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
  EXPECT_EQ(store->runCount(), std::size(runs));
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
  EXPECT_EQ(store->runCount(), 0U);
  EXPECT_EQ(store->recentRuns(0, 10), std::vector<RunSummary>{});
  // The clock steps back between runs: newest means stored last.
  for (int i = 1; i <= 5; ++i) store->addRun(runOf("A", "r", 1000 - i));
  EXPECT_EQ(store->runCount(), 5U);
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
    EXPECT_EQ(handlesOf(store->recentRuns(page.offset, page.limit)), page.expected);
  }
  EXPECT_EQ(store->recentRuns(1, 1), std::vector{summaryOf("h4", runOf("A", "r", 996))});
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
  EXPECT_EQ(store->runCount(), 2U);
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
    EXPECT_EQ(handlesOf(store->recentRuns(0, 10)), Handles{"same"});
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
    EXPECT_LE(store->recentRuns(0, 3).size(), 3U);
    counts.push_back(store->runCount());
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_TRUE(std::is_sorted(counts.begin(), counts.end()));
  std::set<std::string> distinct;
  for (const Handles& each : handles) distinct.insert(each.begin(), each.end());
  EXPECT_EQ(distinct.size(), std::size_t{writers * runsEach});
  EXPECT_EQ(store->runCount(), std::size_t{writers * runsEach});
}

// The SQLite file itself, read through connections of the test's own.
class SqliteFile : public InTempDir {};

// The first column of the first row.
std::string firstValue(SqliteConnection& connection, const char* sql) {
  SqliteStatement statement(connection, sql, "test");
  StatementUse use(statement);
  use->step();
  return use->columnText(0);
}

TEST_F(SqliteFile, MakesItsFolderAndKeepsEveryRunWhenReopened) {
  const fs::path path = dir_ / "new" / "folder" / "site.db";
  Handles stored;
  {
    std::unique_ptr<Store> store = openSqliteStore(path.string(), randomHandle);
    for (const char* report : {"one", "two", "three"})
      stored.push_back(store->addRun(runOf("A", report)));
  }
  std::unique_ptr<Store> store = openSqliteStore(path.string(), randomHandle);
  EXPECT_EQ(handlesOf(store->recentRuns(0, 10)), (Handles{stored[2], stored[1], stored[0]}));
  EXPECT_EQ(store->findRun(stored[1])->report, "two");
}

TEST_F(SqliteFile, IsInWriteAheadLogModeWithFullSyncAtTheLatestVersion) {
  const fs::path path = dir_ / "site.db";
  std::unique_ptr<Store> store = openSqliteStore(path.string(), randomHandle);
  SqliteConnection plain(path.string(), SQLITE_OPEN_READONLY);
  EXPECT_EQ(firstValue(plain, "PRAGMA journal_mode"), "wal");
  EXPECT_EQ(firstValue(plain, "PRAGMA user_version"), std::to_string(latestSchemaVersion));
  // The sync level belongs to each connection: ask one like the store's.
  SqliteConnection writer = openSiteDatabase(path.string());
  EXPECT_EQ(firstValue(writer, "PRAGMA synchronous"), "2");  // FULL
}

TEST_F(SqliteFile, BringsAnOlderSchemaUpToDateKeepingItsRuns) {
  const fs::path path = dir_ / "site.db";
  {
    SqliteConnection old(path.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    old.execute(
        "CREATE TABLE runs (id INTEGER PRIMARY KEY, handle TEXT NOT NULL UNIQUE,"
        " class_name TEXT NOT NULL, received_at_ms INTEGER NOT NULL, median_ms REAL,"
        " host_count INTEGER NOT NULL, sample_count INTEGER NOT NULL, report BLOB NOT NULL);"
        "INSERT INTO runs VALUES (1, 'old1', 'A', 1000, 12.5, 2, 6, CAST('first' AS BLOB));"
        "INSERT INTO runs VALUES (2, 'old2', 'B', 1000, 12.5, 2, 6, CAST('second' AS BLOB));"
        "PRAGMA user_version = 1;",
        "test");
  }
  std::unique_ptr<Store> store = openSqliteStore(path.string(), scripted({"new"}));
  SqliteConnection plain(path.string(), SQLITE_OPEN_READONLY);
  EXPECT_EQ(firstValue(plain, "PRAGMA user_version"), std::to_string(latestSchemaVersion));
  EXPECT_EQ(store->findRun("old1")->summary, summaryOf("old1", runOf("A", "")));
  EXPECT_EQ(store->findRun("old2")->report, "second");
  store->addRun(runOf("A", "third"));
  EXPECT_EQ(handlesOf(store->recentRuns(0, 10)), (Handles{"new", "old2", "old1"}));
  EXPECT_EQ(handlesOf(store->classHistory("new", 10)), (Handles{"old1", "new"}));
}

TEST_F(SqliteFile, RefusesWhatIsNotItsDatabaseAndLeavesItAlone) {
  std::string garbage;
  for (int i = 0; i < 4096; ++i) garbage += static_cast<char>(i * 37 + 11);
  const auto written = [](std::string bytes) {
    return [bytes](const fs::path& path) { std::ofstream(path, std::ios::binary) << bytes; };
  };
  // `leaveLog`: ends as a crash would, with the last changes only in the log.
  const auto madeWith = [](const char* sql, bool leaveLog = false) {
    return [sql, leaveLog](const fs::path& path) {
      SqliteConnection made(path.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
      sqlite3_db_config(made.get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, leaveLog, nullptr);
      if (leaveLog)
        made.execute("PRAGMA journal_mode = WAL; PRAGMA wal_autocheckpoint = 0", "test");
      made.execute(sql, "test");
    };
  };
  const std::string newer = " was written by a newer program: schema version 3, this one knows " +
                            std::to_string(latestSchemaVersion);
  const std::string unreadable = "Could not read the schema version of ";
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;
    std::string beforePath, afterPath;
  } cases[] = {
      {"garbage", written(garbage), unreadable, ": file is not a database"},
      {"a line of text", written("site data\n"), unreadable, ": file is not a database"},
      {"newer", madeWith("CREATE TABLE runs (x); PRAGMA user_version = 3"), "The database ", newer},
      {"newer, its log not replayed",
       madeWith("CREATE TABLE runs (x); PRAGMA user_version = 3", true), "The database ", newer},
      {"another program's", madeWith("CREATE TABLE notes (text)"), "The database ",
       " holds tables of another program"},
  };
  // Every file but the shared-memory index, which SQLite rebuilds whenever
  // it reads a log; by size and digest, so that a failure stays readable.
  const auto filesIn = [](const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      const std::string name = entry.path().filename().string();
      const std::string bytes = readFile(entry.path());
      if (!name.ends_with("-shm")) {
        files[name] = std::to_string(bytes.size()) + " bytes, digest " +
                      std::to_string(std::hash<std::string>()(bytes));
      }
    }
    return files;
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const fs::path folder = dir_ / c.what;
    const fs::path path = folder / "site.db";
    fs::create_directory(folder);
    c.make(path);
    const std::map<std::string, std::string> before = filesIn(folder);
    std::string failure = "opened";
    try {
      openSqliteStore(path.string(), randomHandle);
    } catch (const std::string& text) {
      failure = text;
    }
    EXPECT_EQ(failure, c.beforePath + path.string() + c.afterPath);
    EXPECT_EQ(filesIn(folder), before);
  }
}

}  // namespace
