// The real zelvor-site through the program's own HTTP client and raw
// sockets: the list, reports in and results out with exact figures, every
// kind of bad report refused with nothing stored, many posters at once, a
// kill in the middle of posting, stalled clients, reloading the list,
// stopping, the post limit, the health check and retention.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/site_services.hpp"
#include "net/http_client.hpp"
#include "net/socket.hpp"
#include "site/handle.hpp"
#include "site/store.hpp"
#include "site_process.hpp"
#include "support/failure.hpp"
#include "support/owned_fd_posix.hpp"
#include "support/version.hpp"
#include "temporary_folder.hpp"

namespace {

using namespace std::string_literals;
using namespace std::chrono_literals;
using zelvor::test::exchange;
using zelvor::test::Reply;
using zelvor::test::SiteProcess;
using zelvor::test::TemporaryFolder;

constexpr std::uint32_t clientTimeoutMs = 20000;
// The pages are a browser's to read, not the program's: this bound only keeps
// a broken site from filling the test's memory.
constexpr std::size_t pageReplyLimit = 64 * 1024 * 1024;

const std::string listText =
    "# test hosts\n"
    "Near:198.18.1.1:80\r\n"
    "\n"
    "Far:198.18.3.1:80\n"
    "Near:198.18.1.2:080 spare words\n";
const std::string servedList = "Near:198.18.1.1:80\nFar:198.18.3.1:80\nNear:198.18.1.2:80\n";

std::string postHead(std::size_t length) {
  return "POST /zelvor HTTP/1.0\r\nContent-Length: " + std::to_string(length) + "\r\n\r\n";
}

class SiteTest : public testing::Test {
 protected:
  void start(std::vector<std::string> arguments = {}) {
    // GoogleTest names a thrown text only as "unknown".
    try {
      site.emplace(listFile, dataFile, std::move(arguments));
    } catch (const kelvo::Failure& failure) {
      throw std::runtime_error(failure);
    }
  }
  std::uint16_t port() const { return site->port(); }
  std::string get(const std::string& path) {
    return zelvor::httpGet("127.0.0.1", path, port(), pageReplyLimit, clientTimeoutMs);
  }
  std::string post(const std::string& report) {
    return zelvor::httpPost("127.0.0.1", "/zelvor", report, port(), zelvor::maxHandleReplyBytes,
                            clientTimeoutMs);
  }
  nlohmann::json results(const std::string& handle) {
    try {
      return nlohmann::json::parse(get("/zelvor.json?handle=" + handle));
    } catch (const kelvo::Failure& failure) {
      throw std::runtime_error("the results of " + handle + ": " + failure);
    }
  }
  // Stops the site as an operator would and counts what it stored.
  std::size_t storedRuns() {
    site->signal(SIGTERM);
    EXPECT_EQ(site->waitForExit(30s), 0) << site->log();
    return zelvor::site::openSqliteStore(dataFile, zelvor::site::randomHandle)->runCount({});
  }

  TemporaryFolder folder{"site"};
  std::string listFile = folder.write("servers.list", listText);
  std::string dataFile = (folder.path() / "data" / "runs.db").string();
  std::optional<SiteProcess> site;
};

TEST_F(SiteTest, ServesTheListCanonicallyAndExactly) {
  start();
  EXPECT_EQ(get("/zv_fetch"), servedList);
  EXPECT_TRUE(site->waitForLog(" GET /zv_fetch 200 " + std::to_string(servedList.size()) + " ", 5s))
      << site->log();
}

// a.test: 10 lost 30 20 -> mean 20, median 20, stddev sqrt(200/3), jitter 15.
// b.test never answered; c.test: 5 7 -> median 6. Page order: c, a, b.
const std::string europeReport =
    "Europe\n"
    "a.test:10:\n"
    "a.test::TIMEOUT\n"
    "a.test:30:\n"
    "a.test:20:\n"
    "b.test::UNREACHABLE\n"
    "b.test::UNREACHABLE\n"
    "c.test:5:\n"
    "c.test:7:\n"
    "END\n";

TEST_F(SiteTest, APostedReportReadsBackWithItsFigures) {
  start();
  const std::string handle = post(europeReport);
  ASSERT_TRUE(zelvor::site::isHandleShape(handle)) << handle;

  const nlohmann::json run = results(handle);
  EXPECT_EQ(run["handle"], handle);
  EXPECT_EQ(run["class"], "Europe");
  ASSERT_EQ(run["hosts"].size(), 3u);
  const nlohmann::json& a = run["hosts"][1];
  EXPECT_EQ(run["hosts"][0]["host"], "c.test");
  EXPECT_EQ(a["host"], "a.test");
  EXPECT_EQ(run["hosts"][2]["host"], "b.test");
  EXPECT_EQ(a["sent"], 4);
  EXPECT_EQ(a["received"], 3);
  EXPECT_EQ(a["loss_percent"], 25.0);
  EXPECT_EQ(a["failures"]["TIMEOUT"], 1);
  EXPECT_EQ(a["min_ms"], 10);
  EXPECT_EQ(a["median_ms"], 20.0);
  EXPECT_EQ(a["mean_ms"], 20.0);
  EXPECT_EQ(a["max_ms"], 30);
  EXPECT_DOUBLE_EQ(a["stddev_ms"].get<double>(), std::sqrt(200.0 / 3));
  EXPECT_EQ(a["jitter_ms"], 15.0);
  EXPECT_TRUE(a["p90_ms"].is_null());
  EXPECT_EQ(a["samples"], nlohmann::json::parse(R"([10, "TIMEOUT", 30, 20])"));
  EXPECT_EQ(run["hosts"][2]["failures"]["UNREACHABLE"], 2);
  EXPECT_TRUE(run["hosts"][2]["median_ms"].is_null());
  ASSERT_EQ(run["history"].size(), 1u);
  EXPECT_EQ(run["history"][0]["median_ms"], 10.0);

  EXPECT_EQ(get("/zelvor.csv?handle=" + handle),
            "host,sent,received,loss_percent,BADADDRESS,SOCKERROR,TIMEOUT,EXPIRED,FOREIGN,"
            "UNREACHABLE,BADHEADER,FAILURE,min_ms,median_ms,mean_ms,max_ms,stddev_ms,jitter_ms,"
            "p90_ms,p95_ms,label\r\n"
            "c.test,2,2,0.0,0,0,0,0,0,0,0,0,5,6.0,6.0,7,1.0,2.0,,,\r\n"
            "a.test,4,3,25.0,0,0,1,0,0,0,0,0,10,20.0,20.0,30,8.2,15.0,,,\r\n"
            "b.test,2,0,100.0,0,0,0,0,0,2,0,0,,,,,,,,,\r\n");

  const std::string page = get("/zelvor?handle=" + handle);
  for (const std::string& expected :
       {"Europe"s, "c.test"s, "a.test"s, "b.test"s, "/zelvor.json?handle=" + handle,
        "/zelvor.csv?handle=" + handle, "<svg"s})
    EXPECT_NE(page.find(expected), std::string::npos) << expected;
  const std::string index = get("/");
  EXPECT_NE(index.find("/zelvor?handle=" + handle), std::string::npos);
}

TEST_F(SiteTest, UnknownAndMisshapenHandlesAreNotFound) {
  start();
  post(europeReport);
  for (const std::string& path :
       {"/zelvor?handle=AAAAAAAAAAAAAAAAAAAAAA"s, "/zelvor?handle=x"s, "/zelvor"s,
        "/zelvor.json?handle=AAAAAAAAAAAAAAAAAAAAAA"s, "/zelvor?handle=../../etc/passwd"s,
        "/?page=2"s, "/?page=0"s, "/etc/passwd"s, "/../../etc/passwd"s, "/site.css/../x"s}) {
    const Reply reply = exchange(port(), "GET " + path + " HTTP/1.0\r\n\r\n");
    EXPECT_EQ(reply.status, 404) << path;
  }
}

struct BadReport {
  const char* what;
  std::string report;
  std::string reason;
};

void PrintTo(const BadReport& bad, std::ostream* out) { *out << bad.what; }

class SiteRefuses : public SiteTest, public testing::WithParamInterface<BadReport> {};

TEST_P(SiteRefuses, WithStatus400AndTheLineAndStoresNothing) {
  start();
  const Reply reply = exchange(port(), postHead(GetParam().report.size()) + GetParam().report);
  EXPECT_EQ(reply.status, 400);
  EXPECT_EQ(reply.body, GetParam().reason + "\n");
  EXPECT_EQ(storedRuns(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Reports, SiteRefuses,
    testing::Values(BadReport{"empty", "", "line 1: the report is empty"},
                    BadReport{"no END", "A\nh:1:\n", "line 3: the report ends without END"},
                    BadReport{"text after END", "A\nh:1:\nEND\nh:2:\n", "line 4: text after END"},
                    BadReport{"unknown word", "A\nh::LOST\nEND\n", "line 2: unknown failure word"},
                    BadReport{"CR LF", "A\r\nh:1:\r\nEND\r\n",
                              "line 1: lines end with a line feed alone, not CR LF"},
                    BadReport{"NUL", "A\nh\0:1:\nEND\n"s,
                              "line 2: the line holds a control character"},
                    BadReport{"128-byte host", "A\n" + std::string(128, 'h') + ":1:\nEND\n",
                              "line 2: the host is longer than 127 bytes"},
                    BadReport{"both fields", "A\nh:1:TIMEOUT\nEND\n",
                              "line 2: a sample has either a round trip or a failure word"},
                    BadReport{"padded time", "A\nh:01:\nEND\n",
                              "line 2: the round trip is not a whole number of milliseconds"},
                    BadReport{"missing field", "A\nh:1\nEND\n",
                              "line 2: a sample line is host:rtt: or host::WORD"}));

TEST_F(SiteTest, ABodyOverTheLimitOrOfUnknownLengthIsRefusedBeforeItIsRead) {
  start({"--max-report-bytes", "100"});
  // Only the head and ten bytes are ever sent: the answer must not wait
  // for the rest.
  const Reply declared = exchange(port(), postHead(100'000'000) + std::string(10, 'x'));
  EXPECT_EQ(declared.status, 413);
  EXPECT_EQ(declared.body, "The report is longer than the 100 bytes this site takes\n");
  const Reply chunked = exchange(port(),
                                 "POST /zelvor HTTP/1.1\r\nTransfer-Encoding: chunked\r\n"
                                 "Connection: close\r\n\r\n"
                                 "c8\r\n" +
                                     std::string(200, 'x') + "\r\n0\r\n\r\n");
  EXPECT_EQ(chunked.status, 411);
  EXPECT_EQ(chunked.body, "A report must come with its Content-Length\n");
  const std::string atLimit = "A\n" + std::string(90, 'h') + ":1:\nEND\n";
  ASSERT_EQ(atLimit.size(), 100u);
  EXPECT_TRUE(zelvor::site::isHandleShape(post(atLimit)));
  EXPECT_EQ(storedRuns(), 1u);
}

// Fifty clients post twenty reports each at once; every report differs, and
// every one reads back under its own handle with its own samples.
TEST_F(SiteTest, ManyPostersAtOnceGetDistinctHandlesThatAllReadBack) {
  start();
  constexpr int clients = 50;
  constexpr int reportsEach = 20;
  std::mutex mutex;
  std::map<std::string, std::pair<int, int>> posted;
  std::atomic<int> failures = 0;
  std::vector<std::thread> posters;
  for (int client = 0; client < clients; ++client) {
    posters.emplace_back([&, client] {
      for (int i = 0; i < reportsEach; ++i) {
        try {
          const std::string handle =
              post("Load\nc" + std::to_string(client) + ":" + std::to_string(i) + ":\nEND\n");
          const std::lock_guard lock(mutex);
          posted.emplace(handle, std::pair(client, i));
        } catch (const kelvo::Failure& failure) {
          ADD_FAILURE() << failure;
          ++failures;
        }
      }
    });
  }
  for (std::thread& poster : posters) poster.join();
  EXPECT_EQ(failures, 0);
  ASSERT_EQ(posted.size(), std::size_t{clients * reportsEach});
  for (const auto& [handle, origin] : posted) {
    const nlohmann::json run = results(handle);
    ASSERT_EQ(run["hosts"].size(), 1u) << handle;
    EXPECT_EQ(run["hosts"][0]["host"], "c" + std::to_string(origin.first));
    EXPECT_EQ(run["hosts"][0]["samples"], nlohmann::json::array({origin.second}));
  }
  EXPECT_EQ(storedRuns(), std::size_t{clients * reportsEach});
}

// Posters keep posting while the site is killed outright; after a restart
// every report that was answered with a handle is there.
TEST_F(SiteTest, EveryAnsweredReportSurvivesAKill) {
  start();
  std::mutex mutex;
  std::map<std::string, int> answered;
  std::atomic<bool> killed = false;
  std::atomic<int> next = 0;
  std::vector<std::thread> posters;
  for (int poster = 0; poster < 8; ++poster) {
    posters.emplace_back([&] {
      // Bounded: each poster stops at the kill, or after 2000 posts.
      for (int i = 0; i < 2000 && !killed; ++i) {
        const int value = next++;
        try {
          const std::string handle = post("Kill\nh:" + std::to_string(value) + ":\nEND\n");
          // The program's client returns a body that the kill cut short as
          // far as it came: only a whole handle was answered.
          if (!zelvor::site::isHandleShape(handle)) continue;
          const std::lock_guard lock(mutex);
          answered.emplace(handle, value);
        } catch (const kelvo::Failure&) {
        }
      }
    });
  }
  // Kill once a good number of reports have been answered.
  for (int i = 0; i < 1000; ++i) {
    {
      const std::lock_guard lock(mutex);
      if (answered.size() >= 200) break;
    }
    std::this_thread::sleep_for(10ms);
  }
  site->signal(SIGKILL);
  killed = true;
  for (std::thread& poster : posters) poster.join();
  ASSERT_EQ(site->waitForExit(10s), 128 + SIGKILL);
  ASSERT_GE(answered.size(), 200u);

  start();
  for (const auto& [handle, value] : answered) {
    const nlohmann::json run = results(handle);
    EXPECT_EQ(run["hosts"][0]["samples"], nlohmann::json::array({value})) << handle;
  }
}

// Clients that send part of a request and stall, more of them than there
// are workers, do not keep the site from answering another client; and one
// that trickles its request a byte at a time is dropped at the deadline.
TEST_F(SiteTest, StalledAndTricklingClientsDoNotHoldUpOthers) {
  start({"--workers", "2", "--request-timeout", "3"});
  std::vector<std::unique_ptr<kelvo::Socket>> stalled;
  for (int i = 0; i < 6; ++i) {
    stalled.push_back(std::make_unique<kelvo::Socket>("127.0.0.1", port(), clientTimeoutMs));
    stalled.back()->sendAll(i % 2 == 0 ? "GET /zv_fetch HTTP/1.1\r\nHost: a\r\n"
                                       : postHead(50) + "Near\n");
  }
  EXPECT_EQ(get("/zv_fetch"), servedList);
  EXPECT_TRUE(zelvor::site::isHandleShape(post(europeReport)));

  const kelvo::OwnedFd trickling(::socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port());
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::connect(trickling.get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  const std::string request = "GET /zv_fetch HTTP/1.0\r\nX-Padding: " + std::string(60, 'x');
  const auto began = std::chrono::steady_clock::now();
  bool dropped = false;
  for (std::size_t i = 0; i < request.size() && !dropped; ++i) {
    if (::send(trickling.get(), &request[i], 1, MSG_NOSIGNAL) != 1) break;
    pollfd watched{trickling.get(), POLLIN, 0};
    char byte;
    dropped = ::poll(&watched, 1, 200) == 1 && ::recv(trickling.get(), &byte, 1, 0) <= 0;
  }
  EXPECT_TRUE(dropped);
  // Three seconds of the request's time, and the watcher's second of
  // granularity; never the twelve seconds the whole request would take.
  EXPECT_LT(std::chrono::steady_clock::now() - began, 8s);
}

// HTTP/1.1 as browsers and tools speak it: requests pipelined on one
// connection are answered in order, and a client that asks leave to send
// its body gets it.
TEST_F(SiteTest, Http11ConnectionsPipelineAndContinue) {
  start();
  const Reply pipelined = exchange(port(),
                                   "GET /zv_fetch HTTP/1.1\r\nHost: a\r\n\r\n"
                                   "GET /health HTTP/1.1\r\nHost: a\r\nConnection: close\r\n\r\n");
  EXPECT_EQ(pipelined.status, 200);
  EXPECT_EQ(pipelined.head.find("Connection: close"), std::string::npos) << pipelined.head;
  EXPECT_EQ(pipelined.body.substr(0, servedList.size()), servedList);
  EXPECT_NE(pipelined.body.find("HTTP/1.1 200 OK\r\n"), std::string::npos);
  EXPECT_TRUE(pipelined.body.ends_with("Connection: close\r\nContent-Length: 3\r\n\r\nok\n"))
      << pipelined.body;
  const Reply headOnly = exchange(port(), "HEAD /zv_fetch HTTP/1.0\r\n\r\n");
  EXPECT_EQ(headOnly.status, 200);
  EXPECT_NE(headOnly.head.find("\r\nContent-Length: " + std::to_string(servedList.size())),
            std::string::npos)
      << headOnly.head;
  EXPECT_EQ(headOnly.body, "");

  // The body sent with the head needs no leave; nor can HTTP/1.0 be given it.
  for (const char* version : {"1.1", "1.0"}) {
    const Reply unasked =
        exchange(port(), "POST /zelvor HTTP/"s + version +
                             "\r\nExpect: 100-continue\r\nConnection: close\r\nContent-Length: " +
                             std::to_string(europeReport.size()) + "\r\n\r\n" + europeReport);
    EXPECT_EQ(unasked.status, 200) << version;
    EXPECT_TRUE(zelvor::site::isHandleShape(unasked.body)) << unasked.body;
  }
  const kelvo::OwnedFd waiting = zelvor::test::connectFrom(port(), "127.0.0.1");
  const std::string head =
      "POST /zelvor HTTP/1.1\r\nHost: a\r\nExpect: 100-continue\r\nContent-Length: " +
      std::to_string(europeReport.size()) + "\r\nConnection: close\r\n\r\n";
  ASSERT_EQ(::send(waiting.get(), head.data(), head.size(), MSG_NOSIGNAL), ssize_t(head.size()));
  char leave[64] = {};
  ASSERT_EQ(::recv(waiting.get(), leave, sizeof leave, 0), 25);
  EXPECT_STREQ(leave, "HTTP/1.1 100 Continue\r\n\r\n");
  ::send(waiting.get(), europeReport.data(), europeReport.size(), MSG_NOSIGNAL);
  std::string reply;
  char chunk[4096];
  for (ssize_t got; (got = ::recv(waiting.get(), chunk, sizeof chunk, 0)) > 0;)
    reply.append(chunk, static_cast<std::size_t>(got));
  EXPECT_TRUE(reply.starts_with("HTTP/1.1 200 OK\r\n")) << reply;
  EXPECT_TRUE(zelvor::site::isHandleShape(reply.substr(reply.find("\r\n\r\n") + 4))) << reply;
}

// Whether the site has closed `socket`, waiting at most `limit` for it.
bool closedBySite(const kelvo::OwnedFd& socket, std::chrono::milliseconds limit) {
  pollfd watched{socket.get(), POLLIN, 0};
  char byte;
  return ::poll(&watched, 1, static_cast<int>(limit.count())) == 1 &&
         ::recv(socket.get(), &byte, 1, MSG_DONTWAIT) <= 0;
}

// Many stalled connections from one address get that address's share and
// no more; when the site is full, a newcomer from elsewhere is served and
// the connection that has waited longest is let go for it.
TEST_F(SiteTest, StalledConnectionsFromOneAddressLeaveRoomForEveryoneElse) {
  start({"--max-connections-per-address", "8", "--max-connections", "12"});
  std::vector<kelvo::OwnedFd> stalled;
  for (const char* from : {"127.0.0.1", "127.0.0.3"}) {
    for (int i = 0; i < (from[8] == '1' ? 20 : 4); ++i) {
      stalled.push_back(zelvor::test::connectFrom(port(), from));
      ::send(stalled.back().get(), "GET /zv_fetch HTTP/1.1\r\n", 25, MSG_NOSIGNAL);
    }
    // Accepted in the order they came, before the next address's.
    std::this_thread::sleep_for(300ms);
  }
  for (std::size_t i = 0; i < stalled.size(); ++i)
    EXPECT_EQ(closedBySite(stalled[i], i < 20 ? 100ms : 0ms), i >= 8 && i < 20) << i;
  // The first refusal is logged at once, those within the next second
  // together at its end.
  ASSERT_TRUE(site->waitForLog("connections: 1 refused, their address holding 8\n", 5s));
  ASSERT_TRUE(site->waitForLog("connections: 11 refused, their address holding 8\n", 5s))
      << site->log();

  const Reply answered = exchange(port(), "GET /zv_fetch HTTP/1.0\r\n\r\n", "127.0.0.2");
  EXPECT_EQ(answered.status, 200);
  EXPECT_EQ(answered.body, servedList);
  EXPECT_TRUE(closedBySite(stalled[0], 2s));
  EXPECT_FALSE(closedBySite(stalled[1], 0ms));
  EXPECT_TRUE(site->waitForLog("1 waiting longest closed for newcomers", 5s)) << site->log();
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(exchange(port(), "GET /zv_fetch HTTP/1.0\r\n\r\n", "127.0.0.2").body, servedList);
}

TEST_F(SiteTest, ReloadsTheListOnHangupAndKeepsItWhenTheNewOneIsBad) {
  start();
  folder.write("servers.list", "Other:198.18.2.1:80\n");
  site->signal(SIGHUP);
  ASSERT_TRUE(site->waitForLog("reloaded " + listFile + ": 1 servers in 1 classes", 10s))
      << site->log();
  EXPECT_EQ(get("/zv_fetch"), "Other:198.18.2.1:80\n");

  folder.write("servers.list", "Other:198.18.2.1:80\nOther:198.18.2.2:8080\n");
  site->signal(SIGHUP);
  ASSERT_TRUE(site->waitForLog("keeping the list served so far: " + listFile +
                                   ":2: the program would skip this line; write class:host:80",
                               10s))
      << site->log();
  EXPECT_EQ(get("/zv_fetch"), "Other:198.18.2.1:80\n");
}

TEST_F(SiteTest, DoesNotStartWithABadListAndSaysWhere) {
  const std::string bad = folder.write("bad.list", "A:h:80\n# fine\nA:h\n");
  const auto [status, output] =
      SiteProcess::runToEnd({"--listen", "127.0.0.1:0", "--servers", bad, "--data", dataFile});
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("zelvor-site: " + bad +
                        ":3: the program would skip this line; write class:host:80"),
            std::string::npos)
      << output;
}

TEST_F(SiteTest, SaysItsVersion) {
  const auto [status, output] = SiteProcess::runToEnd({"--version"});
  EXPECT_EQ(status, 0);
  EXPECT_EQ(output, "zelvor-site " + std::string(kelvo::version) + "\n");
}

TEST_F(SiteTest, ASecondSiteOnTheSamePortIsRefused) {
  start();
  const std::string address = "127.0.0.1:" + std::to_string(port());
  const auto [status, output] =
      SiteProcess::runToEnd({"--listen", address, "--servers", listFile, "--data",
                             (folder.path() / "other.db").string()});
  EXPECT_EQ(status, 1);
  EXPECT_NE(output.find("zelvor-site: Cannot listen on " + address + ": Address already in use"),
            std::string::npos)
      << output;
  EXPECT_EQ(get("/zv_fetch"), servedList);
}

// A report half sent when SIGTERM comes is still answered and stored; then
// the site closes its store and exits 0.
TEST_F(SiteTest, TerminationAnswersTheRequestInFlight) {
  start();
  kelvo::Socket client("127.0.0.1", port(), clientTimeoutMs);
  client.sendAll(postHead(europeReport.size()) + europeReport.substr(0, 20));
  // The request must have begun to arrive when the signal comes.
  std::this_thread::sleep_for(300ms);
  site->signal(SIGTERM);
  ASSERT_TRUE(site->waitForLog("stopping", 10s));
  client.sendAll(europeReport.substr(20));
  const std::string handle = zelvor::readResponse(client, zelvor::maxHandleReplyBytes);
  EXPECT_TRUE(zelvor::site::isHandleShape(handle)) << handle;
  EXPECT_EQ(site->waitForExit(30s), 0) << site->log();
  auto store = zelvor::site::openSqliteStore(dataFile, zelvor::site::randomHandle);
  ASSERT_TRUE(store->findRun(handle));
  EXPECT_EQ(store->findRun(handle)->report, europeReport);
}

// A stopping site closes idle connections at once and gives a request
// stalled in its head a short grace, not its whole time-out.
TEST_F(SiteTest, TerminationDoesNotWaitOutStalledHeads) {
  start({"--request-timeout", "60"});
  kelvo::Socket idle("127.0.0.1", port(), clientTimeoutMs);
  idle.sendAll("GET /zv_fetch HTTP/1.1\r\nHost: a\r\n\r\n");
  const kelvo::OwnedFd stalled = zelvor::test::connectFrom(port(), "127.0.0.1");
  ::send(stalled.get(), "GET /zv_fetch HTTP/1.1\r\n", 25, MSG_NOSIGNAL);
  std::this_thread::sleep_for(300ms);
  const auto began = std::chrono::steady_clock::now();
  site->signal(SIGTERM);
  EXPECT_EQ(site->waitForExit(20s), 0) << site->log();
  EXPECT_LT(std::chrono::steady_clock::now() - began, 10s);
}

// Bodies being read take memory the moment their length is declared: past a
// bound for all connections together, more are answered busy, unread.
TEST_F(SiteTest, BodiesBeingReadAreBoundedTogether) {
  start({"--workers", "1", "--max-report-bytes", "1000"});
  std::vector<kelvo::OwnedFd> holding;
  for (int i = 0; i < 2; ++i) {
    holding.push_back(zelvor::test::connectFrom(port(), "127.0.0.1"));
    ::send(holding.back().get(), postHead(1000).data(), postHead(1000).size(), MSG_NOSIGNAL);
  }
  std::this_thread::sleep_for(300ms);
  const Reply busy = exchange(port(), postHead(10) + "0123456789");
  EXPECT_EQ(busy.status, 503);
  EXPECT_NE(busy.head.find("Retry-After: 5\r\n"), std::string::npos) << busy.head;
  holding.clear();
  std::this_thread::sleep_for(300ms);
  EXPECT_TRUE(zelvor::site::isHandleShape(post(europeReport)));
}

Reply postFrom(std::uint16_t port, const char* from, const std::string& forwardedFor = "",
               const std::string& target = "/zelvor",
               const std::string& report = "Limit\nh:1:\nEND\n") {
  std::string head =
      "POST " + target + " HTTP/1.0\r\nContent-Length: " + std::to_string(report.size());
  if (!forwardedFor.empty()) head += "\r\nX-Forwarded-For: " + forwardedFor;
  return exchange(port, head + "\r\n\r\n" + report, from);
}

// Each post names its source address, what it claims to forward for, and
// the status and Retry-After it gets ("" for none).
struct LimitedPost {
  const char* from;
  const char* forwardedFor;
  int status;
  const char* retryAfter;
};

void expectPosts(std::uint16_t port, const std::vector<LimitedPost>& posts) {
  for (const LimitedPost& post : posts) {
    SCOPED_TRACE(testing::Message() << post.from << " for [" << post.forwardedFor << "]");
    const Reply reply = postFrom(port, post.from, post.forwardedFor);
    EXPECT_EQ(reply.status, post.status) << reply.body;
    const std::size_t retry = reply.head.find("Retry-After: ");
    EXPECT_EQ(retry == std::string::npos
                  ? ""
                  : reply.head.substr(retry + 13, reply.head.find('\r', retry) - retry - 13),
              post.retryAfter);
  }
}

TEST_F(SiteTest, PostsOverTheLimitPerAddressAreRefusedWith429) {
  start({"--post-limit", "3/min"});
  expectPosts(port(), {{"127.0.0.1", "", 200, ""},
                       {"127.0.0.1", "", 200, ""},
                       {"127.0.0.1", "", 200, ""},
                       {"127.0.0.1", "", 429, "20"},
                       // Without --trusted-proxy a forwarded address is not believed.
                       {"127.0.0.1", "192.0.2.1", 429, "20"},
                       {"127.0.0.2", "", 200, ""}});
  EXPECT_EQ(postFrom(port(), "127.0.0.1").body,
            "Too many reports from 127.0.0.1; try again in 20 seconds\n");
  // Pages are not limited.
  EXPECT_EQ(exchange(port(), "GET /zv_fetch HTTP/1.0\r\n\r\n").status, 200);
  // Four answered posts of the same report: one run.
  EXPECT_EQ(storedRuns(), 1u);
}

TEST_F(SiteTest, BehindATrustedProxyTheForwardedAddressIsLimited) {
  start({"--post-limit", "1/min", "--trusted-proxy", "127.0.0.1"});
  expectPosts(port(), {{"127.0.0.1", "192.0.2.1", 200, ""},
                       {"127.0.0.1", "198.51.100.9, 192.0.2.1", 429, "60"},
                       {"127.0.0.1", "192.0.2.2", 200, ""},
                       // Not the proxy: counted as itself, whatever it claims.
                       {"127.0.0.2", "192.0.2.3", 200, ""},
                       {"127.0.0.2", "192.0.2.4", 429, "60"}});
}

TEST_F(SiteTest, UnlabelledRunsAreLabelledByTheNetworksFileReadAgainOnHangup) {
  const std::string networks = folder.write("networks",
                                            "# offices\n"
                                            "127.0.0.0/8 loopback\n"
                                            "127.0.0.2/32 desk.2\n"
                                            "198.18.0.0/15 lab_v4\n"
                                            "2001:db8:1::/48 lab-v6\n");
  start({"--networks", networks, "--trusted-proxy", "127.0.0.1"});
  ASSERT_TRUE(site->waitForLog("labelling by " + networks + ": 4 ranges", 10s)) << site->log();
  int posted = 0;
  const auto labelOf = [&](const char* from, const std::string& forwardedFor,
                           const std::string& query = "") {
    // A report of its own each time: the same one again is a re-post.
    const std::string report = "Label\nh:" + std::to_string(++posted) + ":\nEND\n";
    const Reply reply = postFrom(port(), from, forwardedFor, "/zelvor" + query, report);
    EXPECT_EQ(reply.status, 200) << reply.body;
    return results(reply.body)["label"];
  };
  const struct {
    const char* from;
    const char* forwardedFor;
    const char* query;
    nlohmann::json label;
  } cases[] = {
      {"127.0.0.3", "", "", "loopback"},
      // The narrowest range wins.
      {"127.0.0.2", "", "", "desk.2"},
      {"127.0.0.1", "198.19.255.1", "", "lab_v4"},
      {"127.0.0.1", "2001:db8:1:ffff::9", "", "lab-v6"},
      {"127.0.0.1", "2001:db8:2::9", "", nullptr},
      // Only the proxy is believed.
      {"127.0.0.2", "198.18.0.1", "", "desk.2"},
      // The client's own word wins.
      {"127.0.0.2", "", "?label=own", "own"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " for " + c.forwardedFor + c.query);
    EXPECT_EQ(labelOf(c.from, c.forwardedFor, c.query), c.label);
  }

  folder.write("networks", "127.0.0.0/8 moved\n");
  site->signal(SIGHUP);
  ASSERT_TRUE(site->waitForLog("reloaded " + networks + ": 1 range", 10s)) << site->log();
  EXPECT_EQ(labelOf("127.0.0.2", ""), "moved");
  folder.write("networks", "127.0.0.0/8 moved\n10.0.0.0/8 two words\n");
  site->signal(SIGHUP);
  ASSERT_TRUE(site->waitForLog("keeping the networks in force so far: " + networks +
                                   ":2: write a range and a label: CIDR label",
                               10s))
      << site->log();
  EXPECT_EQ(labelOf("127.0.0.2", ""), "moved");
  // A bad label is refused, and nothing is stored.
  const Reply refused = postFrom(port(), "127.0.0.2", "", "/zelvor?label=a%2Fb");
  EXPECT_EQ(refused.status, 400);
  EXPECT_EQ(refused.body, "The label \"a/b\" is not 1 to 64 letters, digits, '-', '_' or '.'\n");
  EXPECT_EQ(storedRuns(), 9u);
}

TEST_F(SiteTest, HealthIsOkWhileTheStoreAnswers) {
  start();
  const Reply health = exchange(port(), "GET /health HTTP/1.0\r\n\r\n");
  EXPECT_EQ(health.status, 200);
  EXPECT_EQ(health.body, "ok\n");
  EXPECT_NE(health.head.find("Cache-Control: no-store"), std::string::npos) << health.head;
}

// Old runs go in batches while posts are answered; recent ones stay.
TEST_F(SiteTest, RetentionDeletesOnlyRunsOlderThanTheDaysKept) {
  constexpr std::int64_t day = 24 * 60 * 60 * 1000;
  std::vector<std::string> old, recent;
  {
    const auto store = zelvor::site::openSqliteStore(dataFile, zelvor::site::randomHandle);
    old = zelvor::test::storeAgedRuns(*store, 1200, 3 * day);
    recent = zelvor::test::storeAgedRuns(*store, 20, 2 * day - 60 * 60 * 1000);
  }
  start({"--keep-days", "2"});
  std::vector<std::string> posted;
  for (int i = 0; i < 20; ++i) posted.push_back(post("Now\nh:" + std::to_string(i) + ":\nEND\n"));
  ASSERT_TRUE(site->waitForLog("retention: deleted 1200 old runs", 30s)) << site->log();
  for (const std::vector<std::string>* handles : {&old, &recent, &posted}) {
    const int expected = handles == &old ? 404 : 200;
    for (std::size_t i = 0; i < handles->size(); i += 97)
      EXPECT_EQ(
          exchange(port(), "GET /zelvor.json?handle=" + (*handles)[i] + " HTTP/1.0\r\n\r\n").status,
          expected);
  }
  EXPECT_EQ(storedRuns(), recent.size() + posted.size());
}

// The lines of `page` that start with `prefix`, in order.
std::vector<std::string> linesStarting(const std::string& page, const std::string& prefix) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = page.find('\n', start)) != std::string::npos; start = end + 1)
    if (page.compare(start, prefix.size(), prefix) == 0)
      lines.push_back(page.substr(start, end - start));
  return lines;
}

// promtool's exit status and everything it said on reading `page`.
std::pair<int, std::string> promtoolCheckMetrics(const TemporaryFolder& folder,
                                                 const std::string& page) {
  const std::string file = folder.write("metrics.txt", page);
  FILE* const pipe = ::popen(("promtool check metrics < '" + file + "' 2>&1").c_str(), "r");
  if (pipe == nullptr) return {-1, "cannot start promtool"};
  std::string output;
  char buffer[4096];
  for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
    output.append(buffer, got);
  const int status = ::pclose(pipe);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, output};
}

TEST_F(SiteTest, MetricsCountWhatWasStoredAndReadAsPrometheusText) {
  start();
  // 198.18.3.1 is listed, but under Far; Europe is no class of the list.
  post(
      "Near\n198.18.1.1:5:\n198.18.1.1:12:\n198.18.1.1::TIMEOUT\n198.18.3.1:40:\n"
      "unlisted.test:7:\nEND\n");
  post(europeReport);
  EXPECT_EQ(exchange(port(), "GET /nothing HTTP/1.0\r\n\r\n").status, 404);
  EXPECT_EQ(exchange(port(), "NOT HTTP\r\n\r\n").status, 400);
  const Reply reply = exchange(port(), "GET /metrics HTTP/1.0\r\n\r\n");
  ASSERT_EQ(reply.status, 200) << reply.head;
  EXPECT_NE(reply.head.find("Content-Type: text/plain; version=0.0.4; charset=utf-8\r\n"),
            std::string::npos)
      << reply.head;
  const std::string& page = reply.body;
  EXPECT_EQ(
      linesStarting(page, "zelvor_reports_received_total{"),
      (std::vector<std::string>{R"(zelvor_reports_received_total{class="Near",label=""} 1)",
                                R"(zelvor_reports_received_total{class="other",label=""} 1)"}));
  EXPECT_EQ(
      linesStarting(page, "zelvor_echoes_total{"),
      (std::vector<std::string>{
          R"(zelvor_echoes_total{class="Near",host="198.18.1.1",label="",outcome="TIMEOUT"} 1)",
          R"(zelvor_echoes_total{class="Near",host="198.18.1.1",label="",outcome="ok"} 2)",
          R"(zelvor_echoes_total{class="Near",host="other",label="",outcome="ok"} 2)",
          R"(zelvor_echoes_total{class="other",host="other",label="",outcome="TIMEOUT"} 1)",
          R"(zelvor_echoes_total{class="other",host="other",label="",outcome="UNREACHABLE"} 2)",
          R"(zelvor_echoes_total{class="other",host="other",label="",outcome="ok"} 5)"}));
  // 5 and 12 ms; 40 and 7; 10, 30, 20, 5 and 7.
  const auto buckets = [&](const std::string& series) {
    std::string counts;
    for (const std::string& line :
         linesStarting(page, "zelvor_round_trip_seconds_bucket{" + series + ",le="))
      counts += line.substr(line.rfind(' ') + 1) + " ";
    return counts;
  };
  EXPECT_EQ(buckets(R"(class="Near",host="198.18.1.1",label="")"), "0 0 1 1 2 2 2 2 2 2 2 2 2 ");
  EXPECT_EQ(buckets(R"(class="Near",host="other",label="")"), "0 0 0 1 1 2 2 2 2 2 2 2 2 ");
  EXPECT_EQ(buckets(R"(class="other",host="other",label="")"), "0 0 1 3 4 5 5 5 5 5 5 5 5 ");
  EXPECT_EQ(linesStarting(page, "zelvor_round_trip_seconds_sum{"),
            (std::vector<std::string>{
                R"(zelvor_round_trip_seconds_sum{class="Near",host="198.18.1.1",label=""} 0.017)",
                R"(zelvor_round_trip_seconds_sum{class="Near",host="other",label=""} 0.047)",
                R"(zelvor_round_trip_seconds_sum{class="other",host="other",label=""} 0.072)"}));
  // The malformed request is the server's own refusal, counted all the same.
  EXPECT_EQ(linesStarting(page, "zelvor_http_requests_total{"),
            (std::vector<std::string>{R"(zelvor_http_requests_total{code="200"} 2)",
                                      R"(zelvor_http_requests_total{code="400"} 1)",
                                      R"(zelvor_http_requests_total{code="404"} 1)"}));
  EXPECT_EQ(linesStarting(page, "zelvor_http_request_duration_seconds_count"),
            std::vector<std::string>{"zelvor_http_request_duration_seconds_count 3"});
  EXPECT_EQ(promtoolCheckMetrics(folder, page), (std::pair<int, std::string>{0, ""}));
}

TEST_F(SiteTest, MetricsGoOnlyToTheAddressesOfMetricsFrom) {
  start({"--trusted-proxy", "127.0.0.1", "--metrics-from", "192.0.2.0/24,::1"});
  const std::string refused = "The metrics are not served to this address\n";
  const struct {
    const char* from;
    const char* forwardedFor;
    int status;
  } cases[] = {
      {"127.0.0.1", "192.0.2.7", 200},
      {"127.0.0.1", "203.0.113.5, 192.0.2.7", 200},
      {"127.0.0.1", "192.0.2.7, 203.0.113.5", 403},
      // Loopback was given up for the ranges named.
      {"127.0.0.1", "", 403},
      // Only the proxy's forwarding is believed.
      {"127.0.0.2", "192.0.2.7", 403},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.from) + " for " + c.forwardedFor);
    std::string request = "GET /metrics HTTP/1.0\r\n";
    if (*c.forwardedFor != '\0') request += "X-Forwarded-For: "s + c.forwardedFor + "\r\n";
    const Reply reply = exchange(port(), request + "\r\n", c.from);
    EXPECT_EQ(reply.status, c.status);
    if (c.status == 403) {
      EXPECT_EQ(reply.body, refused);
    }
  }
}

TEST_F(SiteTest, RefusesToStartWithAStoreOrLimitItCannotUse) {
  const struct {
    std::vector<std::string> arguments;
    int status;
    std::string output;
  } cases[] = {
      {{"--store", "mysql://x"}, 105, "--store: expected a postgresql:// URL, not mysql://x\n"},
      {{"--post-limit", "5/hour"}, 105, "--post-limit: expected N/min, not 5/hour\n"},
      {{"--keep-days", "0"}, 105, "--keep-days: Value 0 not in range 1 to 100000\n"},
      {{"--metrics-from", "10.0.0.1/8"},
       105,
       "--metrics-from: expected ADDRESS/PREFIX, not 10.0.0.1/8\n"},
      {{"--networks", folder.write("bad.networks", "198.18.0.0/15 lab\n198.18.0.1/15 x\n")},
       1,
       "zelvor-site: " + (folder.path() / "bad.networks").string() +
           ":2: not an address range such as 198.18.0.0/15 or 2001:db8::/32: 198.18.0.1/15\n"},
      {{"--networks", (folder.path() / "none").string()},
       1,
       "zelvor-site: " + (folder.path() / "none").string() + ": cannot be read\n"},
      {{"--store", "postgresql://zelvor@/runs?host=" + folder.path().string()},
       1,
       "zelvor-site: Could not connect to the database: connection to server on socket \"" +
           (folder.path() / ".s.PGSQL.5432").string() + "\" failed: No such file or directory\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.arguments[0]);
    std::vector<std::string> arguments{"--listen", "127.0.0.1:0", "--servers", listFile};
    arguments.insert(arguments.end(), c.arguments.begin(), c.arguments.end());
    const auto [status, output] = SiteProcess::runToEnd(arguments);
    EXPECT_EQ(status, c.status);
    EXPECT_NE(output.find(c.output), std::string::npos) << output;
  }
}

}  // namespace
