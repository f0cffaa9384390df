// The site's answers without a socket: every route, status, type, header and
// refusal, over a real SQLite store in a folder of the test's own.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "site/embedded_files.hpp"
#include "site/handle.hpp"
#include "site/not_found_page.hpp"
#include "site/server_list.hpp"
#include "site/site.hpp"
#include "site/store.hpp"
#include "site/style_sheet.hpp"
#include "site/wall_clock.hpp"
#include "site_store_contract.hpp"
#include "support/failure.hpp"
#include "support/utc_time.hpp"

namespace {

using namespace std::string_literals;
using zelvor::site::Reply;
using zelvor::site::Request;
using zelvor::site::Site;

constexpr char storedHandle[] = "AAECAwQFBgcICQoLDA0ODw";
constexpr char secondHandle[] = "BBECAwQFBgcICQoLDA0ODw";
constexpr char unknownHandle[] = "_____________________w";
const std::string report = "Near\n198.18.1.1:5:\n198.18.1.1::TIMEOUT\nEND\n";
const std::string listText = "Near:198.18.1.1:80\nFar:198.18.3.1:80\n";

Request requestOf(std::string method, std::string path, std::string query = "",
                  std::string body = "") {
  Request request;
  request.method = std::move(method);
  request.path = std::move(path);
  request.query = std::move(query);
  if (!body.empty()) request.contentLength = body.size();
  request.body = std::move(body);
  request.peer = "127.0.0.1";
  return request;
}

// The answers over a store holding one run of the class "Near", under
// storedHandle.
class SiteAnswer : public zelvor::test::InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    store_ = zelvor::site::openSqliteStore(
        (dir_ / "runs.db").string(),
        zelvor::test::scripted({storedHandle, secondHandle, "CCECAwQFBgcICQoLDA0ODw"}));
    site_ = std::make_unique<Site>(*store_, zelvor::site::parseServerListFile(listText, "list"),
                                   rules(), metricsRules());
    ASSERT_EQ(site_->answer(requestOf("POST", "/zelvor", "", report)).body, storedHandle);
  }
  virtual zelvor::site::PostRules rules() const { return {}; }
  virtual zelvor::site::MetricsRules metricsRules() const { return {}; }

  std::unique_ptr<zelvor::site::Store> store_;
  std::unique_ptr<Site> site_;
};

// What a reply must be: its status, its type, and its body exactly or, for
// the pages, how it begins.
struct Route {
  std::string method;
  std::string path;
  std::string query;
  int status;
  const char* type;
  std::string bodyStart;
  bool wholeBody;
};

void PrintTo(const Route& route, std::ostream* out) {
  *out << route.method << ' ' << route.path << '?' << route.query;
}

class SiteRoutes : public SiteAnswer, public testing::WithParamInterface<Route> {};

const std::string notFound = zelvor::site::notFoundPage();
constexpr char html[] = "text/html; charset=utf-8";
constexpr char text[] = "text/plain; charset=utf-8";

TEST_P(SiteRoutes, AnswerWithTheirStatusTypeAndBody) {
  const Route& route = GetParam();
  const Reply reply = site_->answer(requestOf(route.method, route.path, route.query));
  EXPECT_EQ(reply.status, route.status);
  EXPECT_EQ(reply.header("Content-Type"), route.type);
  if (route.wholeBody)
    EXPECT_EQ(reply.body, route.bodyStart);
  else
    EXPECT_EQ(reply.body.substr(0, route.bodyStart.size()), route.bodyStart);
  EXPECT_FALSE(reply.close);
  // Every answer, a refusal as much as a page, carries the same policy.
  EXPECT_EQ(reply.header("X-Content-Type-Options"), "nosniff");
  EXPECT_EQ(reply.header("Referrer-Policy"), "no-referrer");
  EXPECT_EQ(reply.header("Content-Security-Policy"),
            "default-src 'none'; style-src 'self'; img-src 'self'; base-uri 'none'; "
            "form-action 'none'; frame-ancestors 'none'");
}

INSTANTIATE_TEST_SUITE_P(
    Routes, SiteRoutes,
    testing::Values(
        Route{"GET", "/zv_fetch", "", 200, text, "Near:198.18.1.1:80\nFar:198.18.3.1:80\n", true},
        Route{"HEAD", "/zv_fetch", "", 200, text, "Near:198.18.1.1:80\nFar:198.18.3.1:80\n", true},
        Route{"GET", "/zelvor", "handle="s + storedHandle, 200, html, "<!DOCTYPE html>", false},
        // Query values are percent-decoded.
        Route{"GET", "/zelvor", "x=1&handle=%41AECAwQFBgcICQoLDA0ODw", 200, html, "<!DOCTYPE html>",
              false},
        Route{"GET", "/zelvor.json", "handle="s + storedHandle, 200, "application/json",
              "{\"handle\":\""s + storedHandle + "\",\"class\":\"Near\"", false},
        Route{"GET", "/zelvor.csv", "handle="s + storedHandle, 200, "text/csv; charset=utf-8",
              "host,sent,received,loss_percent,", false},
        Route{"GET", "/zelvor", "handle="s + unknownHandle, 404, html, notFound, true},
        Route{"GET", "/zelvor.json", "handle=../../etc/passwd", 404, html, notFound, true},
        Route{"GET", "/zelvor", "", 404, html, notFound, true},
        Route{"GET", "/", "", 200, html, "<!DOCTYPE html>", false},
        Route{"GET", "/", "page=1", 200, html, "<!DOCTYPE html>", false},
        Route{"GET", "/", "page=2", 404, html, notFound, true},
        Route{"GET", "/", "page=0", 404, html, notFound, true},
        Route{"GET", "/", "page=1x", 404, html, notFound, true},
        Route{"GET", "/health", "", 200, text, "ok\n", true},
        Route{"GET", "/site.css", "", 200, "text/css; charset=utf-8",
              std::string(zelvor::site::styleSheet()), true},
        Route{"GET", "/favicon.ico", "", 200, "image/x-icon", "\0\0\1\0"s, false},
        Route{"GET", "/robots.txt", "", 200, text,
              std::string(zelvor::embedded::robotsText().begin(),
                          zelvor::embedded::robotsText().end()),
              true},
        Route{"GET", "/nothing", "", 404, html, notFound, true},
        Route{"GET", "/zv_fetch/", "", 404, html, notFound, true},
        Route{"POST", "/zv_fetch", "", 404, html, notFound, true},
        Route{"PUT", "/zelvor", "", 404, html, notFound, true},
        Route{"DELETE", "/", "", 404, html, notFound, true}));

TEST_F(SiteAnswer, CachingIsSaidOnlyWhereItMatters) {
  EXPECT_EQ(site_->answer(requestOf("GET", "/")).header("Cache-Control"), "no-cache");
  EXPECT_EQ(site_->answer(requestOf("GET", "/health")).header("Cache-Control"), "no-store");
  EXPECT_EQ(site_->answer(requestOf("GET", "/favicon.ico")).header("Cache-Control"),
            "max-age=86400");
  EXPECT_EQ(site_->answer(requestOf("GET", "/zv_fetch")).header("Cache-Control"), "");
}

TEST_F(SiteAnswer, AReportThatDoesNotReadIsRefusedWithItsLineAndNotStored) {
  const Reply reply = site_->answer(requestOf("POST", "/zelvor", "", "Near\nh:1\nEND\n"));
  EXPECT_EQ(reply.status, 400);
  EXPECT_EQ(reply.body, "line 2: a sample line is host:rtt: or host::WORD\n");
  EXPECT_EQ(store_->runCount({}), 1u);
}

TEST_F(SiteAnswer, APostsLabelAndMeasuredTimeAreKeptAndShown) {
  const std::int64_t measured = (zelvor::site::unixNowMs() / 1000 - 3600) * 1000;
  const std::string query = "label=lab-1&measured_at=" + kelvo::isoUtcTime(measured);
  // Not the stored report again: that would be a re-post of it.
  const std::string later = "Near\n198.18.1.1:6:\nEND\n";
  ASSERT_EQ(site_->answer(requestOf("POST", "/zelvor", query, later)).body, secondHandle);
  const std::optional<zelvor::site::StoredRun> run = store_->findRun(secondHandle);
  ASSERT_TRUE(run.has_value());
  EXPECT_EQ(run->summary.label, "lab-1");
  EXPECT_EQ(run->summary.measuredAtMs, measured);
  EXPECT_GE(run->summary.receivedAtMs, measured + 3'600'000);
  const std::string json =
      site_->answer(requestOf("GET", "/zelvor.json", "handle="s + secondHandle)).body;
  EXPECT_NE(
      json.find(",\"measured_at\":\"" + kelvo::isoUtcTime(measured) +
                "\",\"measured_at_ms\":" + std::to_string(measured) + ",\"label\":\"lab-1\","),
      std::string::npos)
      << json;
  const std::string csv =
      site_->answer(requestOf("GET", "/zelvor.csv", "handle="s + secondHandle)).body;
  EXPECT_EQ(csv.substr(csv.find("\r\n") - 6, 8), ",label\r\n");
  EXPECT_EQ(csv.substr(csv.size() - 8), ",lab-1\r\n");
  const std::string page =
      site_->answer(requestOf("GET", "/zelvor", "handle="s + secondHandle)).body;
  EXPECT_NE(page.find("</time> (received "), std::string::npos);
  EXPECT_NE(page.find(" \u00b7 from lab-1 \u00b7 "), std::string::npos);
  // The same post again is a re-post; the same report from elsewhere or
  // measured at another time is another run.
  EXPECT_EQ(site_->answer(requestOf("POST", "/zelvor", query, later)).body, secondHandle);
  EXPECT_EQ(site_->answer(requestOf("POST", "/zelvor", "label=lab-2", later)).status, 200);
  EXPECT_EQ(store_->runCount({}), 3u);
  // Unlabelled, the index lists both; by label, only this one.
  EXPECT_NE(site_->answer(requestOf("GET", "/", "label=lab-1")).body.find("1 run stored"),
            std::string::npos);
  EXPECT_NE(site_->answer(requestOf("GET", "/", "class=Near")).body.find("3 runs stored"),
            std::string::npos);
}

TEST_F(SiteAnswer, ABadLabelOrMeasuredTimeIsRefusedAndNothingStored) {
  for (const char* query : {"label=a/b", "measured_at=2000-01-01T00:00:00Z", "measured_at=now"}) {
    SCOPED_TRACE(query);
    const Reply reply = site_->answer(requestOf("POST", "/zelvor", query, report));
    EXPECT_EQ(reply.status, 400);
    EXPECT_EQ(reply.header("Content-Type"), text);
    EXPECT_EQ(reply.body.substr(0, 4), "The ");
  }
  EXPECT_EQ(store_->runCount({}), 1u);
}

TEST_F(SiteAnswer, TheListServedIsTheLatestGiven) {
  site_->replaceList(zelvor::site::parseServerListFile("Other:h:80\n", "list"));
  EXPECT_EQ(site_->answer(requestOf("GET", "/zv_fetch")).body, "Other:h:80\n");
}

// A head and the refusal it gets before its body is read ("" for none).
struct Screened {
  const char* what;
  Request head;
  int status;
  std::string body;
  std::string retryAfter;
};

void PrintTo(const Screened& screened, std::ostream* out) { *out << screened.what; }

Request headOf(const char* method, const char* path, std::optional<std::uint64_t> length,
               bool chunked = false, const char* peer = "127.0.0.1",
               const char* forwardedFor = "") {
  Request head = requestOf(method, path);
  head.contentLength = length;
  head.chunked = chunked;
  head.peer = peer;
  head.forwardedFor = forwardedFor;
  return head;
}

// Two posts a minute, 100 bytes at most, behind the balancer 127.0.0.9; each
// case starts with the setup's post already taken.
class SiteScreens : public SiteAnswer, public testing::WithParamInterface<Screened> {
 protected:
  zelvor::site::PostRules rules() const override { return {2, "127.0.0.9", 100}; }
};

TEST_P(SiteScreens, HeadsBeforeTheirBodiesAreRead) {
  const Screened& screened = GetParam();
  const std::optional<Reply> refusal = site_->screen(screened.head);
  if (screened.status == 0) {
    EXPECT_EQ(refusal, std::nullopt);
    return;
  }
  ASSERT_TRUE(refusal);
  EXPECT_EQ(refusal->status, screened.status);
  EXPECT_EQ(refusal->body, screened.body);
  EXPECT_EQ(refusal->header("Retry-After"), screened.retryAfter);
  EXPECT_EQ(refusal->header("Content-Type"), text);
  // The body left unread would be taken for the next request.
  EXPECT_TRUE(refusal->close);
}

const std::string tooLong = "The report is longer than the 100 bytes this site takes\n";
const std::string unknownLength = "A report must come with its Content-Length\n";

INSTANTIATE_TEST_SUITE_P(
    Heads, SiteScreens,
    testing::Values(
        Screened{"a report at the limit", headOf("POST", "/zelvor", 100), 0, "", ""},
        Screened{"a report a byte over", headOf("POST", "/zelvor", 101), 413, tooLong, ""},
        Screened{"a length past any file", headOf("POST", "/zelvor", UINT64_MAX), 413, tooLong, ""},
        Screened{"a page with a long body", headOf("GET", "/", 101), 413, tooLong, ""},
        Screened{"a chunked report", headOf("POST", "/zelvor", std::nullopt, true), 411,
                 unknownLength, ""},
        Screened{"a chunked page request", headOf("GET", "/", std::nullopt, true), 411,
                 unknownLength, ""},
        Screened{"a page without a body", headOf("GET", "/", std::nullopt), 0, "", ""}));

TEST_F(SiteScreens, PostsBeyondTheLimitPerAddressAreRefusedWithTheWait) {
  const auto status = [&](const Request& head) {
    const std::optional<Reply> refusal = site_->screen(head);
    return refusal ? refusal->status : 200;
  };
  const Request post = headOf("POST", "/zelvor", 10);
  EXPECT_EQ(status(post), 200);
  EXPECT_EQ(status(post), 200);
  const std::optional<Reply> third = site_->screen(post);
  ASSERT_TRUE(third);
  EXPECT_EQ(third->status, 429);
  EXPECT_EQ(third->header("Retry-After"), "30");
  EXPECT_EQ(third->body, "Too many reports from 127.0.0.1; try again in 30 seconds\n");
  // Pages are not limited; another address has its own posts.
  EXPECT_EQ(status(headOf("GET", "/zelvor", std::nullopt)), 200);
  EXPECT_EQ(status(headOf("POST", "/zelvor", 10, false, "127.0.0.2")), 200);
  // Behind the balancer, the address it forwards for is counted; from
  // anyone else the header is not believed.
  const Request forwarded = headOf("POST", "/zelvor", 10, false, "127.0.0.9", "a, 192.0.2.1");
  EXPECT_EQ(status(forwarded), 200);
  EXPECT_EQ(status(forwarded), 200);
  EXPECT_EQ(site_->screen(forwarded)->body,
            "Too many reports from 192.0.2.1; try again in 30 seconds\n");
  EXPECT_EQ(status(headOf("POST", "/zelvor", 10, false, "127.0.0.3", "192.0.2.1")), 200);
}

// The lines of the metrics page that start with `prefix`.
std::vector<std::string> metricLines(const Reply& reply, const std::string& prefix) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (std::size_t end; (end = reply.body.find('\n', start)) != std::string::npos; start = end + 1)
    if (reply.body.compare(start, prefix.size(), prefix) == 0)
      lines.push_back(reply.body.substr(start, end - start));
  return lines;
}

Request metricsFrom(const char* peer, const char* forwardedFor = "") {
  Request request = requestOf("GET", "/metrics");
  request.peer = peer;
  request.forwardedFor = forwardedFor;
  return request;
}

TEST_F(SiteAnswer, MetricsCountStoredReportsAndEveryRequestWithItsStatus) {
  EXPECT_EQ(site_->answer(requestOf("GET", "/nothing")).status, 404);
  EXPECT_EQ(site_->answer(requestOf("POST", "/zelvor", "", "Near\nh:1\nEND\n")).status, 400);
  EXPECT_EQ(site_->screen(headOf("POST", "/zelvor", std::nullopt, true))->status, 411);
  site_->countRefusal(Site::busy());
  const Reply reply = site_->answer(requestOf("GET", "/metrics"));
  EXPECT_EQ(reply.status, 200);
  EXPECT_EQ(reply.header("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  EXPECT_EQ(reply.header("Cache-Control"), "no-store");
  EXPECT_EQ(metricLines(reply, "zelvor_reports_received_total{"),
            std::vector<std::string>{"zelvor_reports_received_total{class=\"Near\",label=\"\"} 1"});
  EXPECT_EQ(metricLines(reply, "zelvor_echoes_total{"),
            (std::vector<std::string>{"zelvor_echoes_total{class=\"Near\",host=\"198.18.1.1\","
                                      "label=\"\",outcome=\"TIMEOUT\"} 1",
                                      "zelvor_echoes_total{class=\"Near\",host=\"198.18.1.1\","
                                      "label=\"\",outcome=\"ok\"} 1"}));
  EXPECT_EQ(metricLines(reply, "zelvor_http_requests_total{"),
            (std::vector<std::string>{"zelvor_http_requests_total{code=\"200\"} 1",
                                      "zelvor_http_requests_total{code=\"400\"} 1",
                                      "zelvor_http_requests_total{code=\"404\"} 1",
                                      "zelvor_http_requests_total{code=\"411\"} 1",
                                      "zelvor_http_requests_total{code=\"503\"} 1"}));
  // Only the answers are timed; refusals before an answer take no time.
  EXPECT_EQ(metricLines(reply, "zelvor_http_request_duration_seconds_count"),
            std::vector<std::string>{"zelvor_http_request_duration_seconds_count 3"});
  // The page counts the requests before it, the next one it too.
  EXPECT_EQ(metricLines(site_->answer(requestOf("GET", "/metrics")),
                        "zelvor_http_requests_total{code=\"200\"}"),
            std::vector<std::string>{"zelvor_http_requests_total{code=\"200\"} 2"});
}

const std::string metricsRefused = "The metrics are not served to this address\n";

TEST_F(SiteAnswer, MetricsAreServedToLoopbackAlonePerDefault) {
  for (const char* peer : {"127.0.0.1", "127.3.2.1", "::1", "::ffff:127.0.0.1"})
    EXPECT_EQ(site_->answer(metricsFrom(peer)).status, 200) << peer;
  for (const char* peer : {"192.0.2.1", "::2", "2001:db8::1", "::ffff:192.0.2.1", ""}) {
    const Reply reply = site_->answer(metricsFrom(peer));
    EXPECT_EQ(reply.status, 403) << peer;
    EXPECT_EQ(reply.body, metricsRefused);
    EXPECT_EQ(reply.header("Content-Type"), text);
  }
}

TEST_F(SiteScreens, BehindTheBalancerMetricsGoByTheAddressItForwardsFor) {
  EXPECT_EQ(site_->answer(metricsFrom("127.0.0.9", "192.0.2.1")).body, metricsRefused);
  EXPECT_EQ(site_->answer(metricsFrom("127.0.0.9", "192.0.2.1, 127.0.0.1")).status, 200);
  // From anyone but the balancer the header is not believed.
  EXPECT_EQ(site_->answer(metricsFrom("192.0.2.1", "127.0.0.1")).body, metricsRefused);
}

class SiteMetricsElsewhere : public SiteAnswer {
 protected:
  zelvor::site::MetricsRules metricsRules() const override {
    return {{*zelvor::site::parseAddressRange("192.0.2.0/24")}};
  }
};

TEST_F(SiteMetricsElsewhere, AreServedToTheRangesGivenAndNotToLoopback) {
  EXPECT_EQ(site_->answer(metricsFrom("192.0.2.200")).status, 200);
  EXPECT_EQ(site_->answer(metricsFrom("127.0.0.1")).body, metricsRefused);
  EXPECT_EQ(site_->answer(metricsFrom("192.0.3.1")).body, metricsRefused);
  // Asked for with another method, the path is no page.
  EXPECT_EQ(site_->answer(requestOf("POST", "/metrics")).status, 404);
}

// The history and class overview over runs posted with known samples,
// labels and measured times.
class SiteHistory : public zelvor::test::InTempDir {
 protected:
  void SetUp() override {
    InTempDir::SetUp();
    store_ = zelvor::site::openSqliteStore((dir_ / "runs.db").string(), zelvor::site::randomHandle);
    site_ = std::make_unique<Site>(*store_, zelvor::site::parseServerListFile(listText, "list"));
  }

  void post(const std::string& query, const std::string& body) {
    ASSERT_EQ(site_->answer(requestOf("POST", "/zelvor", query, body)).status, 200) << query;
  }

  nlohmann::json json(const std::string& path, const std::string& query) {
    const Reply reply = site_->answer(requestOf("GET", path, query));
    EXPECT_EQ(reply.status, 200) << path << "?" << query;
    EXPECT_EQ(reply.header("Content-Type"), "application/json");
    return nlohmann::json::parse(reply.body);
  }

  std::unique_ptr<zelvor::site::Store> store_;
  std::unique_ptr<Site> site_;
};

TEST_F(SiteHistory, JsonHoldsTheExactFiguresOfEachBucketAndLabel) {
  constexpr std::int64_t sixMinutes = 360'000;
  // A second into a 30h bucket two hours ago, so both runs share it.
  const std::int64_t first =
      (zelvor::site::unixNowMs() - 2 * 3'600'000) / sixMinutes * sixMinutes + 1000;
  const std::string at = "&measured_at=" + kelvo::isoUtcTime(first);
  const std::string later = "&measured_at=" + kelvo::isoUtcTime(first + 1000);
  post("label=lab" + at, "Near\n198.18.1.1:10:\n198.18.1.1:30:\n198.18.1.1:20:\nEND\n");
  post("label=lab" + later, "Near\n198.18.1.1:40:\n198.18.1.1::TIMEOUT\nEND\n");
  post("", report);
  post("label=lab", "Far\n198.18.3.1:90:\nEND\n");

  const nlohmann::json bucket = {{"start_ms", first / sixMinutes * sixMinutes},
                                 {"runs", 2},
                                 {"sent", 5},
                                 {"received", 4},
                                 {"loss_percent", 20.0},
                                 {"p10_ms", 10},
                                 {"p25_ms", 10},
                                 {"median_ms", 25.0},
                                 {"p75_ms", 30},
                                 {"p90_ms", 40},
                                 {"p95_ms", nullptr}};
  nlohmann::json overall = bucket;
  overall.erase("start_ms");

  const nlohmann::json labelled =
      json("/history.json", "class=Near&host=198.18.1.1&label=lab&range=30h");
  EXPECT_EQ(labelled["class"], "Near");
  EXPECT_EQ(labelled["host"], "198.18.1.1");
  EXPECT_EQ(labelled["label"], "lab");
  EXPECT_EQ(labelled["range"], "30h");
  EXPECT_EQ(labelled["bucket_ms"], sixMinutes);
  EXPECT_EQ(labelled["end_ms"].get<std::int64_t>() - labelled["start_ms"].get<std::int64_t>(),
            30 * 3'600'000);
  EXPECT_EQ(
      labelled["series"],
      nlohmann::json::array({{{"label", "lab"}, {"overall", overall}, {"buckets", {bucket}}}}));

  // Without a label, a series each: unlabelled first.
  const nlohmann::json every = json("/history.json", "class=Near&host=198.18.1.1");
  EXPECT_EQ(every["range"], "30h");
  ASSERT_EQ(every["series"].size(), 2u);
  EXPECT_EQ(every["series"][0]["label"], nullptr);
  EXPECT_EQ(every["series"][0]["overall"]["median_ms"], 5.0);
  EXPECT_EQ(every["series"][0]["overall"]["loss_percent"], 50.0);
  EXPECT_EQ(every["series"][1], labelled["series"][0]);

  // Two hours back is outside three hours' range only at its start.
  EXPECT_EQ(json("/history.json", "class=Near&host=198.18.1.1&range=3h")["series"].size(), 2u);

  const nlohmann::json overview = json("/class.json", "name=Near&range=10d");
  ASSERT_EQ(overview["hosts"].size(), 1u);
  EXPECT_EQ(overview["hosts"][0]["host"], "198.18.1.1");
  EXPECT_EQ(overview["hosts"][0]["overall"]["runs"], 3);
  EXPECT_EQ(overview["hosts"][0]["overall"]["median_ms"], 20.0);
  ASSERT_EQ(overview["labels"].size(), 2u);
  EXPECT_EQ(overview["labels"][1]["label"], "lab");
  EXPECT_EQ(overview["labels"][1]["hosts"][0]["overall"]["p90_ms"], 40);
}

// The sums of buckets long past are kept between requests; a late run in
// one, and a deletion, show all the same at the next request.
TEST_F(SiteHistory, KeptSumsOfThePastFollowLateRunsAndDeletions) {
  const std::int64_t past = zelvor::site::unixNowMs() - 3 * 86'400'000;
  const auto overall = [&](const char* range) {
    const nlohmann::json series =
        json("/history.json", "class=Near&host=198.18.1.1&range="s + range)["series"];
    return series.empty() ? nlohmann::json() : series[0]["overall"];
  };
  const struct {
    const char* what;
    std::function<void()> change;
    nlohmann::json runs, median;
  } steps[] = {
      {"a run",
       [&] { post("measured_at=" + kelvo::isoUtcTime(past), "Near\n198.18.1.1:10:\nEND\n"); }, 1,
       10.0},
      {"a late run beside it",
       [&] {
         post("measured_at=" + kelvo::isoUtcTime(past + 1000), "Near\n198.18.1.1:30:\nEND\n");
       },
       2, 20.0},
      {"both deleted", [&] { store_->deleteRunsBefore(zelvor::site::unixNowMs() + 1, 10); },
       nullptr, nullptr},
  };
  for (const auto& step : steps) {
    SCOPED_TRACE(step.what);
    step.change();
    for (const char* range : {"10d", "360d", "10d"}) {
      const nlohmann::json figures = overall(range);
      const auto field = [&](const char* name) {
        return figures.is_null() ? nlohmann::json() : figures[name];
      };
      EXPECT_EQ(field("runs"), step.runs) << range;
      EXPECT_EQ(field("median_ms"), step.median) << range;
    }
  }
}

TEST_F(SiteHistory, PagesAnswerAndQueriesThatNameNothingAreNotFound) {
  post("", report);
  const struct {
    const char* path;
    const char* query;
    int status;
  } cases[] = {
      {"/history", "class=Near&host=198.18.1.1", 200},
      {"/history", "class=Near&host=unknown&range=360d", 200},
      {"/class", "name=Near&range=3h", 200},
      {"/class", "name=Nowhere", 200},
      {"/history", "class=Near&host=198.18.1.1&range=2h", 404},
      {"/history", "class=Near&host=198.18.1.1&range=", 200},
      {"/history", "class=Near", 404},
      {"/history", "host=198.18.1.1", 404},
      {"/history", "class=Near&host=a%3Ab", 404},
      {"/history", "class=Near&host=198.18.1.1&label=a%20b", 404},
      {"/history.json", "class=Near&host=198.18.1.1&range=1d", 404},
      {"/class", "", 404},
      {"/class.json", "name=Near&range=30d", 404},
  };
  for (const auto& c : cases) {
    const Reply reply = site_->answer(requestOf("GET", c.path, c.query));
    EXPECT_EQ(reply.status, c.status) << c.path << "?" << c.query;
    if (c.status == 200) {
      EXPECT_EQ(reply.header("Cache-Control"), "no-cache") << c.path;
    }
  }
  const std::string page =
      site_->answer(requestOf("GET", "/history", "class=Near&host=198.18.1.1")).body;
  EXPECT_NE(page.find("<h1>History of <span class=\"class-name\">198.18.1.1</span></h1>"),
            std::string::npos);
  const std::string results =
      site_->answer(requestOf("GET", "/zelvor", "handle=" + store_->recentRuns({}, 0, 1)[0].handle))
          .body;
  EXPECT_NE(results.find("<th scope=\"row\" class=\"host\"><a "
                         "href=\"/history?class=Near&host=198.18.1.1\">198.18.1.1</a></th>"),
            std::string::npos);
  EXPECT_NE(results.find("<a href=\"/class?name=Near\">Class overview</a>"), std::string::npos);
}

// A store that fails every call, as one whose database has gone away.
class FailingStore final : public zelvor::site::Store {
 public:
  std::string addRun(const zelvor::site::NewRun&) override { fail(); }
  std::optional<zelvor::site::StoredRun> findRun(std::string_view) override { fail(); }
  std::vector<zelvor::site::RunSummary> recentRuns(const zelvor::site::RunFilter&, std::size_t,
                                                   std::size_t) override {
    fail();
  }
  std::size_t runCount(const zelvor::site::RunFilter&) override { fail(); }
  std::vector<zelvor::site::RunSummary> classHistory(std::string_view, std::size_t) override {
    fail();
  }
  void visitHostPoints(const zelvor::site::PointQuery&,
                       const zelvor::site::HostPointVisitor&) override {
    fail();
  }
  std::int64_t historyChanges() override { fail(); }
  std::size_t deleteRunsBefore(std::int64_t, std::size_t) override { fail(); }
  void check() override { fail(); }

 private:
  [[noreturn]] static void fail() { throw kelvo::Failure("database is locked"); }
};

TEST(SiteAnswerFailing, AStoreThatFailsIsAnswered503WithRetryAfterOnEveryRoute) {
  FailingStore store;
  Site site(store, zelvor::site::parseServerListFile(listText, "list"));
  for (const Request& request :
       {requestOf("POST", "/zelvor", "", report), requestOf("GET", "/"),
        requestOf("GET", "/health"), requestOf("GET", "/zelvor", "handle="s + storedHandle),
        requestOf("GET", "/history", "class=Near&host=h"),
        requestOf("GET", "/class", "name=Near")}) {
    SCOPED_TRACE(request.method + " " + request.path);
    const Reply reply = site.answer(request);
    EXPECT_EQ(reply.status, 503);
    EXPECT_EQ(reply.header("Retry-After"), "5");
    EXPECT_EQ(reply.body, "The site cannot answer just now; try again in a while\n");
  }
  // What needs no store is still answered.
  EXPECT_EQ(site.answer(requestOf("GET", "/zv_fetch")).status, 200);
}

TEST(SiteAnswerFailing, TheFixedRefusalsOfTheServer) {
  const Reply busy = Site::busy();
  EXPECT_EQ(busy.status, 503);
  EXPECT_EQ(busy.header("Retry-After"), "5");
  EXPECT_FALSE(busy.close);
  const Reply malformed = Site::malformed();
  EXPECT_EQ(malformed.status, 400);
  EXPECT_EQ(malformed.body, "The request does not read as HTTP\n");
  EXPECT_TRUE(malformed.close);
}

}  // namespace
