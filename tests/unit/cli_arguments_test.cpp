// zelvor-cli's command line as its measuring commands read it: the address
// family options and the HOST arguments, each case with its exact outcome.
#include <gtest/gtest.h>

#include <CLI/CLI.hpp>
#include <optional>
#include <string>

#include "cli/host_arguments.hpp"
#include "cli/measuring_options.hpp"

namespace {

using namespace zelvor::cli;

// The ip the options chose ("none" when none), or CLI11's refusal.
std::string ipOf(const std::string& line) {
  CLI::App command;
  MeasuringArguments arguments;
  addMeasuringOptions(command, arguments);
  try {
    command.parse(line, false);
  } catch (const CLI::ParseError& error) {
    return error.what();
  }
  return arguments.ip ? std::string(zelvor::ipChoiceName(*arguments.ip)) : "none";
}

TEST(IpOptions, OneOfMinusFourMinusSixAndIpChoosesTheFamily) {
  const struct {
    const char* line;
    std::string expected;
  } cases[] = {
      {"", "none"},
      {"--loops 2", "none"},
      {"-4", "4"},
      {"-6", "6"},
      {"-6 -6", "6"},
      {"--ip auto", "auto"},
      {"--ip 4", "4"},
      {"--ip=6", "6"},
      {"--loops 2 -6 --engine raw", "6"},
      {"--ip 5", "--ip: 5 not in {auto,4,6}"},
      {"--ip v6", "--ip: v6 not in {auto,4,6}"},
      {"--ip AUTO", "--ip: AUTO not in {auto,4,6}"},
      {"--ip", "--ip: 1 required auto|4|6 missing"},
      {"-4 -6", "-4 excludes -6"},
      {"-6 -4", "-4 excludes -6"},
      {"-46", "-4 excludes -6"},
      {"-4 --ip 4", "--ip excludes -4"},
      {"--ip 6 -6", "--ip excludes -6"},
      {"-5", "The following argument was not expected: -5"},
  };
  for (const auto& c : cases) EXPECT_EQ(ipOf(c.line), c.expected) << c.line;
}

TEST(HostArguments, Ipv6LiteralsInTheirTextForms) {
  const char* const literals[] = {
      "::",
      "::1",
      "2001:db8::1",
      "2001:DB8:0:0:8:800:200C:417a",
      "1:2:3:4:5:6:7::",
      "::2:3:4:5:6:7:8",
      "1:2:3:4:5:6::8",
      "::ffff:192.0.2.1",
      "1:2:3:4:5:6:255.255.255.255",
      "64:ff9b::0.0.0.0",
      "fe80::1%eth0",
      "fe80::1%2",
      "fe80::1%veth-a.b_c",
  };
  for (const char* text : literals) EXPECT_TRUE(isIpv6Literal(text)) << text;

  const char* const others[] = {
      "",
      "localhost",
      "198.18.1.1",
      ":",
      ":::",
      "1::2::3",
      "::1::",
      ":1::",
      "1::2:",
      ":1:2:3:4:5:6:7",
      "1:2:3:4:5:6:7",
      "1:2:3:4:5:6:7:8:9",
      "1:2:3:4:5:6:7:8::",
      "1::2:3:4:5:6:7:8",
      "12345::",
      "::g",
      "2001:db8::1 ",
      "[::1]",
      "::1.2.3",
      "::1.2.3.4.5",
      "::256.1.1.1",
      "::1.2.3.04",
      "::1.2.3.4:1",
      "1.2.3.4::",
      "1:2:3:4:5:6:7:1.2.3.4",
      "fe80::1%",
      "fe80::1%eth 0",
      "fe80::1%eth0%1",
      "%eth0",
  };
  for (const char* text : others) EXPECT_FALSE(isIpv6Literal(text)) << text;
}

TEST(HostArguments, ColonsOnlyInIpv6LiteralsAndNeverInAReport) {
  const std::string noReport =
      "--format report cannot hold HOST ::1: a report line is host:rtt: and an IPv6 address "
      "has colons";
  const struct {
    const char* host;
    Format format;
    std::optional<std::string> expected;
  } cases[] = {
      {"near.example", Format::report, std::nullopt},
      {"198.18.1.1", Format::report, std::nullopt},
      {"::1", Format::table, std::nullopt},
      {"::1", Format::json, std::nullopt},
      {"::1", Format::csv, std::nullopt},
      {"fe80::1%eth0", Format::csv, std::nullopt},
      {"::1", Format::report, noReport},
      {"a:b", Format::table, "HOST a:b: not a host name"},
      {"a:b", Format::report, "HOST a:b: not a host name"},
      {"::1:", Format::json, "HOST ::1:: not a host name"},
      {"", Format::table, "HOST : not a host name"},
      {"near\texample", Format::table, "HOST near\texample: not a host name"},
  };
  for (const auto& c : cases) EXPECT_EQ(refusedHost(c.host, c.format), c.expected) << c.host;
}

}  // namespace
