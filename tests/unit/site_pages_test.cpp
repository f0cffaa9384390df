// The site's pages, charts and downloads: exact small pieces, escaping of
// every text from a report, counts of what the pages show, and the files
// the site compiles in.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <span>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "site/charts.hpp"
#include "site/embedded_files.hpp"
#include "site/handle_link.hpp"
#include "site/html_escape.hpp"
#include "site/index_page.hpp"
#include "site/not_found_page.hpp"
#include "site/results_downloads.hpp"
#include "site/results_page.hpp"
#include "site/style_sheet.hpp"
#include "stats/host_figures.hpp"

namespace {

using zelvor::EchoSample;
using zelvor::site::HostRow;
using zelvor::site::IndexView;
using zelvor::site::ResultsView;
using zelvor::site::RunFilter;
using zelvor::site::RunSummary;
namespace failure = zelvor::failure;

EchoSample ok(std::int32_t rtt) { return {nullptr, rtt}; }
EchoSample lost(const char* word) { return {word, 0}; }

HostRow hostRow(std::string host, std::vector<EchoSample> samples) {
  HostRow row{std::move(host), std::move(samples), {}};
  row.figures = zelvor::stats::hostFigures(row.samples);
  return row;
}

std::vector<EchoSample> oneToTwenty() {
  std::vector<EchoSample> samples;
  for (std::int32_t rtt = 1; rtt <= 20; ++rtt) samples.push_back(ok(rtt));
  return samples;
}

// 2026-12-07 18:05:01 UTC.
constexpr std::int64_t runTime = 1'796'666'701'000;

// Four hosts in page order: a plain one with a loss, one of 20 answers (so
// with percentiles), one named like a formula with CSV's special
// characters, and one that never answered.
ResultsView smallView() {
  ResultsView view;
  view.run = {"H3", "Europe, west", runTime, 11.0, 4, 28, std::nullopt, runTime};
  view.hosts.push_back(hostRow("h1", {ok(10), ok(12), lost(failure::timeout), ok(11)}));
  view.hosts.push_back(hostRow("p", oneToTwenty()));
  view.hosts.push_back(hostRow("=cmd,\"x\"", {ok(7)}));
  view.hosts.push_back(
      hostRow("-dead", {lost(failure::unreachable), lost(failure::serviceFailure)}));
  view.history = {
      {"H1", "Europe, west", runTime - 7'200'000, 12.5, 4, 28, std::nullopt, runTime - 7'200'000},
      {"H2", "Europe, west", runTime - 3'600'000, std::nullopt, 4, 28, std::nullopt,
       runTime - 3'600'000},
      view.run};
  return view;
}

std::size_t countOf(std::string_view text, std::string_view piece) {
  std::size_t count = 0;
  for (std::size_t at = text.find(piece); at != std::string_view::npos;
       at = text.find(piece, at + piece.size()))
    ++count;
  return count;
}

// The texts of the sample chart's axis, left to right.
std::vector<std::string> tickTexts(const std::string& svg) {
  static const std::regex tick("<text class=\"tick\"[^>]*>([^<]*)</text>");
  std::vector<std::string> texts;
  for (auto it = std::sregex_iterator(svg.begin(), svg.end(), tick); it != std::sregex_iterator();
       ++it)
    texts.push_back((*it)[1]);
  return texts;
}

TEST(EscapeHtml, EscapesTheFiveSpecialCharactersAndNothingElse) {
  struct Case {
    std::string_view text;
    std::string_view escaped;
  };
  const Case cases[] = {
      {"", ""},
      {"fra1.example.net", "fra1.example.net"},
      {"<script>alert(1)</script>", "&lt;script&gt;alert(1)&lt;/script&gt;"},
      {"a&b \"c\" 'd'", "a&amp;b &quot;c&quot; &#39;d&#39;"},
      {"&amp;", "&amp;amp;"},
      {"Z\xC3\xBCrich \xFF", "Z\xC3\xBCrich \xFF"},
  };
  for (const Case& c : cases) EXPECT_EQ(zelvor::site::escapeHtml(c.text), c.escaped) << c.text;
}

TEST(HandleLink, EncodesAllButUrlSafeCharacters) {
  EXPECT_EQ(zelvor::site::handleLink("/zelvor", "Ab9-_x"), "/zelvor?handle=Ab9-_x");
  EXPECT_EQ(zelvor::site::handleLink("/zelvor.csv", "a b&\"<\xFF"),
            "/zelvor.csv?handle=a%20b%26%22%3C%FF");
}

TEST(ResultsCsv, OneExactRowPerHostWithQuotingGuardAndEmptyCells) {
  ResultsView view = smallView();
  view.run.label = "lab.1";
  EXPECT_EQ(zelvor::site::resultsCsv(view),
            "host,sent,received,loss_percent,BADADDRESS,SOCKERROR,TIMEOUT,EXPIRED,FOREIGN,"
            "UNREACHABLE,BADHEADER,FAILURE,min_ms,median_ms,mean_ms,max_ms,stddev_ms,jitter_ms,"
            "p90_ms,p95_ms,label\r\n"
            "h1,4,3,25.0,0,0,1,0,0,0,0,0,10,11.0,11.0,12,0.8,1.5,,,lab.1\r\n"
            "p,20,20,0.0,0,0,0,0,0,0,0,0,1,10.5,10.5,20,5.8,1.0,18,19,lab.1\r\n"
            "\"'=cmd,\"\"x\"\"\",1,1,0.0,0,0,0,0,0,0,0,0,7,7.0,7.0,7,0.0,,,,lab.1\r\n"
            "'-dead,2,0,100.0,0,0,0,0,0,1,0,1,,,,,,,,,lab.1\r\n");
}

TEST(ResultsCsv, OnlyTextCellsStartingLikeAFormulaAreGuarded) {
  ResultsView view;
  for (const char* host : {"+1", "@SUM(A1)", "a=b", "plain name"})
    view.hosts.push_back(hostRow(host, {ok(-3)}));
  const std::string csv = zelvor::site::resultsCsv(view);
  // Without a label, its cell is empty.
  const std::string rest = ",1,1,0.0,0,0,0,0,0,0,0,0,-3,-3.0,-3.0,-3,0.0,,,,\r\n";
  EXPECT_EQ(csv.substr(csv.find("\r\n") + 2),
            "'+1" + rest + "'@SUM(A1)" + rest + "a=b" + rest + "plain name" + rest);
}

TEST(ResultsJson, ReadsBackFieldByField) {
  const nlohmann::json doc = nlohmann::json::parse(zelvor::site::resultsJson(smallView()));
  EXPECT_EQ(doc["handle"], "H3");
  EXPECT_EQ(doc["class"], "Europe, west");
  EXPECT_EQ(doc["received_at"], "2026-12-07T18:05:01Z");
  EXPECT_EQ(doc["received_at_ms"], runTime);
  EXPECT_EQ(doc["measured_at"], "2026-12-07T18:05:01Z");
  EXPECT_EQ(doc["measured_at_ms"], runTime);
  EXPECT_EQ(doc["label"], nullptr);
  ASSERT_EQ(doc["hosts"].size(), 4u);

  const nlohmann::json& h1 = doc["hosts"][0];
  EXPECT_EQ(h1["host"], "h1");
  EXPECT_EQ(h1["sent"], 4);
  EXPECT_EQ(h1["received"], 3);
  EXPECT_EQ(h1["loss_percent"], 25.0);
  EXPECT_EQ(h1["failures"], nlohmann::json::parse(R"({"BADADDRESS":0,"SOCKERROR":0,"TIMEOUT":1,
      "EXPIRED":0,"FOREIGN":0,"UNREACHABLE":0,"BADHEADER":0,"FAILURE":0})"));
  EXPECT_EQ(h1["min_ms"], 10);
  EXPECT_EQ(h1["median_ms"], 11.0);
  EXPECT_EQ(h1["mean_ms"], 11.0);
  EXPECT_EQ(h1["max_ms"], 12);
  EXPECT_DOUBLE_EQ(h1["stddev_ms"].get<double>(), 0.816496580927726);
  EXPECT_EQ(h1["jitter_ms"], 1.5);
  EXPECT_TRUE(h1["p90_ms"].is_null());
  EXPECT_TRUE(h1["p95_ms"].is_null());
  EXPECT_EQ(h1["samples"], nlohmann::json::parse(R"([10, 12, "TIMEOUT", 11])"));

  EXPECT_EQ(doc["hosts"][1]["p90_ms"], 18);
  EXPECT_EQ(doc["hosts"][1]["p95_ms"], 19);
  EXPECT_EQ(doc["hosts"][2]["host"], "=cmd,\"x\"");

  const nlohmann::json& dead = doc["hosts"][3];
  EXPECT_EQ(dead["loss_percent"], 100.0);
  EXPECT_EQ(dead["failures"]["UNREACHABLE"], 1);
  EXPECT_EQ(dead["failures"]["FAILURE"], 1);
  for (const char* figure :
       {"min_ms", "median_ms", "mean_ms", "max_ms", "stddev_ms", "jitter_ms", "p90_ms", "p95_ms"})
    EXPECT_TRUE(dead[figure].is_null()) << figure;
  EXPECT_EQ(dead["samples"], nlohmann::json::parse(R"(["UNREACHABLE", "FAILURE"])"));

  EXPECT_EQ(doc["history"], nlohmann::json::parse(R"([
      {"handle": "H1", "received_at": "2026-12-07T16:05:01Z", "median_ms": 12.5},
      {"handle": "H2", "received_at": "2026-12-07T17:05:01Z", "median_ms": null},
      {"handle": "H3", "received_at": "2026-12-07T18:05:01Z", "median_ms": 11.0}])"));
}

TEST(ResultsJson, InvalidUtf8InNamesBecomesReplacementCharacters) {
  ResultsView view = smallView();
  view.run.className = "c\xFF";
  view.hosts[0].host = "h\xC3";
  const nlohmann::json doc = nlohmann::json::parse(zelvor::site::resultsJson(view));
  EXPECT_EQ(doc["class"], "c\xEF\xBF\xBD");
  EXPECT_EQ(doc["hosts"][0]["host"], "h\xEF\xBF\xBD");
}

class ResultsPage : public testing::Test {
 protected:
  ResultsPage() {
    view_.run.className = "<b>class</b>";
    view_.hosts[0].host = "<script>alert(1)</script>";
    view_.hosts[1].host = "\"><img src=x onerror=alert(1)>";
    for (RunSummary& run : view_.history) run.className = view_.run.className;
    page_ = zelvor::site::resultsPage(view_);
  }

  ResultsView view_ = smallView();
  std::string page_;
};

TEST_F(ResultsPage, ReportTextsAppearEscapedAndNeverRaw) {
  for (const char* raw : {"<script", "<img", "<b>"}) EXPECT_EQ(countOf(page_, raw), 0u) << raw;
  // In the table and in the chart's lane.
  EXPECT_EQ(countOf(page_, "&lt;script&gt;alert(1)&lt;/script&gt;"), 2u);
  EXPECT_EQ(countOf(page_, "&quot;&gt;&lt;img src=x onerror=alert(1)&gt;"), 2u);
  // In the title and the heading.
  EXPECT_EQ(countOf(page_, "&lt;b&gt;class&lt;/b&gt;"), 2u);
}

TEST_F(ResultsPage, IsOneSelfContainedDocument) {
  EXPECT_TRUE(page_.starts_with("<!DOCTYPE html>\n"));
  EXPECT_EQ(countOf(page_, "<meta charset=\"utf-8\">"), 1u);
  EXPECT_EQ(
      countOf(page_, "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"),
      1u);
  EXPECT_EQ(countOf(page_, "<link rel=\"stylesheet\" href=\"/site.css\">"), 1u);
  for (const char* forbidden : {"style=", "<style", "src=\"", "http:", "https:"})
    EXPECT_EQ(countOf(page_, forbidden), 0u) << forbidden;
  EXPECT_EQ(countOf(page_, "<time datetime=\"2026-12-07T18:05:01Z\">2026-12-07 18:05:01 UTC"), 1u);
  EXPECT_EQ(countOf(page_, "<a href=\"/zelvor.json?handle=H3\">"), 1u);
  EXPECT_EQ(countOf(page_, "<a href=\"/zelvor.csv?handle=H3\">"), 1u);
  EXPECT_EQ(countOf(page_, "<a href=\"/\">"), 1u);
}

TEST_F(ResultsPage, TableShowsFormattedFiguresDashesAndNoReply) {
  for (const char* cell : {
           "<td data-label=\"Loss %\">25.0</td>",
           "<td data-label=\"Failures\"><span class=\"failure\">TIMEOUT&nbsp;1</span></td>",
           "<td data-label=\"Min (ms)\">10</td><td data-label=\"Median (ms)\">11.0</td>"
           "<td data-label=\"Mean (ms)\">11.0</td><td data-label=\"Max (ms)\">12</td>"
           "<td data-label=\"Std dev (ms)\">0.8</td><td data-label=\"Jitter (ms)\">1.5</td>"
           "<td data-label=\"p90 (ms)\">\u2013</td><td data-label=\"p95 (ms)\">\u2013</td>",
           "<td data-label=\"p90 (ms)\">18</td><td data-label=\"p95 (ms)\">19</td>",
           "<td data-label=\"Loss %\">100.0</td><td data-label=\"Failures\">"
           "<span class=\"failure\">UNREACHABLE&nbsp;1</span> "
           "<span class=\"failure\">FAILURE&nbsp;1</span></td>"
           "<td class=\"no-reply\" colspan=\"8\">no reply</td></tr>",
       })
    EXPECT_EQ(countOf(page_, cell), 1u) << cell;
  EXPECT_EQ(countOf(page_, "<td data-label=\"Failures\">\u2013</td>"), 2u);
}

TEST_F(ResultsPage, ChartsHoldOneMarkPerSampleLossMedianAndRun) {
  // 3 + 20 + 1 answers, 1 + 2 losses, 3 hosts with a median.
  EXPECT_EQ(countOf(page_, "class=\"sample\""), 24u);
  EXPECT_EQ(countOf(page_, "class=\"loss\""), 3u);
  EXPECT_EQ(countOf(page_, "class=\"median\""), 3u);
  EXPECT_EQ(countOf(page_, "<title>UNREACHABLE, sample 1</title>"), 1u);
  EXPECT_EQ(countOf(page_, "class=\"lane-note\" x=\"24.0\" y=\"184.0\">no reply</text>"), 1u);

  EXPECT_EQ(countOf(page_, "class=\"trend-point\""), 3u);
  EXPECT_EQ(countOf(page_, "<a class=\"trend-point\" href=\"/zelvor?handle=H1\">"), 1u);
  EXPECT_EQ(countOf(page_, "<a class=\"trend-point\" href=\"/zelvor?handle=H2\">"), 1u);
  EXPECT_EQ(
      countOf(page_, "<a class=\"trend-point\" href=\"/zelvor?handle=H3\" aria-current=\"page\">"),
      1u);
  EXPECT_EQ(countOf(page_, "class=\"this-run\""), 1u);
  EXPECT_EQ(countOf(page_, "class=\"no-median\""), 1u);
  EXPECT_EQ(countOf(page_, "<title>2026-12-07 17:05:01 UTC: no reply</title>"), 1u);
}

TEST(SampleChart, AxisTicksFallOnRoundMilliseconds) {
  struct Case {
    std::vector<EchoSample> samples;
    std::vector<std::string> ticks;
  };
  const Case cases[] = {
      {{ok(10), ok(20)}, {"0", "5", "10", "15", "20 ms", "lost"}},
      {{ok(97)}, {"0", "20", "40", "60", "80", "100 ms", "lost"}},
      {{ok(-3), ok(4)}, {"-4", "-2", "0", "2", "4 ms", "lost"}},
      {{ok(0)}, {"0", "1 ms", "lost"}},
      {{lost(failure::timeout)}, {"0", "1 ms", "lost"}},
      {{ok(INT32_MAX)},
       {"0", "500000000", "1000000000", "1500000000", "2000000000", "2500000000 ms", "lost"}},
  };
  for (const Case& c : cases) {
    ResultsView view;
    view.hosts.push_back(hostRow("h", c.samples));
    EXPECT_EQ(tickTexts(zelvor::site::sampleChart(view)), c.ticks);
  }
}

struct PagerCase {
  std::size_t page;
  std::size_t pageCount;
  const char* newer;
  const char* older;
};

TEST(IndexPage, PagingLinksExistOnlyWhereThereArePages) {
  const PagerCase cases[] = {
      {1, 1, nullptr, nullptr},
      {1, 3, nullptr, "<a rel=\"next\" href=\"/?page=2\">Older</a>"},
      {2, 3, "<a rel=\"prev\" href=\"/\">Newer</a>", "<a rel=\"next\" href=\"/?page=3\">Older</a>"},
      {3, 3, "<a rel=\"prev\" href=\"/?page=2\">Newer</a>", nullptr},
  };
  for (const PagerCase& c : cases) {
    IndexView index{
        {{"abc", "A&B", runTime, 11.0, 2, 20, std::nullopt, runTime}}, c.page, c.pageCount, 41, {}};
    const std::string page = zelvor::site::indexPage(index);
    const std::string where = std::to_string(c.page) + " of " + std::to_string(c.pageCount);
    EXPECT_EQ(countOf(page, "page " + where + "</span>"), 1u) << where;
    EXPECT_EQ(countOf(page, "rel=\"prev\""), c.newer ? 1u : 0u) << where;
    EXPECT_EQ(countOf(page, "rel=\"next\""), c.older ? 1u : 0u) << where;
    for (const char* link : {c.newer, c.older}) {
      if (link != nullptr) {
        EXPECT_EQ(countOf(page, link), 1u) << where;
      }
    }
  }
}

TEST(IndexPage, EachRunLinksToItsResults) {
  const IndexView index{{{"abc", "<i>A</i>", runTime, 11.0, 2, 20, std::nullopt, runTime},
                         {"def", "B", runTime - 1000, std::nullopt, 1, 3, "lab-2", runTime - 1000}},
                        1,
                        1,
                        2,
                        {}};
  const std::string page = zelvor::site::indexPage(index);
  EXPECT_EQ(countOf(page,
                    "<tr><td data-label=\"Time\"><a href=\"/zelvor?handle=abc\">2026-12-07 "
                    "18:05:01 UTC</a></td><td data-label=\"Class\" class=\"class-name\"><a "
                    "href=\"/?class=%3Ci%3EA%3C%2Fi%3E\">&lt;i&gt;A&lt;/i&gt;</a></td><td "
                    "data-label=\"From\">\u2014</td><td data-label=\"Hosts\">2</td><td "
                    "data-label=\"Samples\">20</td><td data-label=\"Median (ms)\">11.0</td></tr>"),
            1u);
  EXPECT_EQ(countOf(page, "<a href=\"/zelvor?handle=def\">2026-12-07 18:05:00 UTC</a>"), 1u);
  EXPECT_EQ(countOf(page, "<td data-label=\"Median (ms)\">no reply</td>"), 1u);
  EXPECT_EQ(countOf(page, "<td data-label=\"From\"><a href=\"/?label=lab-2\">lab-2</a></td>"), 1u);
  EXPECT_EQ(countOf(page, "<i>"), 0u);
}

TEST(IndexPage, AFilterNamesItselfAndTheLinksKeepIt) {
  struct Case {
    RunFilter filter;
    std::size_t runCount;
    const char* heading;
    const char* olderLink;
  };
  const Case cases[] = {
      {{"A&B", std::nullopt}, 120, "<h1>Runs of A&amp;B</h1>", "href=\"/?class=A%26B&page=2\""},
      {{std::nullopt, "lab.1"}, 120, "<h1>Runs from lab.1</h1>", "href=\"/?label=lab.1&page=2\""},
      {{"A B", "x"}, 120, "<h1>Runs of A B from x</h1>", "href=\"/?class=A%20B&label=x&page=2\""},
      {{"A", "x"}, 0, "<h1>Runs of A from x</h1>", nullptr},
  };
  for (const Case& c : cases) {
    const std::size_t pages = std::max<std::size_t>(1, (c.runCount + 49) / 50);
    const IndexView index{c.runCount ? std::vector<RunSummary>{{"abc", "A", runTime, 11.0, 2, 20,
                                                                std::nullopt, runTime}}
                                     : std::vector<RunSummary>{},
                          1, pages, c.runCount, c.filter};
    const std::string page = zelvor::site::indexPage(index);
    EXPECT_EQ(countOf(page, c.heading), 1u) << c.heading;
    EXPECT_EQ(countOf(page, "<a href=\"/\">All runs</a>"), 1u) << c.heading;
    if (c.olderLink) {
      EXPECT_EQ(countOf(page, c.olderLink), 1u) << c.heading;
    }
    EXPECT_EQ(countOf(page, "No runs match."), c.runCount ? 0u : 1u) << c.heading;
  }
}

TEST(IndexPage, AnEmptySiteSaysSoWithoutTableOrPager) {
  const std::string page = zelvor::site::indexPage(IndexView{});
  EXPECT_EQ(countOf(page, "No runs have been posted yet."), 1u);
  EXPECT_EQ(countOf(page, "<table"), 0u);
  EXPECT_EQ(countOf(page, "class=\"pager\""), 0u);
}

TEST(NotFoundPage, IsTheFrameAroundNoRunHasThatHandleAndALinkHome) {
  EXPECT_EQ(zelvor::site::notFoundPage(),
            "<!DOCTYPE html>\n"
            "<html lang=\"en\">\n"
            "<head>\n"
            "<meta charset=\"utf-8\">\n"
            "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n"
            "<meta name=\"description\" content=\"There is no run at this address.\">\n"
            "<title>Zelvor \u00b7 no such run</title>\n"
            "<link rel=\"stylesheet\" href=\"/site.css\">\n"
            "</head>\n"
            "<body>\n"
            "<header class=\"site-header\"><a class=\"site-name\" href=\"/\">Zelvor</a></header>\n"
            "<main>\n"
            "<h1>No such run</h1>\n"
            "<p>No run has that handle. It may have been mistyped or cut short.</p>\n"
            "<p><a href=\"/\">See the recent runs</a></p>\n"
            "</main>\n"
            "</body>\n"
            "</html>\n");
}

TEST(PageFrame, EachKindOfPageSaysWhatItShowsOnceInItsHead) {
  const struct {
    const char* kind;
    std::string page;
    const char* description;
  } cases[] = {
      {"results", zelvor::site::resultsPage(smallView()),
       "One Zelvor run: round-trip figures for each host, every sample, and the median of its "
       "class over recent runs."},
      {"index", zelvor::site::indexPage(IndexView{}),
       "The latency test runs posted to this Zelvor site, newest first."},
      {"not found", zelvor::site::notFoundPage(), "There is no run at this address."},
  };
  for (const auto& c : cases) {
    const std::string head = c.page.substr(0, c.page.find("</head>"));
    EXPECT_EQ(countOf(head, "<meta name=\"description\" content=\"" + std::string(c.description) +
                                "\">\n"),
              1u)
        << c.kind;
    EXPECT_EQ(countOf(c.page, "name=\"description\""), 1u) << c.kind;
  }
}

TEST(StyleSheet, LoadsNothingFromElsewhere) {
  const std::string_view sheet = zelvor::site::styleSheet();
  for (const char* loader : {"@import", "url(", "@font-face"})
    EXPECT_EQ(countOf(sheet, loader), 0u) << loader;
}

std::string resourceFile(const std::string& name) {
  std::ifstream in(std::string(ZELVOR_RESOURCE_DIR) + "/" + name, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::string bytesOf(std::span<const std::uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

TEST(EmbeddedFiles, AreTheResourcesByteForByte) {
  namespace embedded = zelvor::embedded;
  EXPECT_EQ(bytesOf(embedded::siteIcon()), resourceFile("zelvor.ico"));
  EXPECT_EQ(bytesOf(embedded::siteStyleSheet()), resourceFile("site.css"));
  EXPECT_EQ(zelvor::site::styleSheet(), resourceFile("site.css"));
  EXPECT_EQ(bytesOf(embedded::robotsText()), resourceFile("robots.txt"));
}

TEST(EmbeddedFiles, RobotsTextKeepsEveryCrawlerOffEveryPage) {
  std::istringstream robots(bytesOf(zelvor::embedded::robotsText()));
  std::vector<std::string> rules;
  for (std::string line; std::getline(robots, line);)
    if (!line.empty() && line[0] != '#') rules.push_back(line);
  EXPECT_EQ(rules, (std::vector<std::string>{"User-agent: *", "Disallow: /"}));
}

}  // namespace
