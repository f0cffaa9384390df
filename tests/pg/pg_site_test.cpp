// Sites on PostgreSQL: two of them on one database serve the same runs;
// with the database stopped under load they answer 503 and their health
// check fails, and once it is back they recover by themselves with every
// answered report there; a site killed under load loses nothing answered;
// retention on the shared database.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "pg_cluster.hpp"
#include "site/handle.hpp"
#include "site_process.hpp"
#include "support/failure.hpp"
#include "temporary_folder.hpp"

namespace {

using namespace std::chrono_literals;
using zelvor::test::Reply;
using zelvor::test::SiteProcess;
using zelvor::test::TemporaryFolder;

Reply post(std::uint16_t port, const std::string& report) {
  return zelvor::test::exchange(port, "POST /zelvor HTTP/1.0\r\nContent-Length: " +
                                          std::to_string(report.size()) + "\r\n\r\n" + report);
}

Reply get(std::uint16_t port, const std::string& path) {
  return zelvor::test::exchange(port, "GET " + path + " HTTP/1.0\r\n\r\n");
}

std::string reportOf(int value) { return "Pg\nh:" + std::to_string(value) + ":\nEND\n"; }

// The sample the run `handle` holds, as the site at `port` shows it.
nlohmann::json sampleOf(std::uint16_t port, const std::string& handle) {
  const Reply reply = get(port, "/zelvor.json?handle=" + handle);
  if (reply.status != 200) return reply.status;
  return nlohmann::json::parse(reply.body)["hosts"][0]["samples"][0];
}

class PgSiteTest : public testing::Test {
 protected:
  void SetUp() override {
    if (const auto why = zelvor::test::pgUnavailable()) GTEST_SKIP() << *why;
  }
  SiteProcess& start(const std::string& url, std::vector<std::string> arguments = {}) {
    arguments.insert(arguments.begin(), {"--store", url});
    try {
      sites.push_back(std::make_unique<SiteProcess>(
          listFile, (folder.path() / "unused.db").string(), arguments));
    } catch (const kelvo::Failure& failure) {
      throw std::runtime_error(failure);
    }
    return *sites.back();
  }

  TemporaryFolder folder{"pg-site"};
  std::string listFile = folder.write("servers.list", "Pg:198.18.1.1:80\n");
  std::vector<std::unique_ptr<SiteProcess>> sites;
};

TEST_F(PgSiteTest, APostToOneSiteReadsBackFromAnotherAtOnce) {
  const std::string url = zelvor::test::freshDatabase(zelvor::test::sharedCluster());
  const std::uint16_t a = start(url).port(), b = start(url).port();
  std::vector<std::string> handles;
  for (int i = 0; i < 10; ++i) {
    const Reply reply = post(i % 2 == 0 ? a : b, reportOf(i));
    ASSERT_EQ(reply.status, 200) << reply.body;
    handles.push_back(reply.body);
    EXPECT_EQ(sampleOf(i % 2 == 0 ? b : a, reply.body), i);
  }
  for (const std::uint16_t port : {a, b}) {
    const Reply index = get(port, "/");
    for (const std::string& handle : handles)
      EXPECT_NE(index.body.find("/zelvor?handle=" + handle), std::string::npos) << handle;
    EXPECT_EQ(get(port, "/health").status, 200);
  }
  // The same report posted again to the other site is the same run.
  EXPECT_EQ(post(b, reportOf(0)).body, handles[0]);
}

// Posters keep posting to two sites, each for at most a time and a count,
// recording what every post was answered.
class Posters {
 public:
  Posters(std::vector<std::uint16_t> ports, int count) {
    for (int poster = 0; poster < count; ++poster) {
      threads_.emplace_back([this, ports, poster] {
        const auto end = std::chrono::steady_clock::now() + 60s;
        for (int i = 0; i < 5000 && !stop_ && std::chrono::steady_clock::now() < end; ++i) {
          const int value = next_++;
          const std::uint16_t port = ports[static_cast<std::size_t>(poster) % ports.size()];
          Reply reply;
          try {
            reply = post(port, reportOf(value));
          } catch (const kelvo::Failure&) {
            // A site killed outright: the post was not answered.
          }
          const std::lock_guard lock(mutex_);
          ++statuses_[reply.status];
          if (reply.status == 503 && !reply.head.empty()) lastRefusal_ = reply;
          if (reply.status == 200 && zelvor::site::isHandleShape(reply.body))
            answered_.emplace(reply.body, value);
        }
      });
    }
  }
  ~Posters() { finish(); }

  void finish() {
    stop_ = true;
    for (std::thread& thread : threads_)
      if (thread.joinable()) thread.join();
  }
  int count(int status) {
    const std::lock_guard lock(mutex_);
    return statuses_[status];
  }
  // How often each status was answered; 0 for no answer at all.
  std::map<int, int> statuses() {
    const std::lock_guard lock(mutex_);
    return statuses_;
  }
  // Waits, at most `limit`, until `status` was answered `more` more times.
  bool waitFor(int status, int more, std::chrono::milliseconds limit) {
    const int target = count(status) + more;
    for (auto end = std::chrono::steady_clock::now() + limit;
         std::chrono::steady_clock::now() < end; std::this_thread::sleep_for(20ms))
      if (count(status) >= target) return true;
    return false;
  }
  std::map<std::string, int> answered() {
    const std::lock_guard lock(mutex_);
    return answered_;
  }
  Reply lastRefusal() {
    const std::lock_guard lock(mutex_);
    return lastRefusal_;
  }

 private:
  std::atomic<bool> stop_ = false;
  std::atomic<int> next_ = 0;
  std::mutex mutex_;
  std::map<int, int> statuses_;
  std::map<std::string, int> answered_;
  Reply lastRefusal_;
  std::vector<std::thread> threads_;
};

TEST_F(PgSiteTest, StoppedDatabaseMeans503UntilItIsBackAndNothingAnsweredIsLost) {
  const zelvor::test::OwnCluster cluster;
  const std::string url = zelvor::test::freshDatabase(cluster.dir());
  const std::uint16_t a = start(url).port(), b = start(url).port();
  Posters posters({a, b}, 6);
  ASSERT_TRUE(posters.waitFor(200, 200, 30s));

  cluster.stop();
  ASSERT_TRUE(posters.waitFor(503, 20, 30s));
  for (const std::uint16_t port : {a, b}) EXPECT_EQ(get(port, "/health").status, 503);
  const Reply refused = posters.lastRefusal();
  EXPECT_NE(refused.head.find("Retry-After: 5"), std::string::npos) << refused.head;
  EXPECT_EQ(refused.body, "The site cannot answer just now; try again in a while\n");

  cluster.start();
  EXPECT_TRUE(posters.waitFor(200, 200, 30s));
  posters.finish();
  for (const std::uint16_t port : {a, b}) EXPECT_EQ(get(port, "/health").status, 200);
  // Every post was answered with a handle or a 503, nothing else.
  std::map<int, int> statuses = posters.statuses();
  statuses.erase(200);
  statuses.erase(503);
  EXPECT_EQ(statuses, (std::map<int, int>{}));
  const std::map<std::string, int> answered = posters.answered();
  EXPECT_EQ(answered.size(), static_cast<std::size_t>(posters.count(200)));
  for (const auto& [handle, value] : answered) EXPECT_EQ(sampleOf(a, handle), value) << handle;
  for (const auto& site : sites) EXPECT_TRUE(site->waitForLog(" POST /zelvor 503 ", 1s));
}

TEST_F(PgSiteTest, EveryAnsweredReportSurvivesAKillOfTheSite) {
  const std::string url = zelvor::test::freshDatabase(zelvor::test::sharedCluster());
  SiteProcess& site = start(url);
  Posters posters({site.port()}, 8);
  ASSERT_TRUE(posters.waitFor(200, 300, 30s));
  site.signal(SIGKILL);
  posters.finish();
  ASSERT_EQ(site.waitForExit(10s), 128 + SIGKILL);
  const std::map<std::string, int> answered = posters.answered();
  ASSERT_GE(answered.size(), 300u);
  const std::uint16_t restarted = start(url).port();
  for (const auto& [handle, value] : answered)
    EXPECT_EQ(sampleOf(restarted, handle), value) << handle;
}

// Two sites sweep the same old runs at once; each run goes once, recent
// ones stay, and posts are answered meanwhile.
TEST_F(PgSiteTest, RetentionBySeveralSitesDeletesOnlyOldRuns) {
  constexpr std::int64_t day = 24 * 60 * 60 * 1000;
  const std::string url = zelvor::test::freshDatabase(zelvor::test::sharedCluster());
  const auto store = zelvor::site::openPostgresStore(url, zelvor::site::randomHandle);
  const std::vector<std::string> old = zelvor::test::storeAgedRuns(*store, 1200, 3 * day);
  const std::vector<std::string> recent =
      zelvor::test::storeAgedRuns(*store, 20, 2 * day - 60 * 60 * 1000);
  const std::uint16_t a = start(url, {"--keep-days", "2"}).port();
  const std::uint16_t b = start(url, {"--keep-days", "2"}).port();
  Posters posters({a, b}, 2);
  ASSERT_TRUE(posters.waitFor(200, 50, 30s));
  const auto deadline = std::chrono::steady_clock::now() + 30s;
  while (store->runCount({}) > recent.size() + posters.answered().size() &&
         std::chrono::steady_clock::now() < deadline)
    std::this_thread::sleep_for(50ms);
  posters.finish();
  EXPECT_EQ(store->runCount({}), recent.size() + posters.answered().size());
  for (std::size_t i = 0; i < old.size(); i += 97) EXPECT_EQ(store->findRun(old[i]), std::nullopt);
  for (const std::string& handle : recent) EXPECT_TRUE(store->findRun(handle)) << handle;
  EXPECT_EQ(posters.count(503), 0);
}

}  // namespace
