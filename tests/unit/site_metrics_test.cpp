// The site's metrics as Prometheus reads them: the exact exposition text,
// the bounds on what clients' texts can add to it, and the option naming
// who may read it.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "catalogue/report.hpp"
#include "site/metrics.hpp"
#include "site/server_list.hpp"
#include "site/site_options.hpp"

namespace {

using namespace std::chrono_literals;
using zelvor::parseReport;
using zelvor::site::Metrics;

// The lines of `page` that start with `prefix`, in order.
std::vector<std::string> linesOf(const std::string& page, const std::string& prefix) {
  std::vector<std::string> lines;
  std::istringstream in(page);
  for (std::string line; std::getline(in, line);)
    if (line.starts_with(prefix)) lines.push_back(line);
  return lines;
}

TEST(MetricsText, EscapesLabelValuesAndWritesExactDecimals) {
  EXPECT_EQ(zelvor::site::escapeLabelValue(""), "");
  EXPECT_EQ(zelvor::site::escapeLabelValue("plain-1.2_x"), "plain-1.2_x");
  EXPECT_EQ(zelvor::site::escapeLabelValue("a\"b\\c\nd\te"), "a\\\"b\\\\c\\nd\te");
  const struct {
    std::uint64_t units;
    unsigned digits;
    const char* text;
  } decimals[] = {{0, 3, "0"},         {1, 3, "0.001"},       {45, 3, "0.045"},
                  {1500, 3, "1.5"},    {6001, 3, "6.001"},    {5000, 3, "5"},
                  {2500, 6, "0.0025"}, {10'000'000, 6, "10"}, {123'456'789, 6, "123.456789"},
                  {7, 0, "7"}};
  for (const auto& d : decimals) EXPECT_EQ(zelvor::site::decimalText(d.units, d.digits), d.text);
}

// The bucket lines of one series: `head` up to its le label, then each
// bound (and +Inf) with its cumulative count.
std::string bucketLines(const std::string& head, const std::vector<const char*>& bounds,
                        const std::vector<int>& counts) {
  std::string lines;
  for (std::size_t i = 0; i < bounds.size(); ++i)
    lines += head + "le=\"" + bounds[i] + "\"} " + std::to_string(counts[i]) + "\n";
  return lines;
}

TEST(Metrics, RendersEveryFamilyExactly) {
  Metrics metrics;
  const auto list = zelvor::site::parseServerListFile("Near:n1.test:80\n", "list");
  // 1 ms is on a bound, which its bucket includes; 6 s is past the last.
  metrics.countReport(parseReport("Near\nn1.test:1:\nn1.test::TIMEOUT\nn1.test:6000:\nEND\n"),
                      std::nullopt, list);
  metrics.countRequest(200, 2500us);
  metrics.countRefusal(429);
  const std::string expected =
      R"(# HELP zelvor_reports_received_total Reports stored by this instance since it started.
# TYPE zelvor_reports_received_total counter
zelvor_reports_received_total{class="Near",label=""} 1
# HELP zelvor_echoes_total Echo samples of the stored reports, by outcome: ok or the failure word.
# TYPE zelvor_echoes_total counter
zelvor_echoes_total{class="Near",host="n1.test",label="",outcome="TIMEOUT"} 1
zelvor_echoes_total{class="Near",host="n1.test",label="",outcome="ok"} 2
# HELP zelvor_round_trip_seconds Round trips of the echoes that came back.
# TYPE zelvor_round_trip_seconds histogram
)" +
      bucketLines(R"(zelvor_round_trip_seconds_bucket{class="Near",host="n1.test",label="",)",
                  {"0.001", "0.002", "0.005", "0.01", "0.02", "0.05", "0.1", "0.2", "0.5", "1", "2",
                   "5", "+Inf"},
                  {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 2}) +
      R"(zelvor_round_trip_seconds_sum{class="Near",host="n1.test",label=""} 6.001
zelvor_round_trip_seconds_count{class="Near",host="n1.test",label=""} 2
# HELP zelvor_http_requests_total Requests to this instance by the status of their reply.
# TYPE zelvor_http_requests_total counter
zelvor_http_requests_total{code="200"} 1
zelvor_http_requests_total{code="429"} 1
# HELP zelvor_http_request_duration_seconds Time taken to answer a request once it had arrived whole.
# TYPE zelvor_http_request_duration_seconds histogram
)" +
      bucketLines("zelvor_http_request_duration_seconds_bucket{",
                  {"0.001", "0.0025", "0.005", "0.01", "0.025", "0.05", "0.1", "0.25", "0.5", "1",
                   "2.5", "5", "10", "+Inf"},
                  {0, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1}) +
      R"(zelvor_http_request_duration_seconds_sum 0.0025
zelvor_http_request_duration_seconds_count 1
)";
  EXPECT_EQ(metrics.render(), expected);
}

TEST(Metrics, BeforeAnythingHappensEveryFamilyIsDeclared) {
  const std::string page = Metrics().render();
  EXPECT_EQ(linesOf(page, "# TYPE").size(), 5u);
  EXPECT_EQ(linesOf(page, "zelvor_http_request_duration_seconds_count"),
            std::vector<std::string>{"zelvor_http_request_duration_seconds_count 0"});
  EXPECT_EQ(linesOf(page, "zelvor_http_request_duration_seconds_bucket").size(), 14u);
  EXPECT_EQ(linesOf(page, "zelvor_").size(), 16u);
}

TEST(Metrics, ClassesAndHostsTheListDoesNotNameCountAsOther) {
  Metrics metrics;
  const auto list = zelvor::site::parseServerListFile(
      "Near:n1.test:80\nNear:n2.test:80\nFar:f1.test:80\nSay\"hi\\:q.test:80\n", "list");
  // f1.test is listed, but in another class.
  metrics.countReport(
      parseReport("Near\nn1.test:3:\nn2.test::UNREACHABLE\nf1.test:4:\nx.test:5:\nEND\n"), "lab-1",
      list);
  metrics.countReport(parseReport("Europe\nn1.test:7:\nEND\n"), std::nullopt, list);
  metrics.countReport(parseReport("Say\"hi\\\nq.test:1:\nEND\n"), "lab-1", list);
  const std::string page = metrics.render();
  EXPECT_EQ(linesOf(page, "zelvor_reports_received_total{"),
            (std::vector<std::string>{
                "zelvor_reports_received_total{class=\"Near\",label=\"lab-1\"} 1",
                "zelvor_reports_received_total{class=\"Say\\\"hi\\\\\",label=\"lab-1\"} 1",
                "zelvor_reports_received_total{class=\"other\",label=\"\"} 1"}));
  EXPECT_EQ(
      linesOf(page, "zelvor_echoes_total{"),
      (std::vector<std::string>{
          "zelvor_echoes_total{class=\"Near\",host=\"n1.test\",label=\"lab-1\",outcome=\"ok\"} 1",
          "zelvor_echoes_total{class=\"Near\",host=\"n2.test\",label=\"lab-1\","
          "outcome=\"UNREACHABLE\"} 1",
          "zelvor_echoes_total{class=\"Near\",host=\"other\",label=\"lab-1\",outcome=\"ok\"} 2",
          "zelvor_echoes_total{class=\"Say\\\"hi\\\\\",host=\"q.test\",label=\"lab-1\","
          "outcome=\"ok\"} 1",
          "zelvor_echoes_total{class=\"other\",host=\"other\",label=\"\",outcome=\"ok\"} 1"}));
  EXPECT_EQ(linesOf(page, "zelvor_round_trip_seconds_sum{"),
            (std::vector<std::string>{
                "zelvor_round_trip_seconds_sum{class=\"Near\",host=\"n1.test\",label=\"lab-1\"} "
                "0.003",
                // A host that never answered has its series, empty.
                "zelvor_round_trip_seconds_sum{class=\"Near\",host=\"n2.test\",label=\"lab-1\"} 0",
                "zelvor_round_trip_seconds_sum{class=\"Near\",host=\"other\",label=\"lab-1\"} "
                "0.009",
                "zelvor_round_trip_seconds_sum{class=\"Say\\\"hi\\\\\",host=\"q.test\","
                "label=\"lab-1\"} 0.001",
                "zelvor_round_trip_seconds_sum{class=\"other\",host=\"other\",label=\"\"} 0.007"}));
}

TEST(Metrics, LabelsPastTheFirstThousandCountAsOther) {
  Metrics metrics;
  const auto list = zelvor::site::parseServerListFile("Near:n1.test:80\n", "list");
  const zelvor::ServerClass report = parseReport("Near\nn1.test:1:\nEND\n");
  for (std::size_t i = 0; i <= Metrics::maxLabels; ++i)
    metrics.countReport(report, "v" + std::to_string(i), list);
  // One named already keeps its name; no label is no label.
  metrics.countReport(report, "v0", list);
  metrics.countReport(report, "v" + std::to_string(Metrics::maxLabels + 1), list);
  metrics.countReport(report, std::nullopt, list);
  metrics.countReport(report, "", list);
  const std::vector<std::string> reports =
      linesOf(metrics.render(), "zelvor_reports_received_total{");
  EXPECT_EQ(reports.size(), Metrics::maxLabels + 2);
  const auto has = [&](const std::string& line) {
    return std::find(reports.begin(), reports.end(), line) != reports.end();
  };
  EXPECT_TRUE(has("zelvor_reports_received_total{class=\"Near\",label=\"v0\"} 2"));
  EXPECT_TRUE(has("zelvor_reports_received_total{class=\"Near\",label=\"v999\"} 1"));
  EXPECT_TRUE(has("zelvor_reports_received_total{class=\"Near\",label=\"other\"} 2"));
  EXPECT_TRUE(has("zelvor_reports_received_total{class=\"Near\",label=\"\"} 2"));
  EXPECT_FALSE(has("zelvor_reports_received_total{class=\"Near\",label=\"v1000\"} 1"));
}

TEST(MetricsFromOption, TakesRangesRepeatedOrSeparatedByCommasInsteadOfLoopback) {
  const auto parsed = [](const std::string& arguments) {
    CLI::App app;
    zelvor::site::SiteOptions options;
    zelvor::site::addSiteOptions(app, options);
    app.parse(arguments);
    return options.metricsRules.from;
  };
  EXPECT_EQ(parsed(""), zelvor::site::loopbackRanges());
  EXPECT_EQ(parsed("--metrics-from 192.0.2.0/24,2001:db8::/32 --metrics-from 10.1.0.0/16"),
            (std::vector{*zelvor::site::parseAddressRange("192.0.2.0/24"),
                         *zelvor::site::parseAddressRange("2001:db8::/32"),
                         *zelvor::site::parseAddressRange("10.1.0.0/16")}));
  EXPECT_THROW(parsed("--metrics-from 10.0.0.1/8"), CLI::ValidationError);
  EXPECT_THROW(parsed("--metrics-from 192.0.2.0/24,nowhere"), CLI::ValidationError);
}

}  // namespace
