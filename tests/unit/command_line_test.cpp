// The Linux program's command line: the site it takes for the run, and the
// exit code and output of a run that ends before any window.
#include "app/fltk/command_line.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <string>
#include <variant>
#include <vector>

#include "support/version.hpp"

namespace {

struct Case {
  std::vector<const char*> arguments;
  int exitCode;  // -1: the run goes on, with `site`
  std::string site, out, err;
};

TEST(CommandLine, TakesTheSiteOrEndsTheRun) {
  const std::string refused =
      ": not HOST[:PORT] (a host name or IPv4 address, a port from 1 to 65535)\n";
  const Case cases[] = {
      {{}, -1, "(none)", "", ""},
      {{"--site", "h:8080"}, -1, "h:8080", "", ""},
      {{"--site=10.0.0.1"}, -1, "10.0.0.1:80", "", ""},
      {{"--site", "h:0"}, 1, "", "", "zelvor: --site h:0" + refused},
      {{"--site", ""}, 1, "", "", "zelvor: --site " + refused},
      // CLI11's own complaints differ between its versions; its help starts
      // with our description.
      {{"--colour"}, 1, "", "", "zelvor: "},
      {{"--help"}, 0, "", "Measures the round trips", ""},
      {{"--version"}, 0, "", "zelvor " + std::string(kelvo::version) + "\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.arguments.empty() ? "(none)" : c.arguments.front());
    std::vector<const char*> argv{"zelvor"};
    argv.insert(argv.end(), c.arguments.begin(), c.arguments.end());
    std::ostringstream out, err;
    const auto parsed =
        zelvor::parseCommandLine(static_cast<int>(argv.size()), argv.data(), out, err);
    if (c.exitCode < 0) {
      const auto& site = std::get<zelvor::CommandLine>(parsed).site;
      EXPECT_EQ(site ? site->host + ":" + std::to_string(site->port) : "(none)", c.site);
    } else {
      EXPECT_EQ(std::get<int>(parsed), c.exitCode);
    }
    const std::string printed = out.str(), complaint = err.str();
    EXPECT_TRUE(printed.starts_with(c.out)) << printed;
    // One line exactly, or nothing.
    EXPECT_TRUE(complaint.starts_with(c.err)) << complaint;
    EXPECT_EQ(std::count(complaint.begin(), complaint.end(), '\n'), c.exitCode == 1 ? 1 : 0);
  }
}

TEST(CommandLine, HelpSaysWhatSiteDoes) {
  const char* argv[] = {"zelvor", "--help"};
  std::ostringstream out, err;
  zelvor::parseCommandLine(2, argv, out, err);
  EXPECT_NE(out.str().find("--site HOST[:PORT]"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("for this run only"), std::string::npos) << out.str();
}

}  // namespace
