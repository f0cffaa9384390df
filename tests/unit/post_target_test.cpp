// What a post says beside its report: the label's shape, the stored and
// given labels' precedence, the target's exact bytes and the measuring time
// read back from a kept report's name.
#include "app/post_target.hpp"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "app/unsent_reports.hpp"
#include "catalogue/vantage_label.hpp"
#include "net/http_client.hpp"

namespace {

using std::nullopt;
using zelvor::isVantageLabel;
using zelvor::measuredAtOfKeptName;
using zelvor::postTarget;

TEST(LabelShape, LettersDigitsDashUnderscoreDotOneTo64) {
  const struct {
    std::string text;
    bool taken;
  } cases[] = {
      {"a", true},
      {"lab-1_rack.B", true},
      {"0", true},
      {std::string(64, 'x'), true},
      {std::string(65, 'x'), false},
      {"", false},
      {"two words", false},
      {"a/b", false},
      {"a%20b", false},
      {"a&b=c", false},
      {"a+b", false},
      {"caf\xc3\xa9", false},
      {"tab\t", false},
      {std::string("nul\0x", 5), false},
  };
  for (const auto& c : cases) EXPECT_EQ(isVantageLabel(c.text), c.taken) << c.text;
}

TEST(LabelInUse, CommandLineThenAStoredLabelOfTheShape) {
  const struct {
    std::optional<std::string> commandLine, stored, used;
  } cases[] = {
      {nullopt, nullopt, nullopt}, {nullopt, "home", "home"},  {nullopt, "not ok", nullopt},
      {nullopt, "", nullopt},      {"given", "home", "given"}, {"given", "not ok", "given"},
  };
  for (const auto& c : cases)
    EXPECT_EQ(zelvor::labelInUse(c.commandLine, c.stored), c.used) << c.stored.value_or("(none)");
}

TEST(LabelTexts, QuoteTheValueAsGiven) {
  EXPECT_EQ(zelvor::refusedLabelOption("a b"),
            "--label a b: not a label (1 to 64 letters, digits, '-', '_' or '.')");
  EXPECT_EQ(zelvor::refusedLabelSetting("a/b"),
            "the stored label \"a/b\" is not 1 to 64 letters, digits, '-', '_' or '.' and is "
            "ignored");
}

// Without a label or a time the request is byte for byte what it always was.
TEST(PostTarget, BarePathUnlessALabelOrATimeIsGiven) {
  const struct {
    std::optional<std::string> label, measuredAt;
    std::string target;
  } cases[] = {
      {nullopt, nullopt, "/zelvor"},
      {"lab-1", nullopt, "/zelvor?label=lab-1"},
      {nullopt, "2024-02-29T23:59:59Z", "/zelvor?measured_at=2024-02-29T23:59:59Z"},
      {"lab-1", "2024-02-29T23:59:59Z", "/zelvor?label=lab-1&measured_at=2024-02-29T23:59:59Z"},
  };
  for (const auto& c : cases) EXPECT_EQ(postTarget("/zelvor", c.label, c.measuredAt), c.target);
  EXPECT_EQ(zelvor::postRequestHead("site.test", postTarget("/zelvor", "a.b", nullopt), 12),
            "POST /zelvor?label=a.b HTTP/1.0\r\nContent-length: 12\r\nHost: site.test\r\n\r\n");
  EXPECT_EQ(zelvor::postRequestHead("site.test", postTarget("/zelvor", nullopt, nullopt), 12),
            "POST /zelvor HTTP/1.0\r\nContent-length: 12\r\nHost: site.test\r\n\r\n");
}

TEST(MeasuredAtOfKeptName, ReadsTheNamesUnsentReportsWritesAndNothingElse) {
  const struct {
    std::string path;
    std::optional<std::string> time;
  } cases[] = {
      {"20240229T235959Z-001.report", "2024-02-29T23:59:59Z"},
      {"/var/lib/zelvor/unsent/20251231T000000Z-999.report", "2025-12-31T00:00:00Z"},
      {"C:\\data\\unsent\\19991231T235959Z-002.report", "1999-12-31T23:59:59Z"},
      {"good.report", nullopt},
      {"20240229T235959Z.report", nullopt},
      {"20240229T235959Z-001.report.tmp", nullopt},
      {"20240229t235959Z-001.report", nullopt},
      {"2024-229T235959Z-001.report", nullopt},
      {"20230229T235959Z-001.report", nullopt},  // no 29 February that year
      {"21000229T000000Z-001.report", nullopt},
      {"20241301T000000Z-001.report", nullopt},
      {"20240100T000000Z-001.report", nullopt},
      {"20240101T240000Z-001.report", nullopt},
      {"20240101T006000Z-001.report", nullopt},
      {"20240101T000060Z-001.report", nullopt},
      {"20240101T000000Z-0a1.report", nullopt},
      {"", nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(measuredAtOfKeptName(c.path), c.time) << c.path;
}

TEST(MeasuredAtOfKeptName, IsTheInverseOfTheKeptName) {
  using namespace std::chrono;
  const sys_seconds times[] = {sys_days{2024y / February / 29} + 23h + 59min + 59s,
                               sys_days{1970y / January / 1}};
  const char* expected[] = {"2024-02-29T23:59:59Z", "1970-01-01T00:00:00Z"};
  for (std::size_t i = 0; i < std::size(times); ++i) {
    EXPECT_EQ(measuredAtOfKeptName(zelvor::unsentReportName(times[i] + 999ms, 7)), expected[i]);
  }
}

}  // namespace
