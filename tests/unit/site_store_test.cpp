// The run store on SQLite: the contract every backend keeps
// (site_store_contract.hpp), then what only the SQLite file does (its
// folder, settings and schema versions, and the files it refuses).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <memory>
#include <string>

#include "site/handle.hpp"
#include "site/sqlite_database.hpp"
#include "site/sqlite_statement.hpp"
#include "site/store.hpp"
#include "site/store_rules.hpp"
#include "site_store_contract.hpp"
#include "support/failure.hpp"

namespace {

using namespace zelvor::site;
using namespace zelvor::test;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const StoreBackend sqlite{"Sqlite", [](const fs::path& dir, HandleSource newHandle) {
                            return openSqliteStore((dir / "site.db").string(),
                                                   std::move(newHandle));
                          }};

INSTANTIATE_TEST_SUITE_P(Backends, StoreContract, testing::Values(sqlite), backendName);

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
  EXPECT_EQ(handlesOf(store->recentRuns({}, 0, 10)), (Handles{stored[2], stored[1], stored[0]}));
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
  EXPECT_EQ(handlesOf(store->recentRuns({}, 0, 10)), (Handles{"new", "old2", "old1"}));
  EXPECT_EQ(handlesOf(store->classHistory("new", 10)), (Handles{"old1", "new"}));
}

TEST_F(SqliteFile, SummarisesTheHostsOfTheRunsStoredBeforeSummariesWere) {
  const fs::path path = dir_ / "site.db";
  {
    // The schema as the version before host summaries left it.
    SqliteConnection old(path.string(), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    old.execute(
        "CREATE TABLE runs (id INTEGER PRIMARY KEY, handle TEXT NOT NULL UNIQUE,"
        " class_name TEXT NOT NULL, received_at_ms INTEGER NOT NULL, median_ms REAL,"
        " host_count INTEGER NOT NULL, sample_count INTEGER NOT NULL, report BLOB NOT NULL);"
        "CREATE INDEX runs_by_class ON runs (class_name, id);"
        "ALTER TABLE runs ADD COLUMN digest BLOB;"
        "CREATE INDEX runs_by_digest ON runs (digest) WHERE digest IS NOT NULL;"
        "CREATE INDEX runs_by_age ON runs (received_at_ms);"
        "ALTER TABLE runs ADD COLUMN label TEXT;"
        "ALTER TABLE runs ADD COLUMN measured_at_ms INTEGER;"
        "CREATE INDEX runs_by_label ON runs (label, id) WHERE label IS NOT NULL;"
        "INSERT INTO runs VALUES (1, 'old1', 'A', 1000, 4.0, 2, 4,"
        " CAST('A' || char(10) || 'a:5:' || char(10) || 'b::TIMEOUT' || char(10) || 'a:3:'"
        " || char(10) || 'END' || char(10) AS BLOB), NULL, NULL, 1000);"
        // A report that does not read leaves its run without summaries.
        "INSERT INTO runs VALUES (2, 'old2', 'A', 1500, NULL, 0, 0, CAST('junk' AS BLOB), NULL,"
        " NULL, 1500);"
        "INSERT INTO runs VALUES (3, 'old3', 'A', 2000, 7.0, 1, 1,"
        " CAST('A' || char(10) || 'b:7:' || char(10) || 'END' || char(10) AS BLOB), NULL,"
        " 'office-2', 900);"
        "PRAGMA user_version = 4;",
        "test");
  }
  std::unique_ptr<Store> store = openSqliteStore(path.string(), scripted({"new"}));
  EXPECT_EQ(store->hostPoints({"A", std::nullopt, std::nullopt, 0, 10'000}),
            (std::vector<HostPoint>{{{"b", 1, 0, {7}}, "office-2", 900},
                                    {{"a", 2, 0, {3, 5}}, std::nullopt, 1000},
                                    {{"b", 1, 1, {}}, std::nullopt, 1000}}));
  // The summaries go with their runs, as those stored since.
  EXPECT_EQ(store->deleteRunsBefore(1800, 10), 2u);
  EXPECT_EQ(store->hostPoints({"A", "b", std::nullopt, 0, 10'000}),
            (std::vector<HostPoint>{{{"b", 1, 0, {7}}, "office-2", 900}}));
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
  const std::string newer = " was written by a newer program: schema version 9, this one knows " +
                            std::to_string(latestSchemaVersion);
  const std::string unreadable = "Could not read the schema version of ";
  const struct {
    const char* what;
    std::function<void(const fs::path&)> make;
    std::string beforePath, afterPath;
  } cases[] = {
      {"garbage", written(garbage), unreadable, ": file is not a database"},
      {"a line of text", written("site data\n"), unreadable, ": file is not a database"},
      {"newer", madeWith("CREATE TABLE runs (x); PRAGMA user_version = 9"), "The database ", newer},
      {"newer, its log not replayed",
       madeWith("CREATE TABLE runs (x); PRAGMA user_version = 9", true), "The database ", newer},
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
    } catch (const kelvo::Failure& text) {
      failure = text;
    }
    EXPECT_EQ(failure, c.beforePath + path.string() + c.afterPath);
    EXPECT_EQ(filesIn(folder), before);
  }
}

}  // namespace
