// The echo-service engine over a scripted service: dealing to workers,
// write-back, failure words, and a stop that leaves no worker behind.
#include "ping/dll_echo_engine.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "catalogue/failure_texts.hpp"
#include "catalogue/report.hpp"
#include "fake_echo.hpp"
#include "support/failure.hpp"

namespace {

using zelvor::ServerEntry;
using zelvor::test::FakeEchoService;
using zelvor::test::FakeResolver;
using zelvor::test::host;
using zelvor::test::host6;
using zelvor::test::ipv4;
using zelvor::test::numberedServers;
using zelvor::test::serversOf;

int serverOf(const zelvor::HostAddress& address) {
  for (int i = 0; i < 256; ++i) {
    if (ipv4(host(i)) == address) return i;
  }
  return -1;
}

class DllEngine : public testing::Test {
 protected:
  void run(std::vector<ServerEntry>& servers, std::uint32_t loops, std::uint32_t threads) {
    state.settings = {loops, 2000};
    zelvor::DllEchoEngine(state, platform()).run(servers, threads);
  }

  zelvor::DllEchoEngine::Platform platform() {
    return {[this] { return service; }, resolver.resolver(), lookupsAtOnce};
  }

  // The servers each worker thread echoed, in its order.
  std::vector<std::vector<int>> byWorker() const {
    std::map<std::thread::id, std::vector<int>> seen;
    std::vector<std::thread::id> order;
    for (const auto& echo : service->echoes()) {
      if (seen.find(echo.thread) == seen.end()) order.push_back(echo.thread);
      seen[echo.thread].push_back(serverOf(echo.address));
    }
    std::vector<std::vector<int>> workers;
    for (const auto& thread : order) workers.push_back(seen[thread]);
    std::sort(workers.begin(), workers.end());
    return workers;
  }

  std::shared_ptr<FakeEchoService> service = std::make_shared<FakeEchoService>();
  FakeResolver resolver;
  std::uint32_t lookupsAtOnce = zelvor::defaultLookupsAtOnce;
  zelvor::test::ManualClock clock;
  zelvor::ProgressCounter progress;
  kelvo::Event stop;
  zelvor::RunState state{{}, {}, progress, clock, stop};
};

TEST_F(DllEngine, DealsServersRoundRobinAndWritesThemBackInPlace) {
  for (int i = 0; i < 10; ++i) service->plan(host(i), {true, static_cast<std::uint32_t>(i)});
  service->gatherThreads(4);
  auto servers = numberedServers(10);
  run(servers, 2, 4);
  EXPECT_EQ(byWorker(), (std::vector<std::vector<int>>{
                            {0, 4, 8, 0, 4, 8}, {1, 5, 9, 1, 5, 9}, {2, 6, 2, 6}, {3, 7, 3, 7}}));
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(servers[i].host, host(i));
    ASSERT_EQ(servers[i].samples.size(), 2u);
    EXPECT_EQ(servers[i].samples[1].failure, nullptr);
    EXPECT_EQ(servers[i].samples[1].rtt, i);
  }
  EXPECT_TRUE(state.success.isSet());
  EXPECT_EQ(progress.fraction(), 1.0);
}

TEST_F(DllEngine, MoreWorkersThanServersLeavesTheRestIdle) {
  service->gatherThreads(3);
  auto servers = numberedServers(3);
  run(servers, 2, 8);
  EXPECT_EQ(byWorker(), (std::vector<std::vector<int>>{{0, 0}, {1, 1}, {2, 2}}));
  for (const ServerEntry& server : servers) EXPECT_EQ(server.samples.size(), 2u);
}

TEST_F(DllEngine, EchoesSixtyFourBytesOfAAWithTheTimeOut) {
  auto servers = numberedServers(1);
  run(servers, 1, 1);
  const auto echoes = service->echoes();
  ASSERT_EQ(echoes.size(), 1u);
  EXPECT_EQ(echoes[0].data, std::vector<std::uint8_t>(64, 0xAA));
  EXPECT_EQ(echoes[0].timeoutMs, 2000u);
  EXPECT_EQ(service->openHandles(), 0);
}

// Each echo opens a handle of its host's family and echoes to the address
// the choice took.
TEST_F(DllEngine, EachEchoGoesOverItsHostsFamily) {
  resolver.name("both.test", host6(3));
  resolver.name("both.test", host(3));
  struct Case {
    zelvor::IpChoice choice;
    std::vector<zelvor::IcmpFamily> opened;
    std::vector<std::string> samples;
  };
  using zelvor::IcmpFamily;
  const Case cases[] = {
      {zelvor::IpChoice::automatic,
       {IcmpFamily::v4, IcmpFamily::v6, IcmpFamily::v4},
       {"7", "20", "30"}},
      {zelvor::IpChoice::v6, {IcmpFamily::v6, IcmpFamily::v6}, {"BADADDRESS", "20", "33"}},
  };
  for (const Case& c : cases) {
    service = std::make_shared<FakeEchoService>();
    service->plan(host6(2), {true, 20});
    service->plan(host(3), {true, 30});
    service->plan(host6(3), {true, 33});
    auto servers = serversOf({host(1), host6(2), "both.test"});
    state.settings = {1, 2000, 0, 0, c.choice};
    zelvor::DllEchoEngine(state, platform()).run(servers, 1);
    EXPECT_EQ(service->opened(), c.opened) << zelvor::ipChoiceName(c.choice);
    std::vector<std::string> got;
    for (const ServerEntry& server : servers) {
      const auto& sample = server.samples.at(0);
      got.push_back(sample.failure ? sample.failure : std::to_string(sample.rtt));
    }
    EXPECT_EQ(got, c.samples) << zelvor::ipChoiceName(c.choice);
  }
}

TEST_F(DllEngine, FailuresAdvanceTheCounterAndNeverCountAsSuccess) {
  service->plan(host(1), {false, 3});
  std::vector<ServerEntry> servers = {{"nothing.invalid", {}}, {host(1), {}}};
  run(servers, 3, 2);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(servers[0].samples[i].failure, zelvor::failure::badAddress);
    EXPECT_EQ(servers[1].samples[i].failure, zelvor::failure::serviceFailure);
  }
  EXPECT_FALSE(state.success.isSet());
  EXPECT_EQ(progress.fraction(), 1.0);
}

TEST_F(DllEngine, HandleThatCannotOpenIsAFailure) {
  service->failOpens();
  auto servers = numberedServers(1);
  run(servers, 2, 1);
  ASSERT_EQ(servers[0].samples.size(), 2u);
  EXPECT_EQ(servers[0].samples[0].failure, zelvor::failure::serviceFailure);
}

TEST_F(DllEngine, UnboundServiceFailsBeforeTouchingSamples) {
  auto servers = numberedServers(1);
  servers[0].samples.push_back({nullptr, 9});
  state.settings = {3, 2000};
  auto refused = platform();
  refused.bindService = []() -> std::shared_ptr<zelvor::EchoService> {
    throw kelvo::Failure(zelvor::echoServiceRefusedText);
  };
  try {
    zelvor::DllEchoEngine(state, refused).run(servers, 4);
    FAIL() << "no failure";
  } catch (const kelvo::Failure& text) {
    EXPECT_EQ(text, "Unable to setup icmp.dll");
  }
  ASSERT_EQ(servers[0].samples.size(), 1u);
  EXPECT_EQ(servers[0].samples[0].rtt, 9);
}

TEST_F(DllEngine, StopLeavesTheSamplesAndNoWorkerRunning) {
  auto servers = numberedServers(6);
  for (ServerEntry& server : servers) server.samples.push_back({nullptr, 1});
  kelvo::Event started, gate;
  service->holdEchoes(&started, &gate);
  std::thread runner([&] { run(servers, 3, 3); });
  ASSERT_TRUE(started.wait(10000));
  stop.set();
  gate.set();
  runner.join();
  // The run has returned: every worker has ended and closed its handle.
  EXPECT_EQ(service->openHandles(), 0);
  EXPECT_LE(service->echoes().size(), 3u);
  for (const ServerEntry& server : servers) {
    ASSERT_EQ(server.samples.size(), 1u);
    EXPECT_EQ(server.samples[0].rtt, 1);
  }
}

TEST_F(DllEngine, ResolvesEachDistinctHostOnceBeforeAnyEcho) {
  resolver.name("a.test", host(1));
  resolver.watch([this] { return service->echoes().size(); });
  lookupsAtOnce = 1;
  auto servers = serversOf({"a.test", host(2), "a.test", "nothing.invalid", host(2)});
  run(servers, 2, 2);
  // host(2) is an address: nothing to look up.
  EXPECT_EQ(resolver.hostsLookedUp(), (std::vector<std::string>{"a.test", "nothing.invalid"}));
  for (const auto& lookup : resolver.lookups()) EXPECT_EQ(lookup.sentBefore, 0u) << lookup.host;
  EXPECT_EQ(service->echoes().size(), 8u);
  EXPECT_EQ(servers[2].samples[1].rtt, 7);
  EXPECT_EQ(servers[3].samples[0].failure, zelvor::failure::badAddress);
  EXPECT_EQ(servers[3].samples[1].failure, zelvor::failure::badAddress);
}

TEST_F(DllEngine, StopDuringTheLookupsEchoesNothingAndLeavesTheSamples) {
  lookupsAtOnce = 1;
  resolver.setOnLookup(1, stop);
  auto servers = serversOf(resolver.numberedNames(3));
  servers[1].samples.push_back({nullptr, 5});
  run(servers, 2, 2);
  EXPECT_EQ(resolver.hostsLookedUp(), (std::vector<std::string>{"n0.test"}));
  EXPECT_TRUE(service->echoes().empty());
  ASSERT_EQ(servers[1].samples.size(), 1u);
  EXPECT_EQ(servers[1].samples[0].rtt, 5);
}

struct ProgressCase {
  const char* name;
  std::vector<std::string> hosts;
  bool failOpens;
};

void PrintTo(const ProgressCase& c, std::ostream* out) { *out << c.name; }

class DllEngineProgress : public DllEngine, public testing::WithParamInterface<ProgressCase> {};

TEST_P(DllEngineProgress, EverySampleCountsSoAFinishedRunReachesItsEnd) {
  service->plan(host(2), {false, 0});
  if (GetParam().failOpens) service->failOpens();
  auto servers = serversOf(GetParam().hosts);
  run(servers, 3, 2);
  for (const ServerEntry& server : servers) EXPECT_EQ(server.samples.size(), 3u) << server.host;
  EXPECT_EQ(progress.fraction(), 1.0);
}

INSTANTIATE_TEST_SUITE_P(
    FailureMixes, DllEngineProgress,
    testing::Values(ProgressCase{"OnlyUnresolvable", {"nothing.invalid", "nowhere.invalid"}, false},
                    ProgressCase{"OnlyFailedEchoes", {host(2)}, false},
                    ProgressCase{"NoHandles", {host(1), host(3)}, true},
                    ProgressCase{"EveryKind", {host(1), "nothing.invalid", host(2)}, false}),
    [](const auto& info) { return std::string(info.param.name); });

// The report of one whole run with its own service and `threads` workers.
std::string reportOfRun(std::uint32_t threads) {
  auto service = std::make_shared<FakeEchoService>();
  for (int i = 0; i < 5; ++i) service->plan(host(i), {i != 3, static_cast<std::uint32_t>(10 + i)});
  zelvor::test::ManualClock clock;
  zelvor::ProgressCounter progress;
  kelvo::Event stop;
  zelvor::RunState state{{3, 2000}, {}, progress, clock, stop};
  zelvor::ServerClass measured{
      "class", serversOf({host(0), host(1), "nothing.invalid", host(3), host(4), host(0)})};
  zelvor::DllEchoEngine(state, {[&] { return service; }, zelvor::test::resolveLiteral})
      .run(measured.servers, threads);
  return zelvor::formatClassReport(measured);
}

TEST(DllEngineWorkers, MoreWorkersThanServersChangeNothing) {
  const std::string asMany = reportOfRun(6);
  EXPECT_EQ(reportOfRun(7), asMany);
  // A hand-edited setting: as many threads would take the machine.
  EXPECT_EQ(reportOfRun(1000000), asMany);
  EXPECT_EQ(reportOfRun(1), asMany);
}

}  // namespace
