// zelvor-cli's pure parts: the exit code a run earns, the measuring settings
// its arguments give, the output formats and the progress line, each with
// its exact outcome.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "cli/commands.hpp"
#include "cli/exit_status.hpp"
#include "cli/measuring_settings.hpp"
#include "cli/progress_line.hpp"
#include "cli/result_formats.hpp"
#include "stats/figure_text.hpp"

namespace {

using zelvor::EchoSample;
using zelvor::IpChoice;
using zelvor::ServerClass;
using zelvor::ServerEntry;
using zelvor::Settings;
using namespace zelvor::cli;
namespace failure = zelvor::failure;

EchoSample ok(int rtt) { return {nullptr, rtt}; }
EchoSample failed(const char* text) { return {text, 0}; }

// ---- exit codes ------------------------------------------------------------

TEST(ExitCode, PrecedenceGoesInterruptedArgumentsFailureUnresolvedSilent) {
  struct Case {
    Outcome outcome;
    ExitCode expected;
  };
  const std::vector<Case> cases{
      {{}, ExitCode::allAnswered},
      {{.someSilent = true}, ExitCode::someSilent},
      {{.someUnresolved = true, .someSilent = true}, ExitCode::someUnresolved},
      {{.failed = true, .someUnresolved = true, .someSilent = true}, ExitCode::failed},
      {{.badArguments = true, .failed = true}, ExitCode::badArguments},
      {{.interrupted = true, .badArguments = true, .failed = true, .someSilent = true},
       ExitCode::interrupted},
  };
  for (const Case& c : cases) EXPECT_EQ(exitCodeOf(c.outcome), c.expected);
  EXPECT_EQ(static_cast<int>(ExitCode::interrupted), 130);
  EXPECT_EQ(static_cast<int>(ExitCode::failed), 4);
}

TEST(ExitCode, HostsAreJudgedByTheirSamples) {
  struct Case {
    std::vector<EchoSample> samples;
    bool unresolved;
    bool silent;
  };
  const std::vector<Case> cases{
      {{ok(5), failed(failure::timeout)}, false, false},
      {{failed(failure::timeout), failed(failure::unreachable)}, false, true},
      {{failed(failure::badAddress), failed(failure::badAddress)}, true, false},
      // A host a stopped run never reached is neither.
      {{}, false, false},
  };
  for (const Case& c : cases) {
    Outcome outcome;
    const std::vector<ServerEntry> servers{{"h", c.samples}};
    judgeHosts(servers, outcome);
    EXPECT_EQ(outcome.someUnresolved, c.unresolved) << c.samples.size();
    EXPECT_EQ(outcome.someSilent, c.silent) << c.samples.size();
  }
}

// ---- measuring settings ----------------------------------------------------

struct SettingsCase {
  MeasuringArguments arguments;  // loops, timeout, airborne, threads, engine, ip
  std::string expected;          // "loops timeout airborne threads ip", or the complaint
};

std::string describe(const std::variant<Measuring, std::string>& result) {
  if (const auto* complaint = std::get_if<std::string>(&result)) return *complaint;
  const Measuring& m = std::get<Measuring>(result);
  return std::to_string(m.loops) + ' ' + std::to_string(m.timeoutMs) + ' ' +
         std::to_string(m.airborne) + ' ' + std::to_string(m.threads) + ' ' +
         std::string(zelvor::ipChoiceName(m.ip));
}

TEST(MeasuringSettings, ArgumentsOverStoredSettingsWithinTheirBounds) {
  Settings stored;
  stored.loops = 7;
  stored.timeoutNew = 900;
  stored.airborneNew = 0;
  stored.threads = 2;
  stored.ip = "6";
  constexpr std::nullopt_t none = std::nullopt;
  const std::vector<SettingsCase> cases{
      {{none, none, none, none, Engine::automatic, none}, "7 900 0 2 6"},
      {{1, 1, 1024, 64, Engine::automatic, none}, "1 1 1024 64 6"},
      {{1000, 60000, 0, 0, Engine::automatic, none}, "1000 60000 0 0 6"},
      {{0, none, none, none, Engine::automatic, none}, "--loops 0: not within 1 to 1000"},
      {{1001, none, none, none, Engine::automatic, none}, "--loops 1001: not within 1 to 1000"},
      {{none, 0, none, none, Engine::automatic, none}, "--timeout 0: not within 1 to 60000"},
      {{none, 60001, none, none, Engine::automatic, none},
       "--timeout 60001: not within 1 to 60000"},
      {{none, none, -1, none, Engine::automatic, none}, "--airborne -1: not within 0 to 1024"},
      {{none, none, 1025, none, Engine::automatic, none}, "--airborne 1025: not within 0 to 1024"},
      {{none, none, none, 65, Engine::automatic, none}, "--threads 65: not within 0 to 64"},
      {{none, none, none, 4294967296LL, Engine::automatic, none},
       "--threads 4294967296: not within 0 to 64"},
      // The stored airborne of 0 gives way to the default for the raw engine.
      {{none, none, none, none, Engine::raw, none}, "7 900 16 0 6"},
      {{none, none, 3, 9, Engine::raw, none}, "7 900 3 0 6"},
      {{none, none, 0, none, Engine::raw, none}, "--engine raw needs --airborne of 1 or more"},
      {{none, none, 5, none, Engine::service, none}, "7 900 0 2 6"},
      {{none, none, none, 0, Engine::service, none},
       "--engine service needs --threads of 1 or more"},
      // The command line's ip over the stored one.
      {{none, none, none, none, Engine::automatic, IpChoice::v4}, "7 900 0 2 4"},
      {{none, none, none, none, Engine::automatic, IpChoice::automatic}, "7 900 0 2 auto"},
      {{none, none, 0, none, Engine::raw, IpChoice::v4},
       "--engine raw needs --airborne of 1 or more"},
  };
  for (const SettingsCase& c : cases)
    EXPECT_EQ(describe(measuringSettings(stored, c.arguments)), c.expected);
}

TEST(MeasuringSettings, StoredValuesOutOfBoundsAreTheProgramsDefaults) {
  Settings stored;
  stored.loops = 0;
  stored.timeoutNew = -5;
  stored.airborneNew = 5000;
  stored.threads = 100;
  stored.ip = "v6";
  EXPECT_EQ(describe(measuringSettings(stored, {})), "3 2000 16 4 auto");
}

// ---- output formats --------------------------------------------------------

ServerClass sampleClass() {
  return {"Near",
          {{"fast.example", {ok(20), ok(24), failed(failure::timeout), ok(21)}},
           {"silent", {failed(failure::timeout), failed(failure::unreachable)}},
           {"=cmd,x", {ok(3)}}}};
}

TEST(ResultFormats, TableIsAlignedInTheClassOrder) {
  EXPECT_EQ(formatTable(sampleClass()),
            "host          sent  recv  loss%  min  median  mean  max  stddev  jitter  p90  p95"
            "  failures\n"
            "fast.example     4     3   25.0   20    21.0  21.7   24     1.7     3.5    -    -"
            "  TIMEOUT 1\n"
            "silent           2     0  100.0    -       -     -    -       -       -    -    -"
            "  TIMEOUT 1, UNREACHABLE 1\n"
            "=cmd,x           1     1    0.0    3     3.0   3.0    3     0.0       -    -    -\n");
}

TEST(ResultFormats, CsvHasTheSitesColumnsAndKeepsCellsText) {
  EXPECT_EQ(formatCsv(sampleClass()),
            "host,sent,received,loss_percent,BADADDRESS,SOCKERROR,TIMEOUT,EXPIRED,FOREIGN,"
            "UNREACHABLE,BADHEADER,FAILURE,min_ms,median_ms,mean_ms,max_ms,stddev_ms,jitter_ms,"
            "p90_ms,p95_ms\n"
            "fast.example,4,3,25.0,0,0,1,0,0,0,0,0,20,21.0,21.7,24,1.7,3.5,,\n"
            "silent,2,0,100.0,0,0,1,0,0,1,0,0,,,,,,,,\n"
            "\"'=cmd,x\",1,1,0.0,0,0,0,0,0,0,0,0,3,3.0,3.0,3,0.0,,,\n");
}

TEST(ResultFormats, JsonIsOneDocumentWithSettingsAndEverySample) {
  const ServerClass measured{"Near", {{"a", {ok(20), failed(failure::timeout)}}, {"b", {}}}};
  const Measuring settings{{3, 2000, 16, 0, IpChoice::v6}, Engine::raw};
  const std::string hostA =
      R"({"host":"a","sent":2,"received":1,"loss_percent":50.0,"failures":{"BADADDRESS":0,)"
      R"("SOCKERROR":0,"TIMEOUT":1,"EXPIRED":0,"FOREIGN":0,"UNREACHABLE":0,"BADHEADER":0,)"
      R"("FAILURE":0},"min_ms":20,"median_ms":20.0,"mean_ms":20.0,"max_ms":20,"stddev_ms":0.0,)"
      R"("jitter_ms":null,"p90_ms":null,"p95_ms":null,"samples":[20,"TIMEOUT"]})";
  const std::string hostB =
      R"({"host":"b","sent":0,"received":0,"loss_percent":null,"failures":{"BADADDRESS":0,)"
      R"("SOCKERROR":0,"TIMEOUT":0,"EXPIRED":0,"FOREIGN":0,"UNREACHABLE":0,"BADHEADER":0,)"
      R"("FAILURE":0},"min_ms":null,"median_ms":null,"mean_ms":null,"max_ms":null,)"
      R"("stddev_ms":null,"jitter_ms":null,"p90_ms":null,"p95_ms":null,"samples":[]})";
  const std::string head = R"({"class":"Near","partial":)";
  const std::string settingsText =
      R"("settings":{"loops":3,"timeout_ms":2000,"airborne":16,"threads":0,"engine":"raw",)"
      R"("ip":"6"},)";
  EXPECT_EQ(formatJson({measured, settings, true, std::nullopt}),
            head + "true," + settingsText + R"("results_address":null,"hosts":[)" + hostA + "," +
                hostB + "]}\n");
  EXPECT_EQ(formatJson({measured, settings, false, "http://s/zelvor?handle=H"}),
            head + "false," + settingsText + R"("results_address":"http://s/zelvor?handle=H",)" +
                R"("hosts":[)" + hostA + "," + hostB + "]}\n");
}

TEST(ResultFormats, ClassesInEachFormat) {
  const zelvor::ServerCatalogue catalogue{{"Near", {{"a", {}}, {"b", {}}}},
                                          {"Say \"far\", wide", {{"c", {}}}}};
  EXPECT_EQ(formatClasses(catalogue, Format::table),
            "Near             2\n"
            "Say \"far\", wide  1\n");
  EXPECT_EQ(formatClasses(catalogue, Format::csv),
            "class,servers\nNear,2\n\"Say \"\"far\"\", wide\",1\n");
  EXPECT_EQ(formatClasses(catalogue, Format::json),
            R"([{"class":"Near","servers":2},{"class":"Say \"far\", wide","servers":1}])"
            "\n");
}

TEST(ResultFormats, OneDecimalRoundsAndNeverShowsMinusZero) {
  const std::vector<std::pair<double, std::string>> cases{
      {0.0, "0.0"}, {21.66, "21.7"}, {-0.04, "0.0"}, {33.333, "33.3"}, {100.0, "100.0"}};
  for (const auto& [value, text] : cases)
    EXPECT_EQ(zelvor::stats::formatOneDecimal(value), text) << value;
}

// ---- the site's answer to a post ---------------------------------------------

TEST(HandleReply, OnlyUrlSafeTokensUpTo64Characters) {
  EXPECT_TRUE(isHandleReply("Ab3_-zZ09AAAAAAAAAAAAA"));
  EXPECT_TRUE(isHandleReply(std::string(64, 'a')));
  for (const std::string bad : {"", "a b", "a\n", "<html>", "a?handle=b", "é"})
    EXPECT_FALSE(isHandleReply(bad)) << bad;
  EXPECT_FALSE(isHandleReply(std::string(65, 'a')));
}

// ---- the progress line ---------------------------------------------------------

TEST(ProgressLine, BarCountsAndTenthsOfASecond) {
  struct Case {
    std::uint32_t done, due, elapsedMs;
    std::string line;
  };
  const std::vector<Case> cases{
      {0, 0, 0, "[                              ]  0 of 0 echoes  0.0 s"},
      {0, 300, 99, "[                              ]  0 of 300 echoes  0.0 s"},
      {30, 100, 1550, "[#########                     ]  30 of 100 echoes  1.5 s"},
      {99, 100, 61999, "[############################# ]  99 of 100 echoes  61.9 s"},
      {100, 100, 1000, "[##############################]  100 of 100 echoes  1.0 s"},
      // A count past its total (a new engine's reset not yet seen) fills the bar, no more.
      {7, 5, 100, "[##############################]  7 of 5 echoes  0.1 s"},
  };
  for (const Case& c : cases) EXPECT_EQ(progressLine(c.done, c.due, c.elapsedMs), c.line);
}

}  // namespace
