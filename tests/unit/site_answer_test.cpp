// The site's answers without a socket: every route, status, type, header and
// refusal, over a real SQLite store in a folder of the test's own.
#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "site/embedded_files.hpp"
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
    store_ = zelvor::site::openSqliteStore((dir_ / "runs.db").string(),
                                           zelvor::test::scripted({storedHandle, secondHandle}));
    site_ = std::make_unique<Site>(*store_, zelvor::site::parseServerListFile(listText, "list"),
                                   rules());
    ASSERT_EQ(site_->answer(requestOf("POST", "/zelvor", "", report)).body, storedHandle);
  }
  virtual zelvor::site::PostRules rules() const { return {}; }

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
  // Unlabelled, the index lists both; by label, only this one.
  EXPECT_NE(site_->answer(requestOf("GET", "/", "label=lab-1")).body.find("1 run stored"),
            std::string::npos);
  EXPECT_NE(site_->answer(requestOf("GET", "/", "class=Near")).body.find("2 runs stored"),
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
        requestOf("GET", "/health"), requestOf("GET", "/zelvor", "handle="s + storedHandle)}) {
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
