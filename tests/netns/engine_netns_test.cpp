// Both echo engines and runPing against real hosts: the ICMP peer answers
// for 198.18.1.x and 198.18.2.x as the plans in CMakeLists.txt say, the
// client namespace's own kernel answers for 127.0.0.1, and for NamedHosts a
// slow resolver of our own gives the names. Each suite is run by its own
// CTest test, with the privileges its name says.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "ping/ping_run.hpp"
#include "ping/raw_icmp_channel.hpp"
#include "support/failure.hpp"

namespace {

using zelvor::EchoSample;
using zelvor::ServerEntry;

constexpr std::uint32_t loops = 3;
constexpr std::uint32_t timeoutMs = 300;

// The hosts of the plan, in server order.
const std::vector<std::string> hosts = {
    "198.18.1.1",       // reply:20
    "198.18.1.2",       // drop
    "198.18.1.3",       // foreign:5
    "198.18.1.4",       // twice:10
    "198.18.1.5",       // late:400
    "198.18.1.6",       // unreachable
    "198.18.1.7",       // expired:198.18.255.254
    "198.18.1.8",       // options:5
    "198.18.1.9",       // reply:0
    "127.0.0.1",        // the client's own kernel
    "198.18.1.10",      // expired:198.18.1.10, time exceeded from the target itself
    "198.18.0.3",       // the client link's broadcast address: sending is refused
    "nothing.invalid",  // no name service in the namespace
};

std::vector<ServerEntry> planServers() {
  std::vector<ServerEntry> servers;
  for (const std::string& host : hosts) servers.push_back({host, {}});
  return servers;
}

class RealHosts : public testing::Test {
 protected:
  zelvor::MsClock clock;
  zelvor::ProgressCounter progress;
  kelvo::Event stop;
  zelvor::RunState state{{loops, timeoutMs}, {}, progress, clock, stop};
  std::vector<ServerEntry> servers = planServers();
};

// Extra milliseconds allowed above a reply's delay. A plain or ASan build
// reads within 2 ms of the delay; under ThreadSanitizer every step of the
// engine is several times slower, and the test script grants a few more.
std::int32_t slackMs() {
  const char* slack = std::getenv("ZELVOR_RTT_SLACK_MS");
  return slack == nullptr ? 0 : std::atoi(slack);
}

// Every sample a success whose time lies in [low, high] ms (plus the slack).
void expectTimes(const ServerEntry& server, std::int32_t low, std::int32_t high) {
  high += slackMs();
  ASSERT_EQ(server.samples.size(), loops) << server.host;
  for (const EchoSample& sample : server.samples) {
    ASSERT_EQ(sample.failure, nullptr) << server.host << ": " << sample.failure;
    EXPECT_GE(sample.rtt, low) << server.host;
    EXPECT_LE(sample.rtt, high) << server.host;
  }
}

void expectWord(const ServerEntry& server, const char* word) {
  ASSERT_EQ(server.samples.size(), loops) << server.host;
  for (const EchoSample& sample : server.samples) {
    EXPECT_EQ(sample.failure, word)
        << server.host << ": " << (sample.failure ? sample.failure : "success");
  }
}

TEST_F(RealHosts, RawEngineTimesRepliesAndNamesEachFailure) {
  zelvor::RawEchoEngine(state, zelvor::RawEchoEngine::systemPlatform()).run(servers, 16);
  expectTimes(servers[0], 20, 22);
  expectWord(servers[1], zelvor::failure::timeout);
  expectWord(servers[2], zelvor::failure::foreign);
  expectTimes(servers[3], 10, 12);
  expectWord(servers[4], zelvor::failure::timeout);
  expectWord(servers[5], zelvor::failure::unreachable);
  // The router's message names no request in flight: the request expires.
  expectWord(servers[6], zelvor::failure::timeout);
  // IP options move the payload off the offset where the pattern is read.
  expectWord(servers[7], zelvor::failure::foreign);
  expectTimes(servers[8], 0, 2);
  // Our own outgoing requests come back on the raw socket first; they must
  // not be taken for the reply.
  expectTimes(servers[9], 0, 2);
  expectWord(servers[10], zelvor::failure::expired);
  expectWord(servers[11], zelvor::failure::sockError);
  expectWord(servers[12], zelvor::failure::badAddress);
  EXPECT_TRUE(state.success.isSet());
  // Refused sends and unresolved hosts count as much as replies.
  EXPECT_EQ(progress.fraction(), 1.0);
}

TEST_F(RealHosts, EchoServiceTimesRepliesAndFailsEverythingElse) {
  zelvor::DllEchoEngine(state, zelvor::DllEchoEngine::systemPlatform()).run(servers, 4);
  expectTimes(servers[0], 20, 22);
  // Only a real echo reply is a success: unreachable and time exceeded are
  // failures, and a reply for another identifier never reaches our socket.
  for (const int failed : {1, 2, 4, 5, 6})
    expectWord(servers[failed], zelvor::failure::serviceFailure);
  expectTimes(servers[3], 10, 12);
  expectTimes(servers[7], 5, 7);
  expectTimes(servers[8], 0, 2);
  expectTimes(servers[9], 0, 2);
}

TEST_F(RealHosts, RunPingMeasuresWithTheRawEngine) {
  const zelvor::PingEnd end =
      zelvor::runPing(state, servers, {loops, timeoutMs, 16, 4}, zelvor::systemEchoPlatforms());
  EXPECT_FALSE(end.failure.has_value());
  // FOREIGN is a word only the raw engine records.
  expectWord(servers[2], zelvor::failure::foreign);
  expectTimes(servers[0], 20, 22);
}

// Run without CAP_NET_RAW: the raw engine cannot start.
TEST_F(RealHosts, WithoutRawSocketsRunPingFallsBackToTheEchoService) {
  const zelvor::PingEnd end =
      zelvor::runPing(state, servers, {loops, timeoutMs, 16, 4}, zelvor::systemEchoPlatforms());
  EXPECT_FALSE(end.failure.has_value());
  EXPECT_EQ(end.rawFailure.value_or(kelvo::Failure("")), zelvor::rawSocketRefusedText);
  expectWord(servers[2], zelvor::failure::serviceFailure);
  expectTimes(servers[0], 20, 22);
}

// Run without CAP_NET_RAW and with ping sockets refused.
TEST_F(RealHosts, WithoutAnyIcmpRunPingGivesTheServicesFailure) {
  const auto failureOf = [this](std::uint32_t threads) -> std::string {
    const zelvor::PingEnd end = zelvor::runPing(state, servers, {loops, timeoutMs, 16, threads},
                                                zelvor::systemEchoPlatforms());
    return end.failure.value_or(kelvo::Failure(""));
  };
  EXPECT_EQ(failureOf(4), "Unable to setup icmp.dll");
  EXPECT_EQ(failureOf(0), "Ping never succeeded");
}

// n1.zelvor.test to n32.zelvor.test, the hosts 198.18.2.1-32 that answer
// after 20 ms, through a resolver that answers after 100 ms; and a name it
// does not know.
class NamedHosts : public RealHosts {
 protected:
  NamedHosts() {
    servers.clear();
    for (int n = 1; n <= 32; ++n) servers.push_back({"n" + std::to_string(n) + ".zelvor.test", {}});
    servers.push_back({"missing.zelvor.test", {}});
  }

  // Runs `measure` and checks what it recorded. One lookup after another
  // would take 3.2 s before the first request; the bound leaves room for the
  // echoes and a slow machine, and none for lookups made one at a time.
  template <class Measure>
  void expectLookupsOverlapAndLeaveTheTimesAlone(Measure measure) {
    const auto started = std::chrono::steady_clock::now();
    measure();
    const auto tookMs = std::chrono::duration_cast<std::chrono::milliseconds>(
                            std::chrono::steady_clock::now() - started)
                            .count();
    for (int n = 0; n < 32; ++n) expectTimes(servers[n], 20, 22);
    expectWord(servers[32], zelvor::failure::badAddress);
    EXPECT_LT(tookMs, 2400);
    EXPECT_EQ(progress.fraction(), 1.0);
  }
};

TEST_F(NamedHosts, RawEngineTimesRepliesAsIfTheHostsWereGivenByAddress) {
  expectLookupsOverlapAndLeaveTheTimesAlone([this] {
    zelvor::RawEchoEngine(state, zelvor::RawEchoEngine::systemPlatform()).run(servers, 16);
  });
}

TEST_F(NamedHosts, EchoServiceTimesRepliesAsIfTheHostsWereGivenByAddress) {
  expectLookupsOverlapAndLeaveTheTimesAlone([this] {
    zelvor::DllEchoEngine(state, zelvor::DllEchoEngine::systemPlatform()).run(servers, 4);
  });
}

// What a host's samples should be: each a success within [low, high] ms,
// or each the failure `word`.
struct Expected {
  const char* word = nullptr;
  std::int32_t low = 0;
  std::int32_t high = 0;
};
constexpr Expected within(std::int32_t low, std::int32_t high) { return {nullptr, low, high}; }
constexpr Expected every(const char* word) { return {word, 0, 0}; }

void expectAs(const ServerEntry& server, const Expected& expected) {
  if (expected.word != nullptr) {
    expectWord(server, expected.word);
  } else {
    expectTimes(server, expected.low, expected.high);
  }
}

// The same over IPv6, beside one IPv4 host and names of either family
// (tests/netns/CMakeLists.txt gives the plan, the names and the firewall of
// the hosts' side): each host with what each engine should record of it.
struct Host6 {
  const char* host;
  Expected raw;
  Expected service;
};
const Host6 hosts6[] = {
    {"2001:db8:1::1", within(20, 22), within(20, 22)},  // reply:20
    {"2001:db8:1::2", every(zelvor::failure::timeout), every(zelvor::failure::serviceFailure)},
    {"2001:db8:1::3", every(zelvor::failure::foreign), every(zelvor::failure::serviceFailure)},
    {"2001:db8:1::4", within(10, 12), within(10, 12)},  // twice:10
    {"2001:db8:1::5", every(zelvor::failure::timeout), every(zelvor::failure::serviceFailure)},
    // Destination unreachable from the target.
    {"2001:db8:1::6", every(zelvor::failure::unreachable), every(zelvor::failure::serviceFailure)},
    // Time exceeded from a router names no request in flight.
    {"2001:db8:1::7", every(zelvor::failure::timeout), every(zelvor::failure::serviceFailure)},
    // An extension header before the reply is the kernel's to skip.
    {"2001:db8:1::8", within(5, 7), within(5, 7)},
    {"2001:db8:1::9", within(0, 2), within(0, 2)},
    {"::1", within(0, 2), within(0, 2)},  // the client's own kernel
    // Time exceeded from the target itself.
    {"2001:db8:1::a", every(zelvor::failure::expired), every(zelvor::failure::serviceFailure)},
    // The hosts' firewall rejects (admin-prohibited), then drops.
    {"2001:db8:3::1", every(zelvor::failure::unreachable), every(zelvor::failure::serviceFailure)},
    {"2001:db8:3::2", every(zelvor::failure::timeout), every(zelvor::failure::serviceFailure)},
    {"198.18.1.1", within(20, 22), within(20, 22)},  // IPv4 in the same class
    // 198.18.1.9 (reply:0) and 2001:db8:1::b (reply:30): IPv4 under auto.
    {"both.zelvor.test", within(0, 2), within(0, 2)},
    {"six.zelvor.test", within(15, 17), within(15, 17)},  // 2001:db8:1::c alone
};

class RealHosts6 : public RealHosts {
 protected:
  RealHosts6() {
    servers.clear();
    for (const Host6& host : hosts6) servers.push_back({host.host, {}});
  }

  void expectEach(Expected Host6::*engine) {
    for (std::size_t i = 0; i < servers.size(); ++i) expectAs(servers[i], hosts6[i].*engine);
    EXPECT_EQ(progress.fraction(), 1.0);
  }
};

TEST_F(RealHosts6, RawEngineTimesRepliesAndNamesEachFailure) {
  zelvor::RawEchoEngine(state, zelvor::RawEchoEngine::systemPlatform()).run(servers, 16);
  expectEach(&Host6::raw);
}

TEST_F(RealHosts6, EchoServiceTimesRepliesAndFailsEverythingElse) {
  zelvor::DllEchoEngine(state, zelvor::DllEchoEngine::systemPlatform()).run(servers, 4);
  expectEach(&Host6::service);
}

// Forced to one family, each engine measures a name over it, and a host
// without an address of it is BADADDRESS.
TEST_F(RealHosts6, EachEngineTakesTheFamilyItIsToldTo) {
  const std::vector<std::string> hosts = {"both.zelvor.test", "six.zelvor.test", "198.18.1.1",
                                          "2001:db8:1::1"};
  const Expected bad = every(zelvor::failure::badAddress);
  const std::pair<zelvor::IpChoice, std::vector<Expected>> cases[] = {
      {zelvor::IpChoice::v6, {within(30, 32), within(15, 17), bad, within(20, 22)}},
      {zelvor::IpChoice::v4, {within(0, 2), bad, within(20, 22), bad}},
  };
  for (const auto& [choice, expected] : cases) {
    for (const bool raw : {true, false}) {
      SCOPED_TRACE(testing::Message()
                   << zelvor::ipChoiceName(choice) << (raw ? " raw" : " service"));
      servers.clear();
      for (const std::string& host : hosts) servers.push_back({host, {}});
      state.settings.ip = choice;
      if (raw) {
        zelvor::RawEchoEngine(state, zelvor::RawEchoEngine::systemPlatform()).run(servers, 16);
      } else {
        zelvor::DllEchoEngine(state, zelvor::DllEchoEngine::systemPlatform()).run(servers, 4);
      }
      for (std::size_t i = 0; i < hosts.size(); ++i) expectAs(servers[i], expected[i]);
    }
  }
}

}  // namespace
