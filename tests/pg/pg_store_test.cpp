// The run store on PostgreSQL: the contract every backend keeps
// (site_store_contract.hpp), then what only this backend does: sites that
// start together on one database, databases it refuses, and connections
// that the server drops.
#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <vector>

#include "pg_cluster.hpp"
#include "site/pg_connection.hpp"
#include "site/report_digest.hpp"
#include "site/store.hpp"
#include "site/store_rules.hpp"
#include "site_store_contract.hpp"
#include "support/failure.hpp"

namespace {

using namespace zelvor::site;
using namespace zelvor::test;

const StoreBackend postgres{"Postgres",
                            [](const fs::path&, HandleSource newHandle) {
                              return openPostgresStore(freshDatabase(sharedCluster()),
                                                       std::move(newHandle));
                            },
                            pgUnavailable};

INSTANTIATE_TEST_SUITE_P(Backends, StoreContract, testing::Values(postgres), backendName);

class PostgresStore : public testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = pgUnavailable()) GTEST_SKIP() << *why;
    url_ = freshDatabase(sharedCluster());
  }
  // The first column of the first row, a bigint.
  std::int64_t number(const char* sql) {
    return PgConnection(url_, {}).query(sql, "test").integer(0, 0);
  }

  std::string url_;
};

TEST_F(PostgresStore, SitesStartingTogetherTakeEachSchemaStepOnce) {
  constexpr int sites = 6;
  std::vector<std::future<std::unique_ptr<Store>>> opening;
  for (int i = 0; i < sites; ++i)
    opening.push_back(
        std::async(std::launch::async, [this] { return openPostgresStore(url_, randomHandle); }));
  std::vector<std::unique_ptr<Store>> stores;
  for (auto& store : opening) stores.push_back(store.get());
  EXPECT_EQ(number("SELECT version FROM zelvor_schema_version"), latestSchemaVersion);
  EXPECT_EQ(number("SELECT count(*) FROM zelvor_schema_version"), 1);
  // Every site sees what any other stored, at once.
  for (int i = 0; i < sites; ++i) {
    const std::string handle = stores[static_cast<std::size_t>(i)]->addRun(runOf("A", "r"));
    for (const auto& other : stores) EXPECT_EQ(other->findRun(handle)->report, "r");
  }
  EXPECT_EQ(stores[0]->runCount({}), std::size_t{sites});
}

TEST_F(PostgresStore, RefusesAnotherProgramsOrANewerDatabaseAndLeavesItAlone) {
  const struct {
    const char* what;
    const char* sql;
    std::string failure;
  } cases[] = {
      {"another program's", "CREATE TABLE notes (text text)",
       "The database holds tables of another program"},
      {"newer",
       "CREATE TABLE zelvor_schema_version (version bigint NOT NULL);"
       " INSERT INTO zelvor_schema_version VALUES (9)",
       "The database was written by a newer program: schema version 9, this one knows " +
           std::to_string(latestSchemaVersion)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string url = freshDatabase(sharedCluster());
    PgConnection(url, {}).execute(c.sql, "test");
    std::string failure = "opened";
    try {
      openPostgresStore(url, randomHandle);
    } catch (const kelvo::Failure& text) {
      failure = text;
    }
    EXPECT_EQ(failure, c.failure);
    const std::string tables =
        PgConnection(url, {})
            .query(
                "SELECT string_agg(tablename, ',' ORDER BY tablename)::bytea FROM pg_tables"
                " WHERE schemaname = 'public'",
                "test")
            .bytes(0, 0);
    EXPECT_EQ(tables, std::string(c.what) == "newer" ? "zelvor_schema_version" : "notes");
  }
}

TEST_F(PostgresStore, SummarisesTheHostsOfTheRunsStoredBeforeSummariesWere) {
  // The schema as the version before host summaries left it.
  PgConnection(url_, {}).execute(
      "CREATE TABLE zelvor_schema_version (version bigint NOT NULL);"
      "INSERT INTO zelvor_schema_version VALUES (4);"
      "CREATE TABLE runs (id bigint GENERATED ALWAYS AS IDENTITY PRIMARY KEY,"
      " handle text NOT NULL UNIQUE, class_name bytea NOT NULL,"
      " received_at_ms bigint NOT NULL, median_ms double precision,"
      " host_count bigint NOT NULL, sample_count bigint NOT NULL, report bytea NOT NULL,"
      " digest bytea, label text, measured_at_ms bigint NOT NULL);"
      "CREATE INDEX runs_by_class ON runs (class_name, id);"
      "CREATE INDEX runs_by_age ON runs (received_at_ms);"
      "INSERT INTO runs (handle, class_name, received_at_ms, host_count, sample_count,"
      " report, measured_at_ms) VALUES"
      " ('old1', 'A', 1000, 2, 4, convert_to(E'A\\na:5:\\nb::TIMEOUT\\na:3:\\nEND\\n',"
      "  'UTF8'), 1000),"
      // A report that does not read leaves its run without summaries.
      " ('old2', 'A', 1500, 0, 0, 'junk', 1500);"
      "INSERT INTO runs (handle, class_name, received_at_ms, host_count, sample_count,"
      " report, label, measured_at_ms) VALUES"
      " ('old3', 'A', 2000, 1, 1, convert_to(E'A\\nb:7:\\nEND\\n', 'UTF8'), 'office-2', 900)",
      "test");
  std::unique_ptr<Store> store = openPostgresStore(url_, randomHandle);
  EXPECT_EQ(number("SELECT version FROM zelvor_schema_version"), latestSchemaVersion);
  EXPECT_EQ(store->hostPoints({"A", std::nullopt, std::nullopt, 0, 10'000}),
            (std::vector<HostPoint>{{{"b", 1, 0, {7}}, "office-2", 900},
                                    {{"a", 2, 0, {3, 5}}, std::nullopt, 1000},
                                    {{"b", 1, 1, {}}, std::nullopt, 1000}}));
  EXPECT_EQ(store->deleteRunsBefore(1800, 10), 2u);
  EXPECT_EQ(store->hostPoints({"A", "b", std::nullopt, 0, 10'000}),
            (std::vector<HostPoint>{{{"b", 1, 0, {7}}, "office-2", 900}}));
}

// The server ends every connection of the store (as a restart does): the
// next operations are tried again on new connections and succeed, and a
// re-posted run is stored once.
TEST_F(PostgresStore, ConnectionsTheServerDroppedAreReplacedUnnoticed) {
  std::unique_ptr<Store> store = openPostgresStore(url_, randomHandle);
  NewRun run = runOf("A", "r");
  run.digest = reportDigest(run.report);
  const std::string handle = store->addRun(run);
  const std::size_t name = url_.find("@/") + 2;
  const std::string dropAll =
      "SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE datname = '" +
      url_.substr(name, url_.find('?') - name) + "'";
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    administer(sharedCluster(), dropAll);
    EXPECT_EQ(store->findRun(handle)->report, "r");
    administer(sharedCluster(), dropAll);
    EXPECT_EQ(store->addRun(run), handle);
    EXPECT_EQ(store->runCount({}), 1u);
  }
}

}  // namespace
